#include "pdf/TextDocumentWriters.h"

#include "common/KSMUtil.h"
#include "pdf/OfficeConverter.h"
#include "platform/FileManager.h"

#include <zip.h>

#include <QStringList>

#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace {

using plat::FileManager;

bool CreateFile(const std::filesystem::path& url, const QByteArray& bytes) {
    return FileManager::createFile(url, std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

// Characters XML 1.0 cannot carry (most control characters, unpaired
// surrogates, U+FFFE and U+FFFF) are dropped.
bool IsXMLCharacter(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

QString EscapeXML(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (char32_t c : text.toUcs4()) {
        if (!IsXMLCharacter(c)) continue;
        switch (c) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        default: out += QString::fromUcs4(&c, 1);
        }
    }
    return out;
}

QStringList Paragraphs(const QString& text) {
    QString normal = text;
    normal.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    normal.replace(QChar('\r'), QChar('\n'));
    normal.replace(QChar(0x2029), QChar('\n'));
    normal.replace(QChar('\f'), QChar('\n'));
    return normal.split(QChar('\n'));
}

// A zip package from (name, contents) parts in order; the parts named in
// `stored` are kept uncompressed.
bool WriteZipPackage(const std::filesystem::path& url, const std::vector<std::pair<std::string, QByteArray>>& parts,
                     std::string_view stored = {}) {
    return FileManager::writeAtomically(url, [&](const std::filesystem::path& temporary) {
        int error = 0;
        zip_t* zip = zip_open(temporary.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        if (!zip) return false;
        for (const auto& [name, contents] : parts) {
            zip_source_t* source = zip_source_buffer(zip, contents.constData(), zip_uint64_t(contents.size()), 0);
            if (!source) {
                zip_discard(zip);
                return false;
            }
            const zip_int64_t index = zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8);
            if (index < 0) {
                zip_source_free(source);
                zip_discard(zip);
                return false;
            }
            if (name == stored) zip_set_file_compression(zip, zip_uint64_t(index), ZIP_CM_STORE, 0);
        }
        if (zip_close(zip) != 0) {
            zip_discard(zip);
            return false;
        }
        return true;
    });
}

QByteArray XMLHeader() { return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"); }

QByteArray DOCXDocumentPart(const QString& text) {
    QString body;
    for (const QString& line : Paragraphs(text)) {
        body += QLatin1String("<w:p>");
        const QStringList pieces = line.split(QChar('\t'));
        if (!line.isEmpty()) {
            body += QLatin1String("<w:r>");
            for (qsizetype i = 0; i < pieces.size(); ++i) {
                if (i > 0) body += QLatin1String("<w:tab/>");
                if (!pieces[i].isEmpty()) {
                    body += QLatin1String("<w:t xml:space=\"preserve\">") + EscapeXML(pieces[i]) +
                            QLatin1String("</w:t>");
                }
            }
            body += QLatin1String("</w:r>");
        }
        body += QLatin1String("</w:p>");
    }
    return XMLHeader() +
           "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>" +
           body.toUtf8() + "<w:sectPr/></w:body></w:document>";
}

// OpenDocument collapses runs of spaces unless they are written as <text:s/>.
QString ODTParagraphContent(const QString& line) {
    QString out;
    qsizetype i = 0;
    while (i < line.size()) {
        const QChar c = line[i];
        if (c == QChar(' ')) {
            qsizetype run = 1;
            while (i + run < line.size() && line[i + run] == QChar(' ')) ++run;
            const bool edge = i == 0 || i + run == line.size();
            if (run == 1 && !edge) {
                out += QChar(' ');
            } else {
                out += QStringLiteral("<text:s text:c=\"%1\"/>").arg(run);
            }
            i += run;
        } else if (c == QChar('\t')) {
            out += QLatin1String("<text:tab/>");
            ++i;
        } else {
            qsizetype end = i;
            while (end < line.size() && line[end] != QChar(' ') && line[end] != QChar('\t')) ++end;
            out += EscapeXML(QStringView(line).mid(i, end - i));
            i = end;
        }
    }
    return out;
}

QByteArray ODTContentPart(const QString& text) {
    QString body;
    for (const QString& line : Paragraphs(text)) {
        body += QLatin1String("<text:p>") + ODTParagraphContent(line) + QLatin1String("</text:p>");
    }
    return XMLHeader() +
           "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
           "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" office:version=\"1.2\">"
           "<office:body><office:text>" +
           body.toUtf8() + "</office:text></office:body></office:document-content>";
}

}  // namespace

bool WriteUTF8TextDocument(const std::filesystem::path& url, const QString& text) {
    return CreateFile(url, text.toUtf8());
}

bool WriteUTF16TextDocument(const std::filesystem::path& url, const QString& text) {
    QByteArray bytes;
    const char16_t mark = 0xFEFF;
    bytes.append(reinterpret_cast<const char*>(&mark), sizeof mark);
    bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * qsizetype(sizeof(char16_t)));
    return CreateFile(url, bytes);
}

QByteArray MakeRTFData(const QString& text) {
    QByteArray rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc0{\\fonttbl{\\f0\\fswiss Helvetica;}}\n\\f0\\fs24 ";
    const QStringList lines = Paragraphs(text);
    for (qsizetype l = 0; l < lines.size(); ++l) {
        if (l > 0) rtf += "\\par\n";
        for (QChar c : lines[l]) {
            const char16_t u = c.unicode();
            if (u == '\\' || u == '{' || u == '}') {
                rtf += '\\';
                rtf += char(u);
            } else if (u == '\t') {
                rtf += "\\tab ";
            } else if (u >= 0x20 && u < 0x7F) {
                rtf += char(u);
            } else if (u >= 0x80) {
                // Signed 16-bit code units; surrogate pairs go as two.
                rtf += "\\u" + QByteArray::number(static_cast<qint16>(u)) + ' ';
            }
        }
    }
    rtf += "\n}\n";
    return rtf;
}

bool WriteRTFDocument(const std::filesystem::path& url, const QString& text) {
    return CreateFile(url, MakeRTFData(text));
}

bool WriteRTFDDocument(const std::filesystem::path& url, const QString& text) {
    // The package is made whole under a hidden name and then renamed.
    const std::filesystem::path temporary = FileManager::temporaryPathBeside(url);
    std::error_code error;
    // One level only: a missing destination folder is a failure, not made here.
    if (url.empty() || FileManager::fileExists(url) || temporary.empty() ||
        !std::filesystem::create_directory(temporary, error)) {
        return false;
    }
    if (CreateFile(temporary / "TXT.rtf", MakeRTFData(text)) && !FileManager::fileExists(url)) {
        std::filesystem::rename(temporary, url, error);
        if (!error) return true;
    }
    FileManager::removeItem(temporary);
    return false;
}

bool WriteDOCXDocument(const std::filesystem::path& url, const QString& text) {
    const QByteArray types =
        XMLHeader() +
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/word/document.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
        "</Types>";
    const QByteArray relationships =
        XMLHeader() +
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
        "Target=\"word/document.xml\"/></Relationships>";
    return WriteZipPackage(url, {{"[Content_Types].xml", types},
                                 {"_rels/.rels", relationships},
                                 {"word/document.xml", DOCXDocumentPart(text)}});
}

bool WriteODTDocument(const std::filesystem::path& url, const QString& text) {
    const QByteArray manifest =
        XMLHeader() +
        "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
        "manifest:version=\"1.2\">"
        "<manifest:file-entry manifest:full-path=\"/\" manifest:version=\"1.2\" "
        "manifest:media-type=\"application/vnd.oasis.opendocument.text\"/>"
        "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
        "</manifest:manifest>";
    // The package type comes first and uncompressed, where readers look for it.
    return WriteZipPackage(url,
                           {{"mimetype", QByteArrayLiteral("application/vnd.oasis.opendocument.text")},
                            {"META-INF/manifest.xml", manifest},
                            {"content.xml", ODTContentPart(text)}},
                           "mimetype");
}

bool WriteWordDocument(const std::filesystem::path& url, const QString& text) {
    const std::filesystem::path work = GetTemporaryURLWithPrefix("word");
    if (url.empty() || work.empty() || !FileManager::createDirectories(work)) return false;
    bool written = false;
    const std::filesystem::path docx = work / (url.stem().string() + ".docx");
    if (WriteDOCXDocument(docx, text)) {
        const std::filesystem::path doc = ConvertWithLibreOffice(docx, "doc:MS Word 97", "doc", work, std::chrono::seconds(120),
                                                                 GetLibreOfficeImportFilter(11));
        if (!doc.empty()) {
            const auto bytes = FileManager::contentsOfFile(doc);
            written = bytes && FileManager::createFile(url, std::span<const std::uint8_t>(*bytes));
        }
    }
    FileManager::removeItem(work);
    return written;
}
