#include "PdfToolsTestSupport.h"

#include "PdfTestSupport.h"
#include "pdf/CombinePDF.h"

#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <fstream>
#include <iterator>
#include <set>

namespace pdftest {
namespace {

std::string Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

PDFInputFile Input(std::int32_t type, const std::filesystem::path& path, double angle = 0,
                   const std::string& password = {}) {
    PDFInputFile entry;
    entry.fileType = type;
    entry.filePath = path;
    entry.angle = angle;
    entry.password = password;
    return entry;
}

class CombinePDFTest : public PdfToolsTest {
protected:
    void SetUp() override {
        WriteTextPdf(dir / "three.pdf", {{"first page"}, {"second page"}, {"third page"}}, {.outline = true});
        convtest::WriteImage(dir / "photo.jpg", convtest::MarkedImage(144, 72, 10), "public.jpeg");
        // One line of text, then enough empty lines for a second, blank page.
        std::ofstream(dir / "notes.txt") << "Notes on the trip" << std::string(80, '\n');
    }
    CombinePDFOptions Options(std::vector<PDFInputFile> files, bool combine) {
        CombinePDFOptions options;
        options.files = std::move(files);
        options.combine = combine;
        options.destination = combine ? dir / "combined.pdf" : dir / "out";
        if (!combine) std::filesystem::create_directories(dir / "out");
        return options;
    }
};

TEST_F(CombinePDFTest, RotationAddsTheAngleWithinAFullTurn) {
    struct Case {
        int stored;
        double angle;
        int expected;
    } cases[] = {{270, 180, 90}, {0, -270, -270}, {0, 360, 0},   {90, 90, 180}, {270, 90, 0},
                 {-270, -180, -90}, {90, 45, 90},  {0, 450, 0},   {180, 0, 180}, {-90, -270, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.stored) + " + " + std::to_string(c.angle));
        WriteTextPdf(dir / "page.pdf", {{"x"}}, {.rotate = c.stored});
        auto document = plat::PdfWriter::Open(dir / "page.pdf");
        ASSERT_TRUE(document);
        RotatePDFPage(*document, 0, c.angle);
        EXPECT_EQ(document->pageRotation(0), c.expected);
    }
}

TEST_F(CombinePDFTest, OneDocumentWithAnOutlineEntryPerFile) {
    auto target = std::make_shared<RecordingTarget>();
    auto options = Options({Input(2, dir / "notes.txt"), Input(3, dir / "three.pdf", 90), Input(1, dir / "photo.jpg"),
                            Input(7, dir / "photo.jpg"), Input(3, dir / "missing.pdf")},
                           true);
    options.progress = Progress(target);
    ASSERT_EQ(CombinePDFFiles(&options), 1);
    const PdfInfo info = ReadPdfInfo(options.destination);
    EXPECT_EQ(info.pages, 5);
    EXPECT_EQ(info.rotations, (std::vector<int>{0, 90, 90, 90, 0}));
    EXPECT_EQ(OutlineTitles(options.destination),
              (std::vector<std::string>{"notes@1", "three@2", "  Chapter 1@2", "  Chapter 2@3", "  Chapter 3@4",
                                        "photo@5"}));
    const std::string text = PdfText(options.destination);
    EXPECT_LT(text.find("Notes on the trip"), text.find("first page"));
    EXPECT_TRUE(QpdfCheck(options.destination));
    EXPECT_EQ(target->values, (std::vector<std::int64_t>{3, 3, 3, 3, 3, 6, 7}));
}

TEST_F(CombinePDFTest, PasswordsAndThePrintingPermission) {
    WriteTextPdf(dir / "locked.pdf", {{"locked text"}}, {.userPassword = "open", .ownerPassword = "own"});
    WriteTextPdf(dir / "noprint.pdf", {{"no printing"}}, {.ownerPassword = "own", .allowPrinting = false});
    // One document: a wrong password or a file that forbids printing is left out.
    auto options = Options({Input(3, dir / "locked.pdf", 0, "wrong"), Input(3, dir / "noprint.pdf"),
                            Input(3, dir / "locked.pdf", 0, "open"), Input(3, dir / "noprint.pdf", 0, "own")},
                           true);
    options.writeOptions.userPassword = "new";
    ASSERT_EQ(CombinePDFFiles(&options), 1);
    EXPECT_FALSE(ReadPdfInfo(options.destination).ok);
    EXPECT_EQ(ReadPdfInfo(options.destination, "new").pages, 2);
    const std::string text = PdfText(options.destination, "new");
    EXPECT_NE(text.find("locked text"), std::string::npos);
    EXPECT_NE(text.find("no printing"), std::string::npos);

    // One file per input: a PDF that cannot be opened is copied unchanged.
    auto perFile = Options({Input(3, dir / "locked.pdf", 90, "wrong")}, false);
    ASSERT_EQ(CombinePDFFiles(&perFile), 1);
    EXPECT_EQ(Contents(dir / "out" / "locked.pdf"), Contents(dir / "locked.pdf"));
}

TEST_F(CombinePDFTest, OnePdfPerInput) {
    auto options = Options({Input(3, dir / "three.pdf", -90), Input(1, dir / "photo.jpg", 90),
                            Input(2, dir / "notes.txt")},
                           false);
    options.writeOptions.userPassword = "pw";
    options.writeOptions.keyLength = 128;
    ASSERT_EQ(CombinePDFFiles(&options), 1);
    const PdfInfo three = ReadPdfInfo(dir / "out" / "three.pdf", "pw");
    EXPECT_EQ(three.pages, 3);
    EXPECT_EQ(three.rotations, (std::vector<int>{270, 270, 270}));
    const PdfInfo photo = ReadPdfInfo(dir / "out" / "photo.pdf", "pw");
    ASSERT_EQ(photo.sizes.size(), 1u);
    EXPECT_NEAR(photo.sizes[0].first, 72, 0.6);
    EXPECT_NEAR(photo.sizes[0].second, 144, 0.6);
    // The blank second page of the document is dropped.
    EXPECT_EQ(ReadPdfInfo(dir / "out" / "notes.pdf", "pw").pages, 1);
    EXPECT_FALSE(ReadPdfInfo(dir / "out" / "notes.pdf").ok);
}

TEST_F(CombinePDFTest, CancelAndEmptyResultsWriteNothing) {
    auto target = std::make_shared<RecordingTarget>(1);
    auto options = Options({Input(3, dir / "three.pdf"), Input(1, dir / "photo.jpg")}, true);
    options.progress = Progress(target);
    EXPECT_EQ(CombinePDFFiles(&options), 0);
    EXPECT_FALSE(std::filesystem::exists(options.destination));

    std::ofstream(dir / "broken.pdf") << "%PDF-1.4 broken";
    auto nothing = Options({Input(3, dir / "broken.pdf"), Input(1, dir / "missing.jpg")}, true);
    EXPECT_EQ(CombinePDFFiles(&nothing), 0);
    EXPECT_FALSE(std::filesystem::exists(nothing.destination));

    EXPECT_EQ(CombinePDFFiles(nullptr), 0);
    auto noFiles = Options({}, true);
    EXPECT_EQ(CombinePDFFiles(&noFiles), 0);
}

TEST_F(CombinePDFTest, LoopingOutlinesAndDamagedInputsEndCleanly) {
    // An outline whose entries point back at themselves and their parent.
    {
        QPDF pdf;
        pdf.processFile((dir / "three.pdf").c_str());
        QPDFObjectHandle outlines = pdf.getRoot().getKey("/Outlines");
        QPDFObjectHandle first = outlines.getKey("/First");
        first.replaceKey("/First", first);
        first.replaceKey("/Next", first);
        first.getKey("/First").replaceKey("/Last", outlines);
        // The writer keeps the name's characters until it writes.
        const std::string name = (dir / "loop.pdf").string();
        QPDFWriter writer(pdf, name.c_str());
        writer.write();
    }
    std::ofstream(dir / "truncated.pdf") << Contents(dir / "three.pdf").substr(0, 400);
    std::filesystem::create_directory(dir / "folder.pdf");
    auto options = Options({Input(3, dir / "loop.pdf"), Input(3, dir / "truncated.pdf"), Input(3, dir / "folder.pdf"),
                            Input(2, dir / "folder.pdf"), Input(1, dir / "folder.pdf")},
                           true);
    ASSERT_EQ(CombinePDFFiles(&options), 1);
    EXPECT_GE(ReadPdfInfo(options.destination).pages, 3);
    EXPECT_TRUE(QpdfCheck(options.destination));
    EXPECT_FALSE(OutlineTitles(options.destination).empty());
}

TEST_F(CombinePDFTest, FormsOfCombinedFilesStayFilled) {
    WriteFile(dir / "alice.pdf", FormPdf("Alice"));
    WriteFile(dir / "bob.pdf", FormPdf("Bob"));
    auto options = Options({Input(3, dir / "alice.pdf"), Input(3, dir / "three.pdf"), Input(3, dir / "bob.pdf")}, true);
    ASSERT_EQ(CombinePDFFiles(&options), 1);
    EXPECT_TRUE(QpdfCheck(options.destination));
    QPDF pdf;
    pdf.processFile(options.destination.c_str());
    QPDFAcroFormDocumentHelper form(pdf);
    ASSERT_TRUE(form.hasAcroForm());
    std::set<std::string> names;
    std::multiset<std::string> values;
    for (QPDFFormFieldObjectHelper& field : form.getFormFields()) {
        names.insert(field.getFullyQualifiedName());
        values.insert(field.getValueAsString());
    }
    // Both fields were called "name": one is renamed, both keep their values.
    EXPECT_EQ(names.size(), 2u);
    EXPECT_EQ(values, (std::multiset<std::string>{"Alice", "Bob"}));
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    ASSERT_EQ(pages.size(), 5u);
    for (std::size_t page : {0u, 4u}) {
        auto widgets = form.getWidgetAnnotationsForPage(pages[page]);
        ASSERT_EQ(widgets.size(), 1u) << page;
        EXPECT_TRUE(widgets[0].getAppearanceStream("/N").isStream()) << page;
    }

    // A field that is its own kid still lets its page through.
    std::string looping = FormPdf("Loop");
    looping.replace(looping.find("/T (name)"), 9, "/Kids [3 0 R] /T (name)");
    WriteFile(dir / "loop.pdf", looping);
    auto loopOptions = Options({Input(3, dir / "loop.pdf"), Input(3, dir / "bob.pdf")}, true);
    ASSERT_EQ(CombinePDFFiles(&loopOptions), 1);
    EXPECT_EQ(ReadPdfInfo(loopOptions.destination).pages, 2);
}

TEST_F(CombinePDFTest, OutlineEntriesPointAtTheTopLeftOfTheirFirstPage) {
    WriteTextPdf(dir / "short.pdf", {{"short"}}, {.width = 300, .height = 400});
    auto options = Options({Input(3, dir / "short.pdf"), Input(3, dir / "three.pdf"), Input(1, dir / "photo.jpg")}, true);
    ASSERT_EQ(CombinePDFFiles(&options), 1);
    QPDF pdf;
    pdf.processFile(options.destination.c_str());
    std::vector<std::string> views;
    for (QPDFObjectHandle item = pdf.getRoot().getKey("/Outlines").getKey("/First"); item.isDictionary();
         item = item.getKey("/Next")) {
        QPDFObjectHandle dest = item.getKey("/Dest");
        views.push_back(dest.getArrayItem(2).unparse() + " " + dest.getArrayItem(3).unparse());
        // The chapters of three.pdf keep their own view (left and top unset).
        for (QPDFObjectHandle child = item.getKey("/First"); child.isDictionary(); child = child.getKey("/Next")) {
            QPDFObjectHandle childDest = child.getKey("/Dest");
            EXPECT_TRUE(childDest.getArrayItem(2).isNull() && childDest.getArrayItem(3).isNull())
                << childDest.unparse();
        }
    }
    EXPECT_EQ(views, (std::vector<std::string>{"0 400", "0 792", "0 72"}));
}

std::string Ref(int object) { return std::to_string(object) + " 0 R"; }

// One page with two layers, "Shown" and "Hidden", as its default view has
// them (the hidden one listed /OFF, or left out of /ON under /BaseState /OFF).
std::string LayeredPdf(const std::string& shown, const std::string& hidden, bool baseOff) {
    RawPdf pdf;
    const int font = pdf.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int visible = pdf.Add("<< /Type /OCG /Name (Shown) >>");
    const int invisible = pdf.Add("<< /Type /OCG /Name (Hidden) >>");
    const int content = pdf.AddStream("", "/OC /L1 BDC BT /F1 12 Tf 10 100 Td (" + shown + ") Tj ET EMC "
                                          "/OC /L2 BDC BT /F1 12 Tf 10 50 Td (" + hidden + ") Tj ET EMC");
    const int tree = pdf.Reserve();
    const int page = pdf.Add("<< /Type /Page /Parent " + Ref(tree) + " /MediaBox [0 0 300 200] /Contents " + Ref(content) +
                             " /Resources << /Font << /F1 " + Ref(font) + " >> /Properties << /L1 " + Ref(visible) +
                             " /L2 " + Ref(invisible) + " >> >> >>");
    pdf.Set(tree, "<< /Type /Pages /Count 1 /Kids [" + Ref(page) + "] >>");
    const std::string both = "[" + Ref(visible) + " " + Ref(invisible) + "]";
    const std::string state = baseOff ? "/BaseState /OFF /ON [" + Ref(visible) + "]" : "/OFF [" + Ref(invisible) + "]";
    return pdf.Build(pdf.Add("<< /Type /Catalog /Pages " + Ref(tree) + " /OCProperties << /OCGs " + both + " /D << " +
                             state + " /Order " + both + " >> >> >>"));
}

TEST_F(CombinePDFTest, LayersKeepTheirVisibility) {
    WriteFile(dir / "listed.pdf", LayeredPdf("alpha", "secretone", false));
    WriteFile(dir / "based.pdf", LayeredPdf("beta", "secrettwo", true));
    auto options = Options({Input(3, dir / "listed.pdf"), Input(1, dir / "photo.jpg"), Input(3, dir / "based.pdf")}, true);
    ASSERT_EQ(CombinePDFFiles(&options), 1);
    QPDF pdf;
    pdf.processFile(options.destination.c_str());
    QPDFObjectHandle layers = pdf.getRoot().getKey("/OCProperties");
    ASSERT_TRUE(layers.isDictionary());
    std::vector<std::string> all, hidden;
    std::set<QPDFObjGen> listed;
    for (auto& group : layers.getKey("/OCGs").aitems()) {
        all.push_back(group.getKey("/Name").getUTF8Value());
        listed.insert(group.getObjGen());
    }
    for (auto& group : layers.getKey("/D").getKey("/OFF").aitems()) hidden.push_back(group.getKey("/Name").getUTF8Value());
    EXPECT_EQ(all, (std::vector<std::string>{"Shown", "Hidden", "Shown", "Hidden"}));
    EXPECT_EQ(hidden, (std::vector<std::string>{"Hidden", "Hidden"}));
    EXPECT_EQ(layers.getKey("/D").getKey("/Order").getArrayNItems(), 4);
    // The groups the pages' content names are the ones listed.
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        QPDFObjectHandle properties = page.getAttribute("/Resources", false).getKey("/Properties");
        if (!properties.isDictionary()) continue;
        for (auto& [name, group] : properties.ditems()) EXPECT_TRUE(listed.count(group.getObjGen())) << name;
    }
    if (HaveTool("pdftotext")) {
        const std::string text = PdfText(options.destination);
        EXPECT_NE(text.find("alpha"), std::string::npos);
        EXPECT_NE(text.find("beta"), std::string::npos);
        EXPECT_EQ(text.find("secret"), std::string::npos) << text;
    }
}

