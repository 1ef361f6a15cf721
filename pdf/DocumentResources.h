#pragma once
// What a text document may load besides its own text: the images and style
// sheets its links name, read only from regular local files of a bounded
// size. A link to a device (file:///dev/zero), a FIFO, a folder, the
// network or any other scheme loads nothing, so a document cannot make the
// reader wait or read until memory runs out.

#include <QTextDocument>

#include <cstdint>
#include <filesystem>

// Largest file one link may load, and the most all links of a document
// may load together.
inline constexpr std::uint64_t kMaxDocumentResourceBytes = std::uint64_t(32) << 20;
inline constexpr std::uint64_t kMaxDocumentResourcesTotal = std::uint64_t(256) << 20;

// The document every text document is read into and laid out from.
class BoundedTextDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

    // The folder relative links are taken from; none when it is empty.
    void setResourceFolder(const std::filesystem::path& folder) { folder_ = folder; }

    // Loads every image the document shows now, while the files are there;
    // the document keeps what it loaded.
    void loadImages();

protected:
    // Qt's own loading reads any file it can open to its end. Each link is
    // read once and kept as a resource of the document.
    QVariant loadResource(int type, const QUrl& name) override;

private:
    std::filesystem::path folder_;
    std::uint64_t loaded_ = 0;
};
