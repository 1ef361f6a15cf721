#include "platform/PropertyList.h"

#include "platform/FileManager.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include <plist/plist.h>

namespace plat {

// --- PlistValue -------------------------------------------------------------------

std::optional<bool> PlistValue::asBool() const {
    if (auto b = get<bool>()) return *b;
    if (auto i = get<std::int64_t>()) return *i != 0;
    if (auto r = get<double>()) return *r != 0.0;
    return std::nullopt;
}

std::optional<std::int64_t> PlistValue::asInteger() const {
    if (auto i = get<std::int64_t>()) return *i;
    if (auto r = get<double>()) {
        if (!std::isfinite(*r) || *r <= -9223372036854775808.0 || *r >= 9223372036854775808.0) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(*r);
    }
    return std::nullopt;
}

std::optional<double> PlistValue::asReal() const {
    if (auto r = get<double>()) return *r;
    if (auto i = get<std::int64_t>()) return static_cast<double>(*i);
    return std::nullopt;
}

std::optional<std::string> PlistValue::asString() const {
    if (auto s = get<std::string>()) return *s;
    return std::nullopt;
}

const PlistValue* PlistValue::find(std::string_view key) const {
    const auto* dict = get<Dictionary>();
    if (!dict) return nullptr;
    auto it = dict->find(key);
    return it == dict->end() ? nullptr : &it->second;
}

PlistValue* PlistValue::find(std::string_view key) {
    auto* dict = get<Dictionary>();
    if (!dict) return nullptr;
    auto it = dict->find(key);
    return it == dict->end() ? nullptr : &it->second;
}

PlistValue& PlistValue::operator[](const std::string& key) {
    if (!is<Dictionary>()) value_ = Dictionary{};
    return std::get<Dictionary>(value_)[key];
}

void PlistValue::append(PlistValue value) {
    if (!is<Array>()) value_ = Array{};
    std::get<Array>(value_).push_back(std::move(value));
}

std::size_t PlistValue::size() const {
    if (auto a = get<Array>()) return a->size();
    if (auto d = get<Dictionary>()) return d->size();
    return 0;
}

// --- Conversion to and from libplist nodes ----------------------------------------

namespace {

// Nesting deeper than this is refused: it only comes from hostile files and
// would exhaust the stack.
constexpr int kMaxDepth = 256;

// Property-list dates count from 2001-01-01 00:00:00 UTC.
constexpr std::int64_t kReferenceDateOffset = 978307200;

struct NodeDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using CString = std::unique_ptr<char, FreeDeleter>;

std::optional<PlistValue> fromNode(plist_t node, int depth) {
    if (!node || depth > kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t v = 0;
        plist_get_bool_val(node, &v);
        return PlistValue(v != 0);
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        // libplist keeps signed integers in two's complement.
        return PlistValue(static_cast<std::int64_t>(v));
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return PlistValue(v);
    }
    case PLIST_STRING: {
        // By pointer and length: libplist's copying getter asserts (ending
        // the process) on a binary string holding a NUL. Such text cannot be
        // written back either, so the list is refused.
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        if (!text) return PlistValue(std::string());
        if (std::memchr(text, '\0', std::size_t(length)) != nullptr) return std::nullopt;
        return PlistValue(std::string(text, std::size_t(length)));
    }
    case PLIST_DATE: {
        int32_t seconds = 0, microseconds = 0;
        plist_get_date_val(node, &seconds, &microseconds);
        const auto since = std::chrono::seconds(std::int64_t(seconds) + kReferenceDateOffset) +
                           std::chrono::microseconds(microseconds);
        return PlistValue(PlistValue::Date(std::chrono::duration_cast<PlistValue::Date::duration>(since)));
    }
    case PLIST_DATA: {
        char* raw = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &raw, &length);
        CString bytes(raw);
        PlistValue::Data data;
        if (bytes && length > 0) data.assign(bytes.get(), bytes.get() + length);
        return PlistValue(std::move(data));
    }
    case PLIST_ARRAY: {
        PlistValue::Array array;
        const uint32_t count = plist_array_get_size(node);
        array.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            auto item = fromNode(plist_array_get_item(node, i), depth + 1);
            if (!item) return std::nullopt;
            array.push_back(std::move(*item));
        }
        return PlistValue(std::move(array));
    }
    case PLIST_DICT: {
        PlistValue::Dictionary dict;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        if (!iter) return std::nullopt;
        std::optional<PlistValue> result;
        bool ok = true;
        for (;;) {
            char* rawKey = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iter, &rawKey, &item);
            CString key(rawKey);
            if (!item) break;
            auto value = fromNode(item, depth + 1);
            if (!key || !value) {
                ok = false;
                break;
            }
            dict.insert_or_assign(std::string(key.get()), std::move(*value));
        }
        std::free(iter);
        if (!ok) return std::nullopt;
        return PlistValue(std::move(dict));
    }
    case PLIST_UID: {
        // Keyed archives refer to their objects by UID; held as the usual
        // one-key dictionary {"CF$UID": n}, which toNode turns back.
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        if (v > uint64_t(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        PlistValue::Dictionary uid;
        uid.emplace(std::string(kUidKey), PlistValue(static_cast<long long>(v)));
        return PlistValue(std::move(uid));
    }
    default:  // keys outside dictionaries, none
        return std::nullopt;
    }
}

