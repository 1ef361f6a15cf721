// Attachments encrypted on their own, page trees that loop or nest without end, and damaged copies:
// extraction, combining and text extraction process the pages that exist and fail cleanly otherwise.

#include "PdfTestSupport.h"
#include "PdfToolsTestSupport.h"

#include "pdf/CombinePDF.h"
#include "pdf/PDFImageExtractor.h"
#include "pdf/PDFToText.h"
#include "platform/PdfObject.h"
#include "platform/QpdfInput.h"

#include <random>

namespace pdftest {
namespace {

namespace fs = std::filesystem;

std::string Ref(int object) { return std::to_string(object) + " 0 R"; }

// A page showing `label` in Helvetica and one inline grey image.
std::string PageBody(RawPdf& pdf, int parent, const std::string& label, int grey, const std::string& extra = {}) {
    return "<< /Type /Page /Parent " + Ref(parent) + " /MediaBox [0 0 200 200] /Contents " +
           Ref(pdf.AddStream("", "BT /F1 12 Tf 20 100 Td (" + label + ") Tj ET q 10 0 0 10 20 20 cm BI /W 1 /H 1 /CS /G /BPC 8 ID " +
                                     std::string(1, char(grey)) + " EI Q")) +
           " /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>" + extra + " >>";
}

// Two pages; the encryption dictionary protects the embedded file only
// (strings and streams use the Identity filter), with a user password.
std::string AttachmentsOnlyEncrypted() {
    RawPdf pdf;
    const int tree = pdf.Reserve();
    // Stands for AES-encrypted bytes: nobody can read them without the password.
    const int file = pdf.AddStream("/Type /EmbeddedFile", std::string("\x13\x9A\x7F\x01 sealed attachment \x80\xFE", 24));
    const int spec = pdf.Add("<< /Type /Filespec /F (notes.txt) /EF << /F " + Ref(file) + " >> >>"), pin = pdf.Reserve();
    const int first = pdf.Add(PageBody(pdf, tree, "guarded one", 40, " /Annots [" + Ref(pin) + "]"));
    pdf.Set(pin, "<< /Type /Annot /Subtype /FileAttachment /Rect [0 0 10 10] /FS " + Ref(spec) + " /P " + Ref(first) + " >>");
    const int second = pdf.Add(PageBody(pdf, tree, "guarded two", 80));
    pdf.Set(tree, "<< /Type /Pages /Count 2 /Kids [" + Ref(first) + " " + Ref(second) + "] >>");
    // An (empty) form too: its pages' annotations are copied with the fields.
    const int catalog = pdf.Add("<< /Type /Catalog /Pages " + Ref(tree) + " /AcroForm << /Fields [] >> "
                                "/Names << /EmbeddedFiles << /Names [(notes.txt) " + Ref(spec) + "] >> >> >>");
    const std::string id = "0123456789abcdef";
    std::string o, u;
    QPDF::compute_encryption_O_U("user", "owner", 4, 4, 16, -4, true, id, o, u);
    const int encrypt = pdf.Add("<< /Filter /Standard /V 4 /R 4 /Length 128 /P -4 /O <" + AsciiHex(o) + " /U <" + AsciiHex(u) +
                                " /CF << /StdCF << /CFM /AESV2 /AuthEvent /EFOpen /Length 16 >> >> /StmF /Identity "
                                "/StrF /Identity /EFF /StdCF >>");
    std::string bytes = pdf.Build(catalog);
    const std::string trailerEnd = " >>\nstartxref";
    bytes.replace(bytes.rfind(trailerEnd), trailerEnd.size(),
                  " /Encrypt " + Ref(encrypt) + " /ID [<" + AsciiHex(id) + "<" + AsciiHex(id) + "]" + trailerEnd);
    return bytes;
}

// Root -> [page one, node B]; B -> [page two, root]: the tree leads back to its root.
std::string LoopingPageTree() {
    RawPdf pdf;
    const int root = pdf.Reserve(), inner = pdf.Reserve();
    const int first = pdf.Add(PageBody(pdf, root, "looped one", 40)), second = pdf.Add(PageBody(pdf, inner, "looped two", 80));
    pdf.Set(root, "<< /Type /Pages /Count 2 /Kids [" + Ref(first) + " " + Ref(inner) + "] >>");
    pdf.Set(inner, "<< /Type /Pages /Parent " + Ref(root) + " /Count 1 /Kids [" + Ref(second) + " " + Ref(root) + "] >>");
    return pdf.Build(pdf.Add("<< /Type /Catalog /Pages " + Ref(root) + " >>"));
}

// One page under `levels` page-tree nodes, each the only kid of the one above.
std::string DeepPageTree(int levels) {
    RawPdf pdf;
    const int top = pdf.Reserve();
    int parent = top;
    for (int level = 1, node; level < levels; ++level, parent = node)
        pdf.Set(parent, "<< /Type /Pages /Count 1 /Kids [" + Ref(node = pdf.Reserve()) + "] >>");
    pdf.Set(parent, "<< /Type /Pages /Count 1 /Kids [" + Ref(pdf.Add(PageBody(pdf, parent, "deep", 40))) + "] >>");
    return pdf.Build(pdf.Add("<< /Type /Catalog /Pages " + Ref(top) + " >>"));
}

class DocumentStructure : public PdfToolsTest {
protected:
    fs::path Source(const std::string& name, const std::string& bytes) {
        return WriteFile(dir / (name + ".pdf"), bytes), dir / (name + ".pdf");
    }
    fs::path Folder(const std::string& name) { return fs::remove_all(dir / name), fs::create_directories(dir / name), dir / name; }

