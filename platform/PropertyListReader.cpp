#include "platform/PropertyListReader.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace plat::plist_reader {

namespace {

// What a list has built so far, against its limits.
class Budget {
public:
    explicit Budget(const PlistLimits& limits) : limits_(limits) {}
    // One more value (or key) holding `bytes` of text or data.
    bool take(std::uint64_t bytes = 0) {
        ++values_;
        bytes_ += bytes;
        return values_ <= limits_.maxValues && bytes_ <= limits_.maxBytes;
    }
    bool tooDeep(int depth) const { return depth > limits_.maxDepth; }

private:
    const PlistLimits& limits_;
    std::uint64_t values_ = 0;
    std::uint64_t bytes_ = 0;
};

// A date as seconds since 2001. The writer takes whole seconds that fit 32
// bits; anything else stays the number it is, so the list can be saved back.
PlistValue dateValue(double seconds) {
    if (!std::isfinite(seconds) || seconds < double(std::numeric_limits<std::int32_t>::min()) ||
        seconds >= double(std::numeric_limits<std::int32_t>::max()) + 1.0) {
        return PlistValue(seconds);
    }
    const auto since2001 = std::chrono::round<std::chrono::microseconds>(std::chrono::duration<double>(seconds));
    const auto sinceEpoch = std::chrono::seconds(kReferenceDateOffset) + since2001;
    return PlistValue(PlistValue::Date(std::chrono::duration_cast<PlistValue::Date::duration>(sinceEpoch)));
}

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out.push_back(char(code));
    } else if (code < 0x800) {
        out.push_back(char(0xC0 | (code >> 6)));
        out.push_back(char(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(char(0xE0 | (code >> 12)));
        out.push_back(char(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(char(0x80 | (code & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (code >> 18)));
        out.push_back(char(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(char(0x80 | (code & 0x3F)));
    }
}

// --- XML ----------------------------------------------------------------------------

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (negative) {
        if (magnitude > std::uint64_t(std::numeric_limits<std::int64_t>::max()) + 1) return std::nullopt;
        return static_cast<std::int64_t>(0 - magnitude);
    }
    // Unsigned values above the signed range are kept in two's complement,
    // as the binary format holds them.
    return static_cast<std::int64_t>(magnitude);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = (a[i] >= 'A' && a[i] <= 'Z') ? char(a[i] - 'A' + 'a') : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

std::optional<double> parseReal(std::string_view text) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    double value = 0;
    if (equalsIgnoringCase(text, "nan")) {
        value = std::numeric_limits<double>::quiet_NaN();
    } else if (equalsIgnoringCase(text, "inf") || equalsIgnoringCase(text, "infinity")) {
        value = std::numeric_limits<double>::infinity();
    } else {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        // A value below the smallest subnormal reads as 0, as strtod gives it.
        if (text.empty() || end != text.data() + text.size() ||
            (error != std::errc() && error != std::errc::result_out_of_range)) {
            return std::nullopt;
        }
    }
    return negative ? -value : value;
}

// "YYYY-MM-DDTHH:MM:SS" with optional fraction, then "Z": seconds since 2001.
std::optional<double> parseDate(std::string_view text) {
    text = trimmed(text);
    auto number = [&](std::size_t at, std::size_t digits) -> std::optional<int> {
        int value = 0;
        if (at + digits > text.size()) return std::nullopt;
        for (std::size_t i = at; i < at + digits; ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    const auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const auto hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (!year || !month || !day || !hour || !minute || !second || text[4] != '-' || text[7] != '-' ||
        text[10] != 'T' || text[13] != ':' || text[16] != ':' || *month < 1 || *month > 12 || *day < 1 ||
        *day > 31 || *hour > 23 || *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    std::string_view rest = text.substr(19);
    double fraction = 0;
    if (!rest.empty() && rest[0] == '.') {
        std::size_t digits = 1;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
        if (digits == 1) return std::nullopt;
        std::from_chars(rest.data(), rest.data() + digits, fraction);
        rest.remove_prefix(digits);
    }
    if (rest != "Z") return std::nullopt;
    // Days since 1970-01-01 of a civil date (proleptic Gregorian).
    const int y = *year - (*month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (*month + (*month > 2 ? -3 : 9)) + 2) / 5 + *day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t days = std::int64_t(era) * 146097 + dayOfEra - 719468;
    const std::int64_t seconds = days * 86400 + *hour * 3600 + *minute * 60 + *second;
    return double(seconds - kReferenceDateOffset) + fraction;
}

std::optional<PlistValue::Data> decodeBase64(std::string_view text) {
    PlistValue::Data out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t group = 0;
    int bits = 0;
    bool padded = false;
    for (const char c : text) {
        int value;
        if (c >= 'A' && c <= 'Z') value = c - 'A';
        else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
        else if (c >= '0' && c <= '9') value = c - '0' + 52;
        else if (c == '+') value = 62;
        else if (c == '/') value = 63;
        else if (c == '=') { padded = true; continue; }
        else if (isSpace(c)) continue;
        else return std::nullopt;
        if (padded) return std::nullopt;
        group = (group << 6) | std::uint32_t(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(std::uint8_t(group >> bits));
            group &= (1u << bits) - 1;
        }
    }
    return out;
}

struct Tag {
    std::string_view name;
    bool closing = false;
    bool empty = false;  // <name/>
};

// A plain walk over the markup: comments, processing instructions, CDATA
// sections and the document type are skipped as what they are, so text
// hidden in them never counts as an element. Recursion follows the real
// element nesting and stops at the depth limit.
class XmlReader {
public:
    XmlReader(std::string_view text, const PlistLimits& limits) : s_(text), budget_(limits) {}

    std::optional<PlistValue> read() {
        if (startsWith("\xEF\xBB\xBF")) p_ = 3;  // a UTF-8 byte order mark
        if (!skipProlog()) return std::nullopt;
        auto plist = readTag();
        if (!plist || plist->closing || plist->name != "plist" || plist->empty) return std::nullopt;
        if (!skipMisc()) return std::nullopt;
        auto tag = readTag();
        if (!tag || tag->closing) return std::nullopt;
        auto value = readValue(*tag, 1);
        if (!value || !skipMisc()) return std::nullopt;
        auto end = readTag();
        if (!end || !end->closing || end->name != "plist" || !skipMisc() || p_ != s_.size()) return std::nullopt;
        return value;
    }

private:
    bool startsWith(std::string_view prefix) const { return s_.substr(p_, prefix.size()) == prefix; }

    // Moves past the next `end`; false when there is none.
    bool skipPast(std::string_view end) {
        const std::size_t at = s_.find(end, p_);
        if (at == std::string_view::npos) return false;
        p_ = at + end.size();
        return true;
    }

    // <!DOCTYPE ...> with an optional internal subset in brackets, whose
    // declarations may quote '>' and ']' and hold comments.
    bool skipDoctype() {
        p_ += 9;
        int brackets = 0;
        while (p_ < s_.size()) {
            const char c = s_[p_];
            if (c == '"' || c == '\'') {
                const std::size_t close = s_.find(c, p_ + 1);
                if (close == std::string_view::npos) return false;
                p_ = close + 1;
            } else if (brackets > 0 && startsWith("<!--")) {
                if (!skipPast("-->")) return false;
            } else if (c == '[') {
                ++brackets, ++p_;
            } else if (c == ']') {
                if (--brackets < 0) return false;
                ++p_;
            } else if (c == '>' && brackets == 0) {
                ++p_;
                return true;
            } else {
                ++p_;
            }
        }
        return false;
    }

    // Whitespace, comments and processing instructions between elements.
    bool skipMisc() {
        for (;;) {
            while (p_ < s_.size() && isSpace(s_[p_])) ++p_;
            if (startsWith("<!--")) {
                p_ += 4;
                if (!skipPast("-->")) return false;
            } else if (startsWith("<?")) {
                if (!skipPast("?>")) return false;
            } else {
                return true;
            }
        }
    }

    bool skipProlog() {
        for (;;) {
            if (!skipMisc()) return false;
            if (!startsWith("<!DOCTYPE")) return true;
            if (!skipDoctype()) return false;
        }
    }

    // A start or end tag at the current position; attributes are skipped
    // (their quoted values may hold '>').
    std::optional<Tag> readTag() {
        if (p_ >= s_.size() || s_[p_] != '<') return std::nullopt;
        ++p_;
        Tag tag;
        if (p_ < s_.size() && s_[p_] == '/') {
            tag.closing = true;
            ++p_;
        }
        const std::size_t nameStart = p_;
        while (p_ < s_.size() && !isSpace(s_[p_]) && s_[p_] != '/' && s_[p_] != '>') ++p_;
        tag.name = s_.substr(nameStart, p_ - nameStart);
        if (tag.name.empty()) return std::nullopt;
        for (;;) {
            while (p_ < s_.size() && isSpace(s_[p_])) ++p_;
            if (p_ >= s_.size()) return std::nullopt;
            if (s_[p_] == '>') {
                ++p_;
                return tag;
            }
            if (tag.closing) return std::nullopt;
            if (startsWith("/>")) {
                p_ += 2;
                tag.empty = true;
                return tag;
            }
            // name = "value"
            while (p_ < s_.size() && !isSpace(s_[p_]) && s_[p_] != '=' && s_[p_] != '>' && s_[p_] != '/') ++p_;
            while (p_ < s_.size() && isSpace(s_[p_])) ++p_;
            if (p_ >= s_.size() || s_[p_] != '=') return std::nullopt;
            ++p_;
            while (p_ < s_.size() && isSpace(s_[p_])) ++p_;
            if (p_ >= s_.size() || (s_[p_] != '"' && s_[p_] != '\'')) return std::nullopt;
            const std::size_t close = s_.find(s_[p_], p_ + 1);
            if (close == std::string_view::npos) return std::nullopt;
            p_ = close + 1;
        }
    }

    bool appendEntity(std::string& out) {
        const std::size_t semicolon = s_.find(';', p_);
        if (semicolon == std::string_view::npos || semicolon - p_ > 12) return false;
        const std::string_view name = s_.substr(p_ + 1, semicolon - p_ - 1);
        p_ = semicolon + 1;
        if (name == "lt") out.push_back('<');
        else if (name == "gt") out.push_back('>');
        else if (name == "amp") out.push_back('&');
        else if (name == "quot") out.push_back('"');
        else if (name == "apos") out.push_back('\'');
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            std::uint32_t code = 0;
            const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
            // No NUL (the writer cannot store it), no surrogates, nothing past Unicode.
            if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || code == 0 ||
                code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
                return false;
            }
            appendUtf8(out, code);
        } else {
            return false;
        }
        return true;
    }

    // The text of an element up to its end tag `name`: entities replaced,
    // CDATA taken as it is, comments and processing instructions dropped.
    // The bytes are kept as they are (no line-end normalisation), so that
    // what we wrote reads back the same.
    std::optional<std::string> readText(std::string_view name) {
        std::string out;
        for (;;) {
            const std::size_t special = s_.find_first_of("<&", p_);
            if (special == std::string_view::npos) return std::nullopt;
            out.append(s_.substr(p_, special - p_));
            p_ = special;
            if (s_[p_] == '&') {
                if (!appendEntity(out)) return std::nullopt;
            } else if (startsWith("<![CDATA[")) {
                const std::size_t start = p_ + 9;
                if (!skipPast("]]>")) return std::nullopt;
                out.append(s_.substr(start, p_ - 3 - start));
            } else if (startsWith("<!--")) {
                p_ += 4;
                if (!skipPast("-->")) return std::nullopt;
            } else if (startsWith("<?")) {
                if (!skipPast("?>")) return std::nullopt;
            } else {
                auto end = readTag();
                if (!end || !end->closing || end->name != name) return std::nullopt;
                if (out.find('\0') != std::string::npos) return std::nullopt;
                return out;
            }
        }
    }

    // The text of an element that may also be written <name/>.
    std::optional<std::string> content(const Tag& tag) {
        if (tag.empty) return std::string();
        return readText(tag.name);
    }

    std::optional<PlistValue> readValue(const Tag& tag, int depth) {
        if (tag.closing || budget_.tooDeep(depth)) return std::nullopt;
        const std::string_view name = tag.name;
        if (name == "dict") return readDictionary(tag, depth);
        if (name == "array") return readArray(tag, depth);
        auto text = content(tag);
        if (!text || !budget_.take(text->size())) return std::nullopt;
        if (name == "string") return PlistValue(std::move(*text));
        if (name == "true" || name == "false") {
            if (!trimmed(*text).empty()) return std::nullopt;
            return PlistValue(name == "true");
        }
        if (name == "integer") {
            auto value = parseInteger(*text);
            return value ? std::optional<PlistValue>(PlistValue(static_cast<long long>(*value))) : std::nullopt;
        }
        if (name == "real") {
            auto value = parseReal(*text);
            return value ? std::optional<PlistValue>(PlistValue(*value)) : std::nullopt;
        }
        if (name == "date") {
            auto seconds = parseDate(*text);
            return seconds ? std::optional<PlistValue>(dateValue(*seconds)) : std::nullopt;
        }
        if (name == "data") {
            auto data = decodeBase64(*text);
            return data ? std::optional<PlistValue>(PlistValue(std::move(*data))) : std::nullopt;
        }
        return std::nullopt;
    }

    // Takes the items of a container up to its closing tag `name`, passing
    // each opening tag to `item`; false on anything else or a refused item.
    template <class Item>
    bool readItems(const Tag& tag, std::string_view name, Item&& item) {
        if (!budget_.take()) return false;
        if (tag.empty) return true;
        for (;;) {
            if (!skipMisc()) return false;
            auto next = readTag();
            if (!next) return false;
            if (next->closing) return next->name == name;
            if (!item(*next)) return false;
        }
    }

    std::optional<PlistValue> readArray(const Tag& tag, int depth) {
        PlistValue::Array array;
        const bool read = readItems(tag, "array", [&](const Tag& itemTag) {
            auto value = readValue(itemTag, depth + 1);
            if (value) array.push_back(std::move(*value));
            return value.has_value();
        });
        return read ? std::optional<PlistValue>(PlistValue(std::move(array))) : std::nullopt;
    }

    std::optional<PlistValue> readDictionary(const Tag& tag, int depth) {
        PlistValue::Dictionary dictionary;
        const bool read = readItems(tag, "dict", [&](const Tag& keyTag) {
            if (keyTag.name != "key") return false;
            auto key = content(keyTag);
            if (!key || !budget_.take(key->size()) || !skipMisc()) return false;
            auto valueTag = readTag();
            if (!valueTag) return false;
            auto value = readValue(*valueTag, depth + 1);
            if (!value) return false;
            dictionary.insert_or_assign(std::move(*key), std::move(*value));
            return true;
        });
        return read ? std::optional<PlistValue>(PlistValue(std::move(dictionary))) : std::nullopt;
    }

    std::string_view s_;
    std::size_t p_ = 0;
    Budget budget_;
};

// --- Binary -------------------------------------------------------------------------

std::uint64_t readBigEndian(const std::uint8_t* p, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = (value << 8) | p[i];
    return value;
}

// bplist00: objects, an offset table and a 32-byte trailer. Objects refer to
// each other by index; a value shared by many references is built (and
// counted) once per reference, as the result holds it that often.
class BinaryReader {
public:
    BinaryReader(std::span<const std::uint8_t> data, const PlistLimits& limits) : d_(data), budget_(limits) {}

    std::optional<PlistValue> read() {
        constexpr std::size_t kHeader = 8, kTrailer = 32;
        if (d_.size() < kHeader + kTrailer) return std::nullopt;
        const std::uint8_t* trailer = d_.data() + d_.size() - kTrailer;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        objectCount_ = readBigEndian(trailer + 8, 8);
        const std::uint64_t top = readBigEndian(trailer + 16, 8);
        tableOffset_ = readBigEndian(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8 || objectCount_ == 0 ||
            top >= objectCount_ || tableOffset_ < kHeader || tableOffset_ >= d_.size() - kTrailer ||
            objectCount_ > (d_.size() - kTrailer - tableOffset_) / offsetSize_) {
            return std::nullopt;
        }
        open_.assign(std::size_t(objectCount_), false);
        // The top value is level 1, as in the XML reader.
        return object(top, 1);
    }

private:
    // The count of a container, string or data object after its marker: the
    // low nibble, or an integer object that follows when it is 0xF.
    bool count(std::uint64_t& position, std::uint8_t marker, std::uint64_t& result) const {
        result = marker & 0x0F;
        if (result != 0x0F) return true;
        if (position >= tableOffset_ || (d_[position] >> 4) != 0x1) return false;
        const std::size_t size = std::size_t(1) << (d_[position] & 0x0F);
        if (size > 8 || position + 1 + size > tableOffset_) return false;
        result = readBigEndian(&d_[position + 1], size);
        position += 1 + size;
        return true;
    }

    bool fits(std::uint64_t position, std::uint64_t bytes) const {
        return position <= tableOffset_ && bytes <= tableOffset_ - position;
    }

    std::optional<std::string> text(int kind, std::uint64_t position, std::uint64_t length) const {
        std::string out;
        if (kind == 0x6) {
            if (length > tableOffset_ / 2 || !fits(position, length * 2)) return std::nullopt;
            out.reserve(std::size_t(length));
            for (std::uint64_t i = 0; i < length; ++i) {
                std::uint32_t unit = std::uint32_t(readBigEndian(&d_[position + 2 * i], 2));
                if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length) {
                    const std::uint32_t low = std::uint32_t(readBigEndian(&d_[position + 2 * (i + 1)], 2));
                    if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                } else if (unit >= 0xD800 && unit <= 0xDFFF) {
                    return std::nullopt;
                }
                appendUtf8(out, unit);
            }
        } else {
            if (!fits(position, length)) return std::nullopt;
            out.assign(reinterpret_cast<const char*>(&d_[position]), std::size_t(length));
        }
        // Our strings never hold NUL: the writer could not store it.
        if (out.find('\0') != std::string::npos) return std::nullopt;
        return out;
    }

    std::optional<PlistValue> object(std::uint64_t index, int depth) {
        if (index >= objectCount_ || budget_.tooDeep(depth) || open_[std::size_t(index)]) return std::nullopt;
        const std::uint64_t offset = readBigEndian(&d_[tableOffset_ + index * offsetSize_], offsetSize_);
        if (offset < 8 || offset >= tableOffset_) return std::nullopt;
        const std::uint8_t marker = d_[offset];
        const int kind = marker >> 4;
        const int info = marker & 0x0F;
        std::uint64_t position = offset + 1;
        switch (kind) {
        case 0x0:
            if (info != 0x8 && info != 0x9) return std::nullopt;
            if (!budget_.take()) return std::nullopt;
            return PlistValue(info == 0x9);
        case 0x1: {
            if (info > 4 || !fits(position, std::uint64_t(1) << info) || !budget_.take()) return std::nullopt;
            const std::size_t size = std::size_t(1) << info;
            // 16-byte integers hold the 64-bit value in their low half.
            const std::uint64_t raw = readBigEndian(&d_[position + (size == 16 ? 8 : 0)], std::min<std::size_t>(size, 8));
            return PlistValue(static_cast<long long>(raw));
        }
        case 0x2:
        case 0x3: {
            if ((kind == 0x2 && info != 2 && info != 3) || (kind == 0x3 && info != 3)) return std::nullopt;
            const std::size_t size = std::size_t(1) << info;
            if (!fits(position, size) || !budget_.take()) return std::nullopt;
            const std::uint64_t bits = readBigEndian(&d_[position], size);
            double value;
            if (size == 4) {
                float single;
                const auto narrow = std::uint32_t(bits);
                std::memcpy(&single, &narrow, 4);
                value = single;
            } else {
                std::memcpy(&value, &bits, 8);
            }
            return kind == 0x3 ? dateValue(value) : PlistValue(value);
        }
        case 0x4: {
            std::uint64_t length = 0;
            if (!count(position, marker, length) || !fits(position, length) || !budget_.take(length)) return std::nullopt;
            return PlistValue(PlistValue::Data(&d_[position], &d_[position] + length));
        }
        case 0x5:
        case 0x6:
        case 0x7: {
            std::uint64_t length = 0;
            if (!count(position, marker, length)) return std::nullopt;
            auto value = text(kind, position, length);
            if (!value || !budget_.take(value->size())) return std::nullopt;
            return PlistValue(std::move(*value));
        }
        case 0x8: {
            const std::size_t size = std::size_t(info) + 1;
            if (size > 8 || !fits(position, size) || !budget_.take()) return std::nullopt;
            const std::uint64_t uid = readBigEndian(&d_[position], size);
            if (uid > std::uint64_t(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
            return PropertyList::uid(uid);
        }
        case 0xA:
        case 0xC:
        case 0xD:
            return container(index, kind, marker, position, depth);
        default:
            return std::nullopt;
        }
    }

    std::optional<PlistValue> container(std::uint64_t index, int kind, std::uint8_t marker, std::uint64_t position,
                                        int depth) {
        std::uint64_t entries = 0;
        if (!count(position, marker, entries) || !budget_.take()) return std::nullopt;
        const std::uint64_t refs = kind == 0xD ? 2 : 1;
        if (entries > tableOffset_ || !fits(position, entries * refs * refSize_)) return std::nullopt;
        auto ref = [&](std::uint64_t i) { return readBigEndian(&d_[position + i * refSize_], refSize_); };
        open_[std::size_t(index)] = true;
        std::optional<PlistValue> result;
        if (kind == 0xD) {
            PlistValue::Dictionary dictionary;
            for (std::uint64_t i = 0; i < entries; ++i) {
                auto key = object(ref(i), depth + 1);
                const std::string* name = key ? key->get<std::string>() : nullptr;
                auto value = name ? object(ref(entries + i), depth + 1) : std::nullopt;
                if (!value) return std::nullopt;
                dictionary.insert_or_assign(std::move(*key->get<std::string>()), std::move(*value));
            }
            result = PlistValue(std::move(dictionary));
        } else {
            PlistValue::Array array;
            for (std::uint64_t i = 0; i < entries; ++i) {
                auto value = object(ref(i), depth + 1);
                if (!value) return std::nullopt;
                array.push_back(std::move(*value));
            }
            result = PlistValue(std::move(array));
        }
        open_[std::size_t(index)] = false;
        return result;
    }

    std::span<const std::uint8_t> d_;
    Budget budget_;
    std::size_t offsetSize_ = 0;
    std::size_t refSize_ = 0;
    std::uint64_t objectCount_ = 0;
    std::uint64_t tableOffset_ = 0;
    std::vector<bool> open_;  // objects on the current path: a reference back is a cycle
};

}  // namespace

std::optional<PlistValue> readXml(std::string_view text, const PlistLimits& limits) {
    return XmlReader(text, limits).read();
}

std::optional<PlistValue> readBinary(std::span<const std::uint8_t> data, const PlistLimits& limits) {
    return BinaryReader(data, limits).read();
}

}  // namespace plat::plist_reader