// Text libplist can store unchanged: no NUL (its strings are C strings) and,
// for the binary format, which re-encodes non-ASCII text, valid UTF-8.
bool storableText(std::string_view text, bool binary) {
    if (text.find('\0') != std::string_view::npos) return false;
    if (!binary) return true;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t j = 1; j < length; ++j) {
            if ((static_cast<unsigned char>(text[i + j]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

Node toNode(const PlistValue& value, int depth, bool binary) {
    if (depth > kMaxDepth) return nullptr;
    switch (value.kind()) {
    case PlistValue::Kind::Null:
        return nullptr;
    case PlistValue::Kind::Boolean:
        return Node(plist_new_bool(*value.get<bool>() ? 1 : 0));
    case PlistValue::Kind::Integer:
        return Node(plist_new_uint(static_cast<uint64_t>(*value.get<std::int64_t>())));
    case PlistValue::Kind::Real:
        return Node(plist_new_real(*value.get<double>()));
    case PlistValue::Kind::String:
        if (!storableText(*value.get<std::string>(), binary)) return nullptr;
        return Node(plist_new_string(value.get<std::string>()->c_str()));
    case PlistValue::Kind::Date: {
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                            value.get<PlistValue::Date>()->time_since_epoch())
                            .count() -
                        kReferenceDateOffset * 1000000;
        std::int64_t seconds = us / 1000000;
        std::int64_t micro = us % 1000000;
        if (micro < 0) {
            micro += 1000000;
            seconds -= 1;
        }
        if (seconds < std::numeric_limits<int32_t>::min() || seconds > std::numeric_limits<int32_t>::max()) {
            return nullptr;
        }
        return Node(plist_new_date(static_cast<int32_t>(seconds), static_cast<int32_t>(micro)));
    }
    case PlistValue::Kind::Data: {
        const auto& data = *value.get<PlistValue::Data>();
        return Node(plist_new_data(reinterpret_cast<const char*>(data.data()), data.size()));
    }
    case PlistValue::Kind::Array: {
        Node array(plist_new_array());
        for (const auto& item : *value.get<PlistValue::Array>()) {
            Node child = toNode(item, depth + 1, binary);
            if (!child) return nullptr;
            plist_array_append_item(array.get(), child.release());
        }
        return array;
    }
    case PlistValue::Kind::Dictionary: {
        if (const auto uid = PropertyList::uidValue(value)) return Node(plist_new_uid(*uid));
        Node dict(plist_new_dict());
        for (const auto& [key, item] : *value.get<PlistValue::Dictionary>()) {
            Node child = toNode(item, depth + 1, binary);
            if (!child || !storableText(key, binary)) return nullptr;
            plist_dict_set_item(dict.get(), key.c_str(), child.release());
        }
        return dict;
    }
    }
    return nullptr;
}

// libplist's XML reader recurses once per nesting level; measure the depth
// first so that a hostile file cannot overflow the stack.
bool xmlNestingWithinLimit(std::string_view text) {
    int depth = 0;
    for (std::size_t i = text.find('<'); i != std::string_view::npos; i = text.find('<', i + 1)) {
        const std::string_view rest = text.substr(i + 1);
        const bool closing = !rest.empty() && rest[0] == '/';
        const std::string_view name = closing ? rest.substr(1) : rest;
        if (name.rfind("array", 0) != 0 && name.rfind("dict", 0) != 0) continue;
        const std::size_t end = rest.find('>');
        const bool selfClosing = end != std::string_view::npos && end > 0 && rest[end - 1] == '/';
        if (closing) {
            --depth;
        } else if (!selfClosing && ++depth > kMaxDepth) {
            return false;
        }
    }
    return true;
}

std::uint64_t readBigEndian(const std::uint8_t* p, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = (value << 8) | p[i];
    return value;
}

// libplist's binary reader also recurses per level and expands shared
// objects; walk the object graph first (without recursion) and refuse
// cycles, deep nesting and graphs that would expand beyond reason.
bool binaryGraphWithinLimits(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kHeader = 8, kTrailer = 32;
    constexpr std::uint64_t kMaxExpandedObjects = 10'000'000;
    if (size < kHeader + kTrailer) return false;
    const std::uint8_t* trailer = data + size - kTrailer;
    const std::size_t offsetSize = trailer[6];
    const std::size_t refSize = trailer[7];
    const std::uint64_t objectCount = readBigEndian(trailer + 8, 8);
    const std::uint64_t topObject = readBigEndian(trailer + 16, 8);
    const std::uint64_t tableOffset = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || objectCount == 0 ||
        topObject >= objectCount || tableOffset < kHeader || tableOffset >= size - kTrailer ||
        objectCount > (size - kTrailer - tableOffset) / offsetSize) {
        return false;
    }
    const std::uint64_t bodyEnd = tableOffset;

    auto objectOffset = [&](std::uint64_t index) {
        return readBigEndian(data + tableOffset + index * offsetSize, offsetSize);
    };
    // The references held by an object, or false when it is malformed.
    auto children = [&](std::uint64_t index, std::vector<std::uint64_t>& out) {
        out.clear();
        const std::uint64_t offset = objectOffset(index);
        if (offset < kHeader || offset >= bodyEnd) return false;
        const std::uint8_t marker = data[offset];
        const int kind = marker >> 4;
        if (kind != 0xA && kind != 0xC && kind != 0xD) return true;
        std::uint64_t count = marker & 0x0F;
        std::uint64_t position = offset + 1;
        if (count == 0x0F) {
            if (position >= bodyEnd || (data[position] >> 4) != 0x1) return false;
            const std::size_t intSize = std::size_t(1) << (data[position] & 0x0F);
            if (intSize > 8 || position + 1 + intSize > bodyEnd) return false;
            count = readBigEndian(data + position + 1, intSize);
            position += 1 + intSize;
        }
        const std::uint64_t refs = kind == 0xD ? count * 2 : count;
        if (count > bodyEnd || refs > (bodyEnd - position) / refSize) return false;
        out.reserve(static_cast<std::size_t>(refs));
        for (std::uint64_t i = 0; i < refs; ++i) {
            const std::uint64_t ref = readBigEndian(data + position + i * refSize, refSize);
            if (ref >= objectCount) return false;
            out.push_back(ref);
        }
        return true;
    };

    // Iterative post-order walk: longest path and expanded size per object.
    enum : std::uint8_t { Unseen, Open, Done };
    std::vector<std::uint8_t> state(static_cast<std::size_t>(objectCount), Unseen);
    std::vector<std::uint32_t> height(static_cast<std::size_t>(objectCount), 0);
    std::vector<std::uint64_t> expanded(static_cast<std::size_t>(objectCount), 0);
    struct Frame {
        std::uint64_t index;
        std::vector<std::uint64_t> refs;
        std::size_t next = 0;
    };
    std::vector<Frame> stack;
    stack.push_back({topObject, {}, 0});
    if (!children(topObject, stack.back().refs)) return false;
    state[topObject] = Open;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.refs.size()) {
            const std::uint64_t child = frame.refs[frame.next++];
            if (state[child] == Open) return false;  // a cycle
            if (state[child] == Done) continue;
            if (stack.size() > static_cast<std::size_t>(kMaxDepth)) return false;
            Frame next{child, {}, 0};
            if (!children(child, next.refs)) return false;
            state[child] = Open;
            stack.push_back(std::move(next));
            continue;
        }
        std::uint32_t h = 0;
        std::uint64_t total = 1;
        for (std::uint64_t child : frame.refs) {
            h = std::max(h, height[child] + 1);
            total += expanded[child];
            if (total > kMaxExpandedObjects) return false;
        }
        if (h > static_cast<std::uint32_t>(kMaxDepth)) return false;
        height[frame.index] = h;
        expanded[frame.index] = total;
        state[frame.index] = Done;
        stack.pop_back();
    }
    return true;
}

