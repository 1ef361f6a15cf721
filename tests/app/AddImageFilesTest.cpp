// Adding files: the input filter, folder expansion and name order.
#include "ImageListTestSupport.h"
#include "app/model/AddImageFiles.h"

#include "app/ui/WatermarkControls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <fstream>

using namespace listtest;

namespace {

class AddImageFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plat::Initialize(); }

    std::filesystem::path textFile(const std::string& name, const std::string& text) {
        std::ofstream(dir / name) << text;
        return dir / name;
    }
    std::filesystem::path copyAs(const std::filesystem::path& from, const std::string& name) {
        std::filesystem::copy_file(from, dir / name);
        return dir / name;
    }

    ScratchDir dir;
};

std::vector<std::string> Names(const std::vector<AddFileRecord>& records, const std::filesystem::path& base) {
    std::vector<std::string> names;
    for (const AddFileRecord& record : records) names.push_back(record.fileURL.lexically_relative(base).string());
    return names;
}

}  // namespace

TEST_F(AddImageFiles, InputFilterCases) {
    const auto png = WritePhoto(dir / "photo.png", 40, 30, "public.png");
    convtest::ScratchDir pdfDir;
    // A one-page PDF made by hand.
    const std::string pdf =
        "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
        "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 72 72]>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n";
    textFile("real.Pdf", pdf);
    textFile("doc.PDF", pdf);
    struct Case {
        std::filesystem::path path;
        int accepted;
    } cases[] = {
        {textFile("x.jpg", ""), 0},                      // empty, even with a listed extension
        {dir / "missing.png", 0},                        // no attributes
        {dir / "doc.PDF", 0},                            // excluded extension
        {textFile("photo.EPS", "%!PS-Adobe-3.0 EPSF-3.0\n"), 0},
        {textFile("photo.eps", "%!PS-Adobe-3.0 EPSF-3.0\n"), 0},
        {textFile("notes.txt", "hello"), 0},
        {textFile("table.csv", "1,2,3\n4,5,6\n7,8,9\n"), 0},  // a loader could read it as pixels: not an image
        {textFile("matrix", "3 3\n1 2 3\n4 5 6\n7 8 9\n"), 0},
        {textFile("readme", "plain text without extension\n"), 0},
        {png, 1},
        {copyAs(png, "noextension"), 1},                 // opened by its contents
        {copyAs(png, "scan[shrink=2]"), 1},              // brackets are part of the name
        {copyAs(png, "photo.PNG"), 1},
        {textFile("fake.jpg", "not a jpeg but listed"), 1},  // a listed extension is trusted
    };
    for (const Case& c : cases) EXPECT_EQ(IsSupportedImageFile(c.path), c.accepted) << c.path;

    // The PDF's case falls through to opening it: the result is the engine's.
    const int realPdf = IsSupportedImageFile(dir / "real.Pdf");
    EXPECT_TRUE(realPdf == 0 || realPdf == 1);
    EXPECT_EQ(GetExcludedTypesList().size(), 27u);
    EXPECT_EQ(GetExcludedTypesList().front(), "'PDF '");
    EXPECT_FALSE(GetImageTypesList().empty());
}

// The watermark image chooser offers the listed extensions, each once, and
// no pattern made of a type code.
TEST_F(AddImageFiles, ImageTypePatternsComeFromTheListedExtensions) {
    const std::vector<std::string> patterns = ImageTypePatterns();
    for (const char* expected : {"*.jpg", "*.JPG", "*.png", "*.tif", "*.gif"}) {
        EXPECT_NE(std::find(patterns.begin(), patterns.end(), expected), patterns.end()) << expected;
    }
    for (const std::string& pattern : patterns) {
        EXPECT_EQ(pattern.rfind("*.", 0), 0u) << pattern;
        EXPECT_EQ(pattern.find('\''), std::string::npos) << pattern;
        EXPECT_EQ(std::count(patterns.begin(), patterns.end(), pattern), 1) << pattern;
    }
    const QString filter = WatermarkControls::ImageFilesNameFilter();
    EXPECT_TRUE(filter.startsWith("Image files (*.")) << filter.toStdString();
}

TEST_F(AddImageFiles, FoldersWithAndWithoutSubfolders) {
    const auto root = dir / "shoot";
    std::filesystem::create_directories(root / "day2" / "raw");
    std::filesystem::create_directories(root / ".cache");
    WritePhoto(root / "a.jpg", 20, 20);
    WritePhoto(root / ".hidden.jpg", 20, 20);
    WritePhoto(root / "day2" / "b.jpg", 20, 20);
    WritePhoto(root / "day2" / "raw" / "c.png", 20, 20, "public.png");
    WritePhoto(root / ".cache" / "d.jpg", 20, 20);
    std::ofstream(root / "notes.txt") << "x";
    std::filesystem::create_directory_symlink(root, root / "day2" / "loop");
    const auto single = WritePhoto(dir / "single.jpg", 20, 20);

    {
        AddRequestState state;
        auto records = CollectFilesForAdding({root, single}, false, state);
        SortAddRecords(records, true);
        EXPECT_EQ(Names(records, dir.path()), (std::vector<std::string>{"shoot/a.jpg", "single.jpg"}));
        EXPECT_EQ(records[0].folderURL, root);
        EXPECT_TRUE(records[1].folderURL.empty());
        // Files looked at: a.jpg, notes.txt and single.jpg; the counter starts at 0.
        EXPECT_EQ(state.numOfFilesForConversion.load(), 3);
    }
    {
        AddRequestState state;
        auto records = CollectFilesForAdding({root}, true, state);
        std::sort(records.begin(), records.end(),
                  [](const auto& a, const auto& b) { return a.fileURL < b.fileURL; });
        EXPECT_EQ(Names(records, dir.path()),
                  (std::vector<std::string>{"shoot/a.jpg", "shoot/day2/b.jpg", "shoot/day2/raw/c.png"}));
        for (const auto& record : records) EXPECT_EQ(record.folderURL, root);
    }
    {
        AddRequestState state;
        state.cancelled = true;
        EXPECT_TRUE(CollectFilesForAdding({root, single}, true, state).empty());
    }
    AddRequestState state;
    EXPECT_TRUE(CollectFilesForAdding({dir / "nowhere"}, true, state).empty());
}

TEST_F(AddImageFiles, NameOrderIsNumericAndCaseInsensitiveInEveryLocale) {
    const char* locales[] = {"C", "C.UTF-8", "tr_TR.UTF-8", "sv_SE.UTF-8"};
    for (const char* locale : locales) {
        setenv("LANG", locale, 1);
        setenv("LC_ALL", locale, 1);
        std::setlocale(LC_ALL, "");
        std::vector<AddFileRecord> records = {{"/p/b10.png", {}}, {"/p/b9.png", {}}, {"/p/B1.png", {}},
                                              {"/p/", {}},        {"/p/Ib2.png", {}}, {"/p/ib10.png", {}}};
        SortAddRecords(records, true);
        EXPECT_EQ(Names(records, "/p"),
                  (std::vector<std::string>{"B1.png", "b9.png", "b10.png", "Ib2.png", "ib10.png", "."}))
            << locale;
        SortAddRecords(records, false);
        EXPECT_EQ(Names(records, "/p"),
                  (std::vector<std::string>{"ib10.png", "Ib2.png", "b10.png", "b9.png", "B1.png", "."}))
            << locale;
    }
    unsetenv("LC_ALL");
    std::setlocale(LC_ALL, "C");
}
