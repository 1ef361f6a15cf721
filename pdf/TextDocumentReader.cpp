#include "pdf/TextDocumentReader.h"

#include "common/KSMUtil.h"
#include "engine/ImageTypes.h"
#include "pdf/DocumentResources.h"
#include "pdf/BoundedHtml.h"
#include "pdf/OfficeConverter.h"
#include "pdf/RtfReader.h"
#include "platform/FileManager.h"
#include "platform/TypeIdentifier.h"

#include <QStringDecoder>

#include <optional>
#include <string_view>
#include <vector>

namespace {

// Inputs larger than these are not read: laying out more than an honest
// document of the kind holds took minutes and gigabytes. RTF may carry
// pictures that the reader passes over, so its bound is on the file.
constexpr std::uint64_t kMaxPlainTextBytes = std::uint64_t(16) << 20;
constexpr std::uint64_t kMaxHTMLBytes = std::uint64_t(16) << 20;
constexpr std::uint64_t kMaxRTFBytes = std::uint64_t(64) << 20;
// Characters that any document may hold when it is laid out.
constexpr int kMaxDocumentCharacters = 16 << 20;

std::optional<std::vector<std::uint8_t>> ReadBytes(const std::filesystem::path& url, std::uint64_t limit) {
    return plat::FileManager::contentsOfFile(url, limit);
}

// Text by its byte-order mark, else UTF-8 when it is valid, else Windows-1252.
QString DecodeText(const std::vector<std::uint8_t>& bytes) {
    const QByteArrayView view(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    if (auto encoding = QStringConverter::encodingForData(view)) {
        QStringDecoder decoder(*encoding);
        return decoder.decode(view);
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(view);
    if (!utf8.hasError()) return text;
    QStringDecoder latin(QStringConverter::Latin1);
    return latin.decode(view);
}

bool StartsWithRTF(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= 5 && std::string_view(reinterpret_cast<const char*>(bytes.data()), 5) == "{\\rtf";
}

bool ReadRTFBytes(const std::vector<std::uint8_t>& bytes, QTextDocument& document,
                  const std::filesystem::path& folder) {
    return ReadRTF(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), document, folder);
}

// Qt reads only the bounded rewriting of the HTML, never the text itself;
// what passes a bound is refused. Links load now, by the document's rules,
// relative ones from `folder`.
bool ReadHTML(const QString& html, BoundedTextDocument& document, const std::filesystem::path& folder) {
    document.setResourceFolder(folder);
    const auto bounded = MakeBoundedHTML(html, document.links());
    if (!bounded) return false;
    document.setHtml(bounded->html);
    return true;
}

bool ReadOfficeDocument(const std::filesystem::path& url, BoundedTextDocument& document) {
    const std::filesystem::path work = GetTemporaryURLWithPrefix("office");
    if (work.empty() || !plat::FileManager::createDirectories(work)) return false;
    bool read = false;
    const int type = GetTextDocumentTypeForUTI(plat::TypeIdentifier::forPath(url));
    const std::filesystem::path html =
        ConvertWithLibreOffice(url, "html", "html", work, std::chrono::seconds(120), GetLibreOfficeImportFilter(type));
    if (!html.empty()) {
        if (auto bytes = ReadBytes(html, kMaxHTMLBytes)) {
            // LibreOffice writes the images beside the page; they are read
            // with it, before the folder goes. Links the document made to
            // files elsewhere load by the same rules as any HTML file's.
            read = ReadHTML(DecodeText(*bytes), document, html.parent_path());
        }
    }
    plat::FileManager::removeItem(work);
    return read;
}

}  // namespace

TextDocumentKind GetTextDocumentKind(const std::filesystem::path& url) {
    if (plat::FileManager::isDirectory(url)) return TextDocumentKind::Rtfd;
    switch (GetTextDocumentTypeForUTI(plat::TypeIdentifier::forPath(url))) {
    case 1: return TextDocumentKind::Rtf;
    case 2: return TextDocumentKind::Rtfd;
    case 3: return TextDocumentKind::Html;
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
    case 13: return TextDocumentKind::Office;
    default: return TextDocumentKind::Plain;
    }
}

bool ReadTextDocument(const std::filesystem::path& url, BoundedTextDocument& document, bool* richText) {
    document.clear();
    TextDocumentKind kind = GetTextDocumentKind(url);
    bool read = false;
    if (kind == TextDocumentKind::Rtfd) {
        const auto bytes = ReadBytes(url / "TXT.rtf", kMaxRTFBytes);
        read = bytes && ReadRTFBytes(*bytes, document, url);
    } else if (kind == TextDocumentKind::Office) {
        read = ReadOfficeDocument(url, document);
    } else if (auto head = plat::FileManager::leadingBytesOfFile(url, 5)) {
        // RTF announces itself whatever the file is called.
        if (StartsWithRTF(*head)) kind = TextDocumentKind::Rtf;
        const std::uint64_t limit = kind == TextDocumentKind::Rtf    ? kMaxRTFBytes
                                    : kind == TextDocumentKind::Html ? kMaxHTMLBytes
                                                                     : kMaxPlainTextBytes;
        if (auto bytes = ReadBytes(url, limit)) {
            if (kind == TextDocumentKind::Rtf) {
                read = ReadRTFBytes(*bytes, document, {});
            } else if (kind == TextDocumentKind::Html) {
                read = ReadHTML(DecodeText(*bytes), document, url.parent_path());
            } else {
                document.setPlainText(DecodeText(*bytes));
                read = true;
            }
        }
    }
    // What the readers made may still be more than can be laid out.
    if (read && document.characterCount() > kMaxDocumentCharacters) read = false;
    if (!read) document.clear();
    if (richText) *richText = read && kind != TextDocumentKind::Plain;
    return read;
}
