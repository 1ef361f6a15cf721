#include "pdf/RtfReader.h"

#include "platform/FileManager.h"

#include <QImage>
#include <QTextCursor>
#include <QTextImageFormat>
#include <QUrl>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

// Groups nest without limit in the format; deeper ones are read flat.
constexpr std::size_t kMaxGroupDepth = 512;

// Runs of text in one format. Qt lays a paragraph out in time that grows
// with the square of its runs (50,000 take seconds), and every run costs
// memory; honest documents stay far below both bounds.
constexpr std::size_t kMaxRunsPerParagraph = 50000;
constexpr std::size_t kMaxRuns = 1000000;

// Windows-1252 for 0x80 to 0x9F; the rest of the upper half is Latin-1.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

QChar FromCodePage(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0) return QChar(kCp1252High[byte - 0x80]);
    return QChar(byte);
}

enum class Destination { Text, Skip, FontTable, ColorTable, Attachment };

struct GroupState {
    Destination destination = Destination::Text;
    QTextCharFormat character;
    QTextBlockFormat paragraph;
    int unicodeSkip = 1;
};

class RtfParser {
public:
    RtfParser(std::string_view data, QTextDocument& document, std::filesystem::path folder)
        : data_(data), cursor_(&document), folder_(std::move(folder)) {}

    bool parse() {
        if (data_.substr(0, 5) != "{\\rtf") return false;
        cursor_.beginEditBlock();
        state_.push_back({});
        applyFont(0);
        while (pos_ < data_.size() && !tooLarge_) {
            const char c = data_[pos_++];
            switch (c) {
            case '{': openGroup(); break;
            case '}': closeGroup(); break;
            case '\\': controlSequence(); break;
            case '\r':
            case '\n': break;
            default: character(QChar(static_cast<unsigned char>(c)), static_cast<unsigned char>(c)); break;
            }
        }
        flush();
        cursor_.endEditBlock();
        return !tooLarge_;
    }

private:
    GroupState& top() { return state_.back(); }

    void openGroup() {
        flush();
        if (state_.size() >= kMaxGroupDepth) {
            ++flatDepth_;
            return;
        }
        GroupState copy = top();
        // An attachment's name ends at its group.
        if (copy.destination == Destination::Attachment) copy.destination = Destination::Skip;
        state_.push_back(copy);
        starting_ = true;
    }

    void closeGroup() {
        flush();
        if (flatDepth_ > 0) {
            --flatDepth_;
            return;
        }
        if (top().destination == Destination::Attachment) insertAttachment();
        if (top().destination == Destination::FontTable && !fontName_.isEmpty()) endFontEntry();
        if (state_.size() > 1) state_.pop_back();
        starting_ = false;
    }

    // Characters of the current destination.
    void character(QChar ch, unsigned char raw) {
        starting_ = false;
        if (skipCount_ > 0) {
            --skipCount_;
            return;
        }
        switch (top().destination) {
        case Destination::Text:
            if (dropAttachmentMark_ && ch == QChar(0x00AC)) {
                dropAttachmentMark_ = false;
                return;
            }
            dropAttachmentMark_ = false;
            pending_ += ch;
            break;
        case Destination::FontTable:
            if (ch == ';') endFontEntry();
            else fontName_ += ch;
            break;
        case Destination::ColorTable:
            if (raw == ';') {
                colours_.push_back(QColor(red_, green_, blue_));
                red_ = green_ = blue_ = 0;
            }
            break;
        case Destination::Attachment: attachmentName_ += ch; break;
        case Destination::Skip: break;
        }
    }

    void endFontEntry() {
        fonts_[fontNumber_] = fontName_.trimmed();
        fontName_.clear();
    }

    void flush() {
        if (pending_.isEmpty()) return;
        if (++paragraphRuns_ > kMaxRunsPerParagraph || ++runs_ > kMaxRuns) tooLarge_ = true;
        if (!tooLarge_) cursor_.insertText(pending_, top().character);
        pending_.clear();
    }

    void paragraph() {
        flush();
        paragraphRuns_ = 0;
        if (++runs_ > kMaxRuns) tooLarge_ = true;
        if (!tooLarge_) cursor_.insertBlock(top().paragraph, top().character);
    }