    int CombineInto(const fs::path& source, const fs::path& destination, bool combine, double angle = 0) {
        CombinePDFOptions options;
        options.files.push_back({.fileType = 3, .filePath = source, .angle = angle, .password = {}});
        options.combine = combine, options.destination = destination;
        return CombinePDFFiles(&options);
    }

    // The text tool, joined mode; -1 when it throws (the file does not open).
    int ExtractText(const fs::path& source, const fs::path& out) {
        PDFTextConversion c;
        c.sourceURL = source, c.destinationFolder = out, c.documentType = kPDFTextUTF8, c.extension = "txt";
        try { return ConvertPDFToTextDocument(&c); } catch (int) { return -1; }
    }
};

// Poppler, extraction, combining and the text tool read both pages, each with its word and its image.
TEST_F(DocumentStructure, EncryptedAttachmentsAndLoopingPageTreesKeepThePagesThatExist) {
    for (const auto& [label, bytes] : {std::pair<std::string, std::string>{"guarded", AttachmentsOnlyEncrypted()},
                                       {"looped", LoopingPageTree()}}) {
        SCOPED_TRACE(label);
        const fs::path source = Source(label, bytes);
        ASSERT_EQ(ReadPdfInfo(source).pages, 2) << "poppler opens the file";
        const fs::path images = Folder("images"), combined = dir / "combined.pdf", perFile = Folder("perFile");
        EXPECT_EQ(ExtractPngImages(source, images), 1);
        EXPECT_EQ(FileNames(images).size(), 2u);
        ASSERT_EQ(CombineInto(source, combined, true), 1);
        EXPECT_EQ(ReadPdfInfo(combined).pages, 2);
        EXPECT_TRUE(QpdfCheck(combined));
        for (const char* page : {" one", " two"}) EXPECT_NE(PdfText(combined).find(label + page), std::string::npos);
        EXPECT_EQ(ExtractText(source, Folder("text")), 1);
        ASSERT_EQ(CombineInto(source, perFile, false, 90), 1);
        const fs::path copy = perFile / (label + ".pdf");
        if (label == "guarded") {
            // The undecryptable attachment is not carried into the result; alone, the file is copied as it is.
            EXPECT_EQ(Bytes(ReadFile(combined)).find("FileAttachment"), std::string::npos);
            EXPECT_EQ(ReadFile(copy), ReadFile(source));
        } else {
            EXPECT_EQ(ReadPdfInfo(copy).rotations, (std::vector<int>{90, 90}));
            EXPECT_TRUE(QpdfCheck(copy));
        }
    }
}

// A tree too deep fails cleanly in every tool (pages to images included); one just within the bound is read whole.
TEST_F(DocumentStructure, DeepPageTreesFailCleanly) {
    for (const auto& [levels, readable] : {std::pair{100000, false}, {300, false}, {200, true}}) {
        SCOPED_TRACE(levels);
        const fs::path source = Source("deep", DeepPageTree(levels)), images = Folder("images"), combined = dir / "combined.pdf";
        fs::remove(combined);
        EXPECT_EQ(ExtractPngImages(source, images), readable ? 1 : 0);
        EXPECT_EQ(FileNames(images).size(), readable ? 1u : 0u);
        const fs::path pages = Folder("pages"), text = Folder("text");
        EXPECT_EQ(RenderPngPages(source, pages), readable ? 1 : 0);
        EXPECT_EQ(FileNames(pages).size(), readable ? 1u : 0u);
        EXPECT_EQ(ExtractText(source, text), readable ? 1 : -1);
        EXPECT_EQ(FileNames(text).size(), readable ? 1u : 0u);
        EXPECT_EQ(CombineInto(source, combined, true), readable ? 1 : 0);
        EXPECT_EQ(fs::exists(combined) ? ReadPdfInfo(combined).pages : -1, readable ? 1 : -1);
    }
}

// Nodes listed twice at every level would make 2^40 pages: subtrees listed again are walked again only up to a
// bound, and every tool ends.
TEST_F(DocumentStructure, SubtreesListedAgainAtEveryLevelStayBounded) {
    RawPdf pdf;
    const int top = pdf.Reserve();
    int parent = top;
    for (int level = 1, node; level < 40; ++level, parent = node) {
        node = pdf.Reserve();
        pdf.Set(parent, "<< /Type /Pages /Count 2 /Kids [" + Ref(node) + " " + Ref(node) + "] >>");
    }
    pdf.Set(parent, "<< /Type /Pages /Count 1 /Kids [" + Ref(pdf.Add(PageBody(pdf, parent, "shared", 40))) + "] >>");
    const std::string bytes = pdf.Build(pdf.Add("<< /Type /Catalog /Pages " + Ref(top) + " >>"));
    const auto objects = plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(bytes.begin(), bytes.end()));
    ASSERT_TRUE(objects);
    EXPECT_GT(objects->GetPageCount(), 1);
    EXPECT_LE(objects->GetPageCount(), int(plat::kMaxPdfPageTreeVisits));
    const fs::path source = Source("shared", bytes), combined = dir / "combined.pdf";
    ASSERT_EQ(CombineInto(source, combined, true), 1);
    EXPECT_EQ(ReadPdfInfo(combined).pages, objects->GetPageCount());
}

// Truncated and byte-flipped copies: each tool ends, and a failed run leaves no output, a successful one some.
TEST_F(DocumentStructure, DamagedCopiesEndCleanly) {
    const std::vector<std::string> originals = {AttachmentsOnlyEncrypted(), LoopingPageTree(), DeepPageTree(300),
                                                FormPdf("Alice")};
    std::mt19937 random(7);
    int copies = 0;
    for (const std::string& original : originals) {
        std::vector<std::string> damaged;
        for (double cut : {0.2, 0.5, 0.8, 0.95}) damaged.push_back(original.substr(0, std::size_t(original.size() * cut)));
        for (int flips = 0; flips < 6; ++flips) {
            damaged.push_back(original);
            for (int i = 0; i < 1 + flips * 3; ++i) damaged.back()[random() % original.size()] = char(random());
        }
        for (const std::string& bytes : damaged) {
            SCOPED_TRACE("copy " + std::to_string(++copies));
            const fs::path source = Source("damaged", bytes), images = Folder("images"), combined = dir / "combined.pdf";
            // On failure, only images already written whole may stay.
            if (ExtractPngImages(source, images) == 0) {
                for (const auto& entry : fs::directory_iterator(images)) EXPECT_GT(fs::file_size(entry), 0u);
            }
            fs::remove(combined);
            // Damaged objects of the input may come along; the combined file itself is whole.
            const int combinedResult = CombineInto(source, combined, true);
            EXPECT_EQ(!fs::exists(combined) ? 0 : ReadPdfInfo(combined).pages >= 1 ? 1 : -1, combinedResult);
            const fs::path perFile = Folder("perFile"), text = Folder("text");
            EXPECT_EQ(CombineInto(source, perFile, false, 90), 1);
            EXPECT_EQ(FileNames(perFile).size(), 1u);
            EXPECT_EQ(FileNames(text).size(), ExtractText(source, text) == 1 ? 1u : 0u);
        }
    }
}

}  // namespace
}  // namespace pdftest
