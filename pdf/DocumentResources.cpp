#include "pdf/DocumentResources.h"

#include "pdf/HtmlStyle.h"
#include "platform/FileManager.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QUrl>

#include <algorithm>
#include <optional>

namespace {

// The local file a link names; none for other schemes and remote hosts.
std::optional<std::filesystem::path> LocalPath(const QUrl& url, const std::filesystem::path& folder) {
    if (url.scheme().compare(QStringLiteral("file"), Qt::CaseInsensitive) == 0) {
        if (!url.host().isEmpty()) return std::nullopt;
        return std::filesystem::path(url.toLocalFile().toStdString());
    }
    if (!url.scheme().isEmpty()) return std::nullopt;
    const std::filesystem::path path(url.path(QUrl::FullyDecoded).toStdString());
    if (path.empty()) return std::nullopt;
    if (path.is_absolute()) return path;
    if (folder.empty()) return std::nullopt;
    return folder / path;
}

// The bytes of a data: link ("data:[type][;base64],payload").
std::optional<QByteArray> DataLinkBytes(const QString& link, std::uint64_t limit) {
    const qsizetype comma = link.indexOf(u',');
    if (comma < 0 || std::uint64_t(link.size() - comma) > limit / 3 * 4 + 4) return std::nullopt;
    const QByteArray payload = link.sliced(comma + 1).toLatin1();
    const bool base64 = link.first(comma).contains(QLatin1StringView(";base64"), Qt::CaseInsensitive);
    QByteArray bytes = base64 ? QByteArray::fromBase64(payload) : QByteArray::fromPercentEncoding(payload);
    if (std::uint64_t(bytes.size()) > limit) return std::nullopt;
    return bytes;
}

const QImage& EmptyImage() {
    static const QImage empty = [] {
        QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        return image;
    }();
    return empty;
}

// The image of `bytes` no larger than it is ever shown, within `pixelsLeft`;
// its own size in `size`.
QImage DecodeImage(QByteArray bytes, QSize& size, std::uint64_t& pixelsLeft) {
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    size = reader.size();
    if (!size.isValid() || size.isEmpty()) return {};
    QSize decoded = size;
    if (std::max(size.width(), size.height()) > kMaxHTMLImageSide) {
        decoded = size.scaled(kMaxHTMLImageSide, kMaxHTMLImageSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        reader.setScaledSize(decoded);
    }
    const std::uint64_t pixels = std::uint64_t(decoded.width()) * std::uint64_t(decoded.height());
    if (pixels > pixelsLeft) return {};
    QImage image = reader.read();
    if (image.isNull()) return {};
    pixelsLeft -= pixels;
    return image;
}

}  // namespace

std::optional<QByteArray> BoundedTextDocument::linkBytes(const QString& link, std::uint64_t limit) {
    limit = std::min(limit, kMaxDocumentResourcesTotal - loaded_);
    std::optional<QByteArray> bytes;
    if (link.startsWith(QLatin1StringView("data:"), Qt::CaseInsensitive)) {
        bytes = DataLinkBytes(link, limit);
    } else if (const auto path = LocalPath(QUrl(link), folder_)) {
        // Regular files only: contentsOfFile refuses devices, FIFOs and
        // files beyond the limit.
        if (auto contents = plat::FileManager::contentsOfFile(*path, limit))
            bytes = QByteArray(reinterpret_cast<const char*>(contents->data()), qsizetype(contents->size()));
    }
    if (bytes) loaded_ += std::uint64_t(bytes->size());
    return bytes;
}

HTMLImage BoundedTextDocument::addImageLink(const QString& link) {
    if (const auto known = images_.constFind(link); known != images_.constEnd()) return *known;
    HTMLImage image;
    image.name = QStringLiteral("vantrell-resource:%1").arg(images_.size() + 1);
    QImage decoded;
    if (const auto bytes = linkBytes(link, kMaxDocumentResourceBytes)) {
        std::uint64_t pixelsLeft = kMaxDocumentImagePixels - decodedPixels_;
        decoded = DecodeImage(*bytes, image.size, pixelsLeft);
        decodedPixels_ = kMaxDocumentImagePixels - pixelsLeft;
    }
    if (decoded.isNull()) image.size = {};
    addResource(QTextDocument::ImageResource, QUrl(image.name), decoded.isNull() ? EmptyImage() : decoded);
    images_.insert(link, image);
    return image;
}

QString BoundedTextDocument::styleSheetLink(const QString& link) {
    const auto bytes = linkBytes(link, std::uint64_t(kMaxHTMLStyleSheetCharacters));
    return bytes ? QString::fromUtf8(*bytes) : QString();
}

HTMLLinks BoundedTextDocument::links() {
    return {[this](const QString& link) { return addImageLink(link); },
            [this](const QString& link) { return styleSheetLink(link); }};
}

QVariant BoundedTextDocument::loadResource(int type, const QUrl& name) {
    QVariant resource;
    if (type == QTextDocument::ImageResource) {
        resource = EmptyImage();
    } else if (type == QTextDocument::StyleSheetResource) {
        resource = QString();
    } else {
        resource = QByteArray();
    }
    // Kept, so that Qt asks once.
    addResource(type, name, resource);
    return resource;
}
