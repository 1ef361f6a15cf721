// File names that are not UTF-8 through the window: added from the command
// line and dropped as a GLib file manager sends them, on the list and on the
// big view, then converted with their own bytes in every output name and
// named in the report. Real list, real naming, real files.
#include "ByteNamesTestSupport.h"
#include "ImageListTestSupport.h"
#include "app/model/JobOptionsModel.h"
#include "app/model/LocalFileURL.h"
#include "app/ui/AddFilesDialog.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/DragOut.h"
#include "app/ui/ImageListTableView.h"
#include "app/ui/MainWindow.h"
#include "engine/ImageTypes.h"
#include "platform/OperationQueue.h"

#include <QMimeData>

#include <gtest/gtest.h>

#include <fstream>
#include <set>

using namespace listtest;
using bytenames::Escaped;

namespace {

namespace fs = std::filesystem;

// A drag source that quits at the drop: it still lists its formats but no
// longer answers for the data.
struct VanishingSource : QMimeData {
    bool gone = false;
    QVariant retrieveData(const QString& type, QMetaType meta) const override {
        return gone ? QVariant() : QMimeData::retrieveData(type, meta);
    }
};

class ByteNamesWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plat::Initialize(); }
    void SetUp() override {
        TestApplication();
        StringTable::set({{"ConversionStatusMessage", "%ld file%@ converted."},
                          {"ConversionFailedMessage", "%ld file%@ could not be converted: %@"}});
        delegate = std::make_unique<AppDelegate>();
        delegate->applicationDidFinishLaunching();
        delegate->window()->resize(1200, 760);
        delegate->window()->show();
        model = delegate->imageListModel();
        BatchSeams& seams = delegate->batchSeams();
        seams.storedDestination = [this] { return destination; };
        seams.openFolder = [this](const fs::path& folder) { opened.push_back(folder); };
        SetCustomAlertResponder([this](const CustomAlert& alert) {
            reports.push_back(alert.title() + "|" + alert.message());
            return kAlertAlternateReturn;  // Open Destination
        });
    }
    void TearDown() override {
        delegate.reset();
        SetCustomAlertResponder(nullptr);
        GetThumbnailQueue().waitUntilAllOperationsAreFinished();
    }

    // Every byte-named photo in a folder of its own.
    std::vector<fs::path> Photos(const fs::path& folder) {
        fs::create_directories(folder);
        std::vector<fs::path> photos;
        for (const std::string& name : bytenames::Names(".jpg")) photos.push_back(WritePhoto(folder / name, 40, 30));
        return photos;
    }
    // Drops the paths as a GLib file manager sends them; `atDrop` runs as it lands.
    static void Drop(QWidget* target, const std::vector<fs::path>& paths, QMimeData* data = nullptr,
                     const std::function<void()>& atDrop = {}) {
        QMimeData plain;
        if (!data) data = &plain;
        data->setData(QStringLiteral("text/uri-list"), QByteArray::fromStdString(bytenames::GLibURIList(paths)));
        DragOnto(target, data, target->rect().center(), atDrop);
    }
    // Picks the folder's row in the Add dialog and adds what it answers.
    void AddThroughDialog(const fs::path& folder) {
        AddFilesDialog dialog(delegate->window());
        dialog.setDirectory(QString::fromStdString(folder.parent_path().native()));
        dialog.show();
        // The folder's listing arrives from a worker thread.
        ASSERT_TRUE(WaitFor([&] {
            dialog.selectNames({QString::fromStdString(folder.filename().native())});
            return dialog.selectedURLs().size() == 1;
        }));
        EXPECT_EQ(dialog.selectedURLs(), std::vector<fs::path>{folder});
        delegate->AddUrlsIntoImageListViewAtEnd(dialog.selectedURLs(), false);
    }

    ScratchDir dir;
    std::unique_ptr<AppDelegate> delegate;
    ImageListModel* model = nullptr;
    fs::path destination;
    std::vector<fs::path> opened;
    std::vector<QString> reports;
};

TEST_F(ByteNamesWindow, EveryDoorAddsTheFilesUnderTheirOwnBytes) {
    struct Door {
        const char* what;
        std::function<void(const std::vector<fs::path>&)> add;
    };
    ImageListTableView* list = delegate->window()->imageListViewOutlet;
    KSMImageView* view = delegate->window()->mainImagePreview;
    const Door doors[] = {
        {"the command line", [&](const auto& paths) { delegate->applicationOpenFiles(paths); }},
        {"a drop on the list", [&](const auto& paths) { Drop(list->viewport(), paths); }},
        {"a drop on the big view", [&](const auto& paths) { Drop(view, paths); }},
        {"a drop on the list whose source quits at the drop",
         [&](const auto& paths) {
             VanishingSource data;
             Drop(list->viewport(), paths, &data, [&] { data.gone = true; });
         }},
        {"their folder picked in the Add dialog", [&](const auto& paths) { AddThroughDialog(paths.front().parent_path()); }},
        {"a byte-named folder dropped on the big view", [&](const auto& paths) { Drop(view, {paths.front().parent_path()}); }},
    };
    std::set<fs::path> expected;
    int index = 0;
    for (const Door& door : doors) {
        SCOPED_TRACE(door.what);
        // Qt's file views show no name that is not UTF-8: the dialog picks
        // the folder that holds them, and the folder's name is.
        const bool dialog = std::string_view(door.what).find("Add dialog") != std::string_view::npos;
        const std::vector<fs::path> photos = Photos(dir / ("door" + std::to_string(index++) + (dialog ? "" : "\xe9\xff")));
        expected.insert(photos.begin(), photos.end());
        door.add(photos);
        ASSERT_TRUE(WaitFor([&] { return model->count() == int(expected.size()) && !model->isAdding(); }))
            << model->count() << " of " << expected.size();
        std::set<fs::path> listed;
        for (const auto& entity : model->entries()) listed.insert(entity->GetFileURL());
        EXPECT_EQ(listed, expected);
    }
}