// libplist's getters assert (ending the process) when a string or key holds
// a NUL, which a binary list can encode; such text could not be written back
// either. True when no string object holds one.
bool binaryStringsWithoutNul(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kTrailer = 32;
    const std::uint8_t* trailer = data + size - kTrailer;
    const std::size_t offsetSize = trailer[6];
    const std::uint64_t objectCount = readBigEndian(trailer + 8, 8);
    const std::uint64_t tableOffset = readBigEndian(trailer + 24, 8);
    for (std::uint64_t index = 0; index < objectCount; ++index) {
        const std::uint64_t offset = readBigEndian(data + tableOffset + index * offsetSize, offsetSize);
        if (offset >= tableOffset) continue;  // libplist refuses it itself
        const std::uint8_t marker = data[offset];
        const int kind = marker >> 4;
        if (kind != 0x5 && kind != 0x6 && kind != 0x7) continue;
        std::uint64_t count = marker & 0x0F;
        std::uint64_t position = offset + 1;
        if (count == 0x0F) {
            if (position >= tableOffset || (data[position] >> 4) != 0x1) continue;
            const std::size_t intSize = std::size_t(1) << (data[position] & 0x0F);
            if (intSize > 8 || position + 1 + intSize > tableOffset) continue;
            count = readBigEndian(data + position + 1, intSize);
            position += 1 + intSize;
        }
        const std::uint64_t unit = kind == 0x6 ? 2 : 1;
        if (count > (size - position) / unit) continue;  // runs past the data: refused by libplist
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint8_t* p = data + position + i * unit;
            if (p[0] == 0 && (unit == 1 || p[1] == 0)) return false;
        }
    }
    return true;
}

}  // namespace