    void insertAttachment() {
        QString name = attachmentName_.trimmed();
        attachmentName_.clear();
        dropAttachmentMark_ = true;
        // Only files inside the package: a name is one path component.
        if (folder_.empty() || name.isEmpty() || name.contains('/') || name == "." || name == "..") return;
        const std::filesystem::path file = folder_ / name.toStdString();
        if (!plat::FileManager::isRegularFile(file)) return;
        QImage image(QString::fromStdString(file.string()));
        if (image.isNull()) return;
        // The document holds the image itself, so nothing reads the file later.
        const QUrl key(QStringLiteral("rtfd-attachment:") + QString::number(++attachments_));
        cursor_.document()->addResource(QTextDocument::ImageResource, key, image);
        QTextImageFormat format;
        format.setName(key.toString());
        format.setWidth(image.width());
        format.setHeight(image.height());
        cursor_.insertImage(format);
    }

    void applyFont(int number) {
        auto found = fonts_.find(number);
        if (found != fonts_.end() && !found->second.isEmpty()) {
            top().character.setFontFamilies({found->second});
        }
    }

    void controlSequence() {
        if (pos_ >= data_.size()) return;
        const char c = data_[pos_];
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++pos_;
            controlSymbol(c);
            return;
        }
        const std::size_t start = pos_;
        while (pos_ < data_.size() && std::isalpha(static_cast<unsigned char>(data_[pos_])) && pos_ - start < 32) ++pos_;
        const std::string word(data_.substr(start, pos_ - start));
        bool hasParameter = false;
        long long parameter = 0;
        bool negative = false;
        if (pos_ < data_.size() && data_[pos_] == '-') {
            negative = true;
            ++pos_;
        }
        const std::size_t digits = pos_;
        while (pos_ < data_.size() && std::isdigit(static_cast<unsigned char>(data_[pos_])) && pos_ - digits < 10) {
            parameter = parameter * 10 + (data_[pos_] - '0');
            ++pos_;
        }
        hasParameter = pos_ > digits;
        if (negative) parameter = -parameter;
        if (pos_ < data_.size() && data_[pos_] == ' ') ++pos_;
        controlWord(word, hasParameter, parameter);
    }

    void controlSymbol(char c) {
        switch (c) {
        case '\\':
        case '{':
        case '}': character(QChar(c), static_cast<unsigned char>(c)); break;
        case '~': character(QChar(0x00A0), 0); break;
        case '_': character(QChar(0x2011), 0); break;
        case '-': break;
        case '*':
            if (starting_ || top().destination != Destination::Text) top().destination = Destination::Skip;
            break;
        case '\'': {
            if (pos_ + 2 > data_.size()) return;
            const std::string hex(data_.substr(pos_, 2));
            pos_ += 2;
            char* end = nullptr;
            const long value = std::strtol(hex.c_str(), &end, 16);
            if (end != hex.c_str() + 2) return;
            character(FromCodePage(static_cast<unsigned char>(value)), static_cast<unsigned char>(value));
            break;
        }
        case '\r':
        case '\n': paragraphOrSkip(); break;
        default: break;
        }
    }

    void paragraphOrSkip() {
        if (top().destination == Destination::Text && skipCount_ == 0) paragraph();
    }

    void controlWord(const std::string& w, bool hasParameter, long long p) {
        const bool on = !hasParameter || p != 0;
        GroupState& s = top();
        if (w == "u") {
            starting_ = false;
            const char16_t unit = static_cast<char16_t>(p < 0 ? p + 65536 : p);
            if (skipCount_ > 0) {
                --skipCount_;
                return;
            }
            if (s.destination == Destination::Text) pending_ += QChar(unit);
            else if (s.destination == Destination::Attachment) attachmentName_ += QChar(unit);
            skipCount_ = s.unicodeSkip;
            return;
        }
        starting_ = false;
        if (w == "bin") {
            // Raw bytes follow; whatever they hold is no markup.
            const std::size_t length = hasParameter && p > 0 ? static_cast<std::size_t>(p) : 0;
            pos_ += std::min(length, data_.size() - pos_);
            return;
        }
        if (w == "uc") {
            s.unicodeSkip = hasParameter && p >= 0 && p < 16 ? static_cast<int>(p) : 1;
            return;
        }
        if (w == "fonttbl") {
            s.destination = Destination::FontTable;
            return;
        }
        if (w == "colortbl") {
            s.destination = Destination::ColorTable;
            return;
        }
        if (w == "NeXTGraphic") {
            flush();
            s.destination = Destination::Attachment;
            attachmentName_.clear();
            return;
        }
        static const char* const kSkipped[] = {
            "stylesheet", "info", "pict", "header", "footer", "headerl", "headerr", "headerf", "footerl",
            "footerr", "footerf", "footnote", "object", "fldinst", "themedata", "colorschememapping",
            "datastore", "latentstyles", "listtable", "listoverridetable", "rsidtbl", "generator",
            "xmlnstbl", "mmathPr", "filetbl", "revtbl", "pgdsctbl", "bkmkstart", "bkmkend", "expandedcolortbl"};
        for (const char* skipped : kSkipped) {
            if (w == skipped) {
                s.destination = Destination::Skip;
                return;
            }
        }
        if (s.destination == Destination::FontTable) {
            if (w == "f" && hasParameter) {
                fontNumber_ = static_cast<int>(p);
                fontName_.clear();
            }
            return;
        }
        if (s.destination == Destination::ColorTable) {
            const int value = static_cast<int>(std::clamp<long long>(p, 0, 255));
            if (w == "red") red_ = value;
            else if (w == "green") green_ = value;
            else if (w == "blue") blue_ = value;
            return;
        }
        if (s.destination != Destination::Text) return;

        if (w == "par" || w == "sect") {
            paragraph();
        } else if (w == "line") {
            character(QChar(0x2028), 0);
        } else if (w == "tab") {
            character(QChar('\t'), '\t');
        } else if (w == "emdash") {
            character(QChar(0x2014), 0);
        } else if (w == "endash") {
            character(QChar(0x2013), 0);
        } else if (w == "bullet") {
            character(QChar(0x2022), 0);
        } else if (w == "lquote" || w == "rquote" || w == "ldblquote" || w == "rdblquote") {
            const char16_t marks[] = {0x2018, 0x2019, 0x201C, 0x201D};
            character(QChar(marks[w == "rquote" ? 1 : w == "ldblquote" ? 2 : w == "rdblquote" ? 3 : 0]), 0);
        } else {
            flush();
            formatWord(w, hasParameter, p, on);
        }
    }

    void formatWord(const std::string& w, bool hasParameter, long long p, bool on) {
        GroupState& s = top();
        QTextCharFormat& f = s.character;
        if (w == "plain") {
            f = QTextCharFormat();
            applyFont(0);
        } else if (w == "b") {
            f.setFontWeight(on ? QFont::Bold : QFont::Normal);
        } else if (w == "i") {
            f.setFontItalic(on);
        } else if (w == "ul") {
            f.setFontUnderline(on);
        } else if (w == "ulnone") {
            f.setFontUnderline(false);
        } else if (w == "strike") {
            f.setFontStrikeOut(on);
        } else if (w == "fs" && hasParameter && p > 0 && p <= 3276) {
            f.setFontPointSize(p / 2.0);
        } else if (w == "f" && hasParameter) {
            applyFont(static_cast<int>(p));
        } else if (w == "cf" && hasParameter) {
            // Index 0 of the table is the automatic colour (";" alone).
            if (p > 0 && p < static_cast<long long>(colours_.size())) {
                f.setForeground(colours_[static_cast<std::size_t>(p)]);
            } else {
                f.clearForeground();
            }
        } else if (w == "pard") {
            s.paragraph = QTextBlockFormat();
            cursor_.setBlockFormat(s.paragraph);
        } else if (w == "ql" || w == "qr" || w == "qc" || w == "qj") {
            s.paragraph.setAlignment(w == "qr" ? Qt::AlignRight : w == "qc" ? Qt::AlignHCenter
                                                : w == "qj" ? Qt::AlignJustify : Qt::AlignLeft);
            cursor_.setBlockFormat(s.paragraph);
        }
    }

    std::string_view data_;
    std::size_t pos_ = 0;
    QTextCursor cursor_;
    std::filesystem::path folder_;
    std::vector<GroupState> state_;
    std::size_t flatDepth_ = 0;
    std::size_t paragraphRuns_ = 0;
    std::size_t runs_ = 0;
    bool tooLarge_ = false;
    bool starting_ = false;
    int skipCount_ = 0;
    QString pending_;
    std::map<int, QString> fonts_;
    int fontNumber_ = 0;
    QString fontName_;
    std::vector<QColor> colours_;
    int red_ = 0, green_ = 0, blue_ = 0;
    QString attachmentName_;
    bool dropAttachmentMark_ = false;
    int attachments_ = 0;
};

}  // namespace

bool ReadRTF(std::string_view rtf, QTextDocument& document, const std::filesystem::path& attachmentFolder) {
    document.clear();
    // Outside an edit block every insertion lays its paragraph out again,
    // which made a paragraph of many format runs quadratic; nobody undoes a
    // document that is being read.
    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    bool read = false;
    {
        RtfParser parser(rtf, document, attachmentFolder);
        read = parser.parse();
    }
    document.setUndoRedoEnabled(undo);
    if (!read) document.clear();
    return read;
}
