// Paths picked in Qt's file views, found again by their bytes.
#include "ByteNamesTestSupport.h"
#include "app/model/ShownPaths.h"
#include "platform/ScratchFolder.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using bytenames::Escaped;

QString Shown(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.native())); }

std::vector<fs::path> Sorted(std::vector<fs::path> paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(ShownPaths, EveryByteNameIsFoundAgain) {
    ScratchFolder folder;
    const fs::path nested = folder / "\xff folder\xe9";
    fs::create_directory(nested);
    // Each in a folder of its own: some of them read the same.
    int index = 0;
    for (const std::string& name : bytenames::Names(".png")) {
        SCOPED_TRACE(Escaped(name));
        const fs::path file = nested / std::to_string(index++) / name;
        fs::create_directory(file.parent_path());
        std::ofstream(file) << "x";
        EXPECT_EQ(PathsShownAs(Shown(file)), std::vector<fs::path>{file});
        EXPECT_EQ(PathShownAs(Shown(file)), file);
    }
}

TEST(ShownPaths, NamesThatReadTheSame) {
    ScratchFolder folder;
    const fs::path e9 = folder / "caf\xe9.png";
    const fs::path e8 = folder / "caf\xe8.png";
    const fs::path literal = folder / "caf\xef\xbf\xbd.png";  // a real U+FFFD in the name
    for (const fs::path& path : {e9, e8, literal}) std::ofstream(path) << "x";
    fs::create_directory(folder / "sub\xe9");
    fs::create_directory(folder / "sub\xe8");
    std::ofstream(folder / "sub\xe8" / "x.png") << "x";

    struct Case {
        const char* what;
        QString shown;
        std::vector<fs::path> all;
        fs::path one;
    };
    const Case cases[] = {
        {"three files shown as one", Shown(e9), Sorted({e9, e8, literal}), {}},
        {"only one of two folders holds the file", Shown(folder / "sub\xe9" / "x.png"),
         {folder / "sub\xe8" / "x.png"}, folder / "sub\xe8" / "x.png"},
        {"valid UTF-8 is taken as written", Shown(folder / "sub\xe9"), Sorted({folder / "sub\xe9", folder / "sub\xe8"}), {}},
        {"nothing of that name", Shown(folder / "gone\xe9.png"), {}, {}},
        {"a relative path", QStringLiteral("caf.png"), {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Sorted(PathsShownAs(c.shown)), c.all);
        EXPECT_EQ(PathShownAs(c.shown), c.one);
    }
    EXPECT_EQ(PathsShownAs(Shown(e9), 2).size(), 2u) << "bounded";
}

}  // namespace
