#pragma once
// What a text document may load besides its own text: the images and style
// sheets its links name, read only from regular local files and data: links
// of a bounded size. A link to a device (file:///dev/zero), a FIFO, a
// folder, the network or any other scheme loads nothing, so a document
// cannot make the reader wait or read until memory runs out.
//
// Every link is loaded by the document's own loader before Qt lays the
// document out, and Qt is given names only that loader answers: when a
// link loads nothing, Qt gets an empty image under that name, never the
// chance to open the link as a file itself.

#include "pdf/BoundedHtml.h"

#include <QHash>
#include <QTextDocument>

#include <cstdint>
#include <filesystem>
#include <optional>

// Largest file one link may load, and the most all links of a document
// may load together.
inline constexpr std::uint64_t kMaxDocumentResourceBytes = std::uint64_t(32) << 20;
inline constexpr std::uint64_t kMaxDocumentResourcesTotal = std::uint64_t(256) << 20;
// Pixels of all images of a document as decoded (each decoded no larger
// than it is shown).
inline constexpr std::uint64_t kMaxDocumentImagePixels = std::uint64_t(128) << 20;

// The document every text document is read into and laid out from.
class BoundedTextDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

    // The folder relative links are taken from; none when it is empty.
    void setResourceFolder(const std::filesystem::path& folder) { folder_ = folder; }

    // Loads the image `link` names now and keeps it under a name of the
    // document's own, which is returned with the image's size (empty when
    // the link loads nothing; the name then shows an empty image).
    HTMLImage addImageLink(const QString& link);

    // The text of the style sheet `link` names; empty when it loads nothing.
    QString styleSheetLink(const QString& link);

    // The loaders for MakeBoundedHTML.
    HTMLLinks links();

protected:
    // Qt asks here for every name it does not hold: an empty image or text,
    // so that Qt never reads a file of that name itself.
    QVariant loadResource(int type, const QUrl& name) override;

private:
    // The bytes `link` names, within the limits; none when it loads nothing.
    std::optional<QByteArray> linkBytes(const QString& link, std::uint64_t limit);

    std::filesystem::path folder_;
    std::uint64_t loaded_ = 0;
    std::uint64_t decodedPixels_ = 0;
    QHash<QString, HTMLImage> images_;
};