// --- PropertyList -----------------------------------------------------------------

std::optional<std::uint64_t> PropertyList::uidValue(const PlistValue& value) {
    const auto* dict = value.get<PlistValue::Dictionary>();
    if (!dict || dict->size() != 1) return std::nullopt;
    const PlistValue* number = value.find(kUidKey);
    const std::int64_t* n = number ? number->get<std::int64_t>() : nullptr;
    if (!n || *n < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*n);
}

std::optional<PlistValue> PropertyList::fromData(const void* data, std::size_t size) {
    if (!data || size == 0 || size > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    const char* bytes = static_cast<const char*>(data);
    plist_t root = nullptr;
    if (size >= 8 && std::memcmp(bytes, "bplist00", 8) == 0) {
        if (!binaryGraphWithinLimits(static_cast<const std::uint8_t*>(data), size) ||
            !binaryStringsWithoutNul(static_cast<const std::uint8_t*>(data), size)) {
            return std::nullopt;
        }
        plist_from_bin(bytes, static_cast<uint32_t>(size), &root);
    } else {
        // The XML reader wants to see a plist element; anything else is not ours.
        const std::string_view text(bytes, size);
        // XML text never holds a NUL; libplist would keep it in a string or
        // key and then assert on it.
        if (text.find("<plist") == std::string_view::npos || text.find('\0') != std::string_view::npos ||
            !xmlNestingWithinLimit(text)) {
            return std::nullopt;
        }
        plist_from_xml(bytes, static_cast<uint32_t>(size), &root);
    }
    Node owner(root);
    if (!root) return std::nullopt;
    return fromNode(root, 0);
}

std::optional<std::vector<std::uint8_t>> PropertyList::toData(const PlistValue& value, PlistFormat format) {
    Node root = toNode(value, 0, format == PlistFormat::Binary);
    if (!root) return std::nullopt;
    char* raw = nullptr;
    uint32_t length = 0;
    if (format == PlistFormat::Binary) {
        plist_to_bin(root.get(), &raw, &length);
    } else {
        plist_to_xml(root.get(), &raw, &length);
    }
    CString bytes(raw);
    if (!bytes || length == 0) return std::nullopt;
    return std::vector<std::uint8_t>(bytes.get(), bytes.get() + length);
}

std::optional<PlistValue> PropertyList::readFile(const std::filesystem::path& path, std::error_code* error) {
    // Preference and resource files are small; a huge one is not ours.
    auto data = FileManager::contentsOfFile(path, 256u << 20, error);
    if (!data) return std::nullopt;
    auto value = fromData(data->data(), data->size());
    if (!value && error) *error = std::make_error_code(std::errc::illegal_byte_sequence);
    return value;
}

bool PropertyList::writeFile(const std::filesystem::path& path, const PlistValue& value, PlistFormat format,
                             std::error_code* error) {
    auto data = toData(value, format);
    if (!data) {
        if (error) *error = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    return FileManager::createFile(path, std::span<const std::uint8_t>(*data), std::nullopt, error);
}

}  // namespace plat
