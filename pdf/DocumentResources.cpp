#include "pdf/DocumentResources.h"

#include "platform/FileManager.h"

#include <QImage>
#include <QTextBlock>
#include <QTextFragment>
#include <QTextImageFormat>
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

}  // namespace

QVariant BoundedTextDocument::loadResource(int type, const QUrl& name) {
    // data: links hold their bytes in the document itself.
    if (name.scheme().compare(QStringLiteral("data"), Qt::CaseInsensitive) == 0) {
        return QTextDocument::loadResource(type, name);
    }
    QByteArray bytes;
    if (const auto path = LocalPath(name, folder_)) {
        const std::uint64_t left = kMaxDocumentResourcesTotal - loaded_;
        // Regular files only: contentsOfFile refuses devices, FIFOs and
        // files beyond the limit.
        if (auto contents = plat::FileManager::contentsOfFile(*path, std::min(left, kMaxDocumentResourceBytes))) {
            bytes = QByteArray(reinterpret_cast<const char*>(contents->data()), qsizetype(contents->size()));
            loaded_ += contents->size();
        }
    }
    QVariant resource = bytes;
    if (type == QTextDocument::ImageResource) {
        // Decoded once; Qt's image reader keeps to its allocation limit.
        QImage image;
        if (image.loadFromData(bytes)) resource = image;
    }
    // Kept, so the link is not read again (and an empty answer stands for
    // a link that loads nothing).
    addResource(type, name, resource);
    return resource;
}

void BoundedTextDocument::loadImages() {
    for (QTextBlock block = begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat()) resource(QTextDocument::ImageResource, QUrl(format.toImageFormat().name()));
        }
    }
}