// A destination folder dropped on the preferences' box, or read back from
// the stored file URL, is the folder of those bytes.
TEST_F(ByteNamesWindow, ADestinationFolderKeepsItsBytes) {
    for (const bytenames::ByteName& name : bytenames::Stems()) {
        SCOPED_TRACE(name.what);
        const fs::path folder = dir / ("out " + name.stem);
        fs::create_directories(folder);
        Drop(delegate->window()->destinationPathViewCntr, {folder});
        EXPECT_EQ(delegate->destinationURL(), folder);
        delegate->SetDestinationURL({});
        EXPECT_EQ(delegate->destinationURL(), fs::path());
        delegate->SetDestinationURLData(FileURIForPath(folder));
        EXPECT_EQ(delegate->destinationURL(), folder);
    }
}

// Converted by a run or for rows dragged out, every file is named with its
// source's own bytes.
TEST_F(ByteNamesWindow, ConvertedFilesCarryTheSourcesOwnBytes) {
    const std::vector<fs::path> photos = Photos(dir / "in");
    // Listed (the extension is an image's) but not an image: the report names it.
    const fs::path broken = dir / "in" / "bad\xe9.jpg";
    std::ofstream(broken) << "not a photo";
    std::vector<fs::path> sources = photos;
    sources.push_back(broken);
    destination = dir / "out\xe9";
    fs::create_directories(destination);
    delegate->applicationOpenFiles(sources);
    ASSERT_TRUE(WaitFor([&] { return model->count() == int(sources.size()) && !model->isAdding(); }));
    JobOptionState state = delegate->jobOptions()->state();
    state.outputType = kImageTypePNG;
    delegate->jobOptions()->setState(state);

    // The photos' rows dragged out onto a target that takes files: the URI
    // list names the converted files.
    std::vector<int> rows;
    for (int row = 0; row < model->count(); ++row) {
        if (model->entries()[row]->GetFileURL() != broken) rows.push_back(row);
    }
    std::unique_ptr<DragOutMimeData> data(delegate->dragOutController().beginDrag(rows, delegate->window()));
    ASSERT_TRUE(data);
    std::set<std::string> listed, expected;
    for (const fs::path& file : PathsFromURIList(data->data(QStringLiteral("text/uri-list")).toStdString())) {
        EXPECT_EQ(convtest::Decode(file).type, "public.png") << Escaped(file.native());
        listed.insert(file.filename().native());
    }
    for (const fs::path& photo : photos) expected.insert(photo.stem().native() + ".png");
    EXPECT_EQ(listed, expected);
    data->dropped(true);
    data.reset();
    ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning(); }));

    // Runs: plain names (those just listed), the same again (made unique),
    // then renamed around the source's name.
    state.renameTag = kRenamePrefixSuffix;
    state.numberPosition = kNumberAfterName;
    state.zeroPaddingText = "0";
    state.startDigitText = "7";
    struct Run {
        const char* what;
        bool rename;
        std::string prefix, suffix;
    };
    const Run runs[] = {
        {"plain", false, "", ""},
        {"unique", false, "", " 1"},
        {"renamed", true, "\xc3\xa9t\xc3\xa9 ", "_b"},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.what);
        state.groupOn[kRenameGroup] = run.rename;
        state.fileNameText = QString::fromStdString(run.prefix);
        state.suffixText = QString::fromStdString(run.suffix);
        delegate->jobOptions()->setState(state);
        reports.clear();
        opened.clear();
        delegate->ConvertAllButtonAction(nullptr);
        ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning(); }));
        // Every run adds its own names (numbered in list order, the broken
        // file's number used too) and nothing else.
        std::size_t number = 7;
        for (const auto& entity : model->entries()) {
            const std::string stem = entity->GetFileURL().stem().native();
            const std::string name =
                (run.rename ? run.prefix + stem + run.suffix + std::to_string(number++) : stem + run.suffix) + ".png";
            if (entity->GetFileURL() == broken) continue;
            expected.insert(name);
            EXPECT_EQ(convtest::Decode(destination / name).type, "public.png") << Escaped(name);
        }
        std::set<std::string> written;
        for (const auto& entry : fs::directory_iterator(destination)) written.insert(entry.path().filename().native());
        EXPECT_EQ(written, expected);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0], QString::fromUtf8("10 files converted.|1 file could not be converted: bad\xef\xbf\xbd.jpg"));
        EXPECT_EQ(opened, std::vector<fs::path>{destination});
    }
}

}  // namespace