// Bookmarks copied from a file keep where and how they show their page;
// only the file's own entry is made anew.
TEST_F(CombinePDFTest, CopiedBookmarksKeepTheirView) {
    const std::vector<std::string> views = {"/Fit", "/XYZ 10 20 2", "/FitR 1 2.5 30 40", "/FitH 50", "/FitBV null",
                                            "/XYZ null 120 0"};
    const int n = int(views.size());
    RawPdf raw;
    const int tree = raw.Reserve(), outlines = raw.Reserve(), item = raw.Reserve();  // entries item to item + n - 1
    for (int i = 1; i < n; ++i) raw.Reserve();
    const std::string pageBody = "<< /Type /Page /Parent " + Ref(tree) + " /MediaBox [0 0 200 300] >>";
    const int first = raw.Add(pageBody), second = raw.Add(pageBody);
    raw.Set(tree, "<< /Type /Pages /Count 2 /Kids [" + Ref(first) + " " + Ref(second) + "] >>");
    for (int i = 0; i < n; ++i)
        raw.Set(item + i, "<< /Title (v" + std::to_string(i) + ") /Parent " + Ref(outlines) + " /Dest [" +
                              Ref(i % 2 ? second : first) + " " + views[i] + "]" +
                              (i + 1 < n ? " /Next " + Ref(item + i + 1) : "") + " >>");
    raw.Set(outlines, "<< /Type /Outlines /First " + Ref(item) + " /Last " + Ref(item + n - 1) + " /Count " +
                          std::to_string(n) + " >>");
    WriteFile(dir / "views.pdf", raw.Build(raw.Add("<< /Type /Catalog /Pages " + Ref(tree) + " /Outlines " + Ref(outlines) + " >>")));
    auto options = Options({Input(1, dir / "photo.jpg"), Input(3, dir / "views.pdf")}, true);
    ASSERT_EQ(CombinePDFFiles(&options), 1);
    QPDF pdf;
    pdf.processFile(options.destination.c_str());
    const auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
    ASSERT_EQ(pages.size(), 3u);
    QPDFObjectHandle entry = pdf.getRoot().getKey("/Outlines").getKey("/First").getKey("/Next");
    ASSERT_TRUE(entry.isDictionary());
    EXPECT_EQ(entry.getKey("/Dest").getArrayItem(1).getName(), "/XYZ");
    std::size_t i = 0;
    for (QPDFObjectHandle child = entry.getKey("/First"); child.isDictionary(); child = child.getKey("/Next"), ++i) {
        ASSERT_LT(i, views.size());
        QPDFObjectHandle dest = child.getKey("/Dest");
        std::string view;
        for (int k = 1; k < dest.getArrayNItems(); ++k) view += (k > 1 ? " " : "") + dest.getArrayItem(k).unparse();
        EXPECT_EQ(view, views[i]);
        EXPECT_EQ(dest.getArrayItem(0).getObjGen(), pages[i % 2 ? 2 : 1].getObjectHandle().getObjGen()) << views[i];
    }
    EXPECT_EQ(i, views.size());
}

}  // namespace
}  // namespace pdftest
