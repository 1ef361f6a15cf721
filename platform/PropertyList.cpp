#include "platform/PropertyList.h"

#include "platform/FileManager.h"
#include "platform/PropertyListReader.h"

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
    // A real counts only where it could be an integer: a date no reader can
    // hold comes back as a real too (NaN, infinite, 1e300), and must not
    // switch anything on.
    if (auto r = get<double>()) {
        if (!asInteger()) return std::nullopt;
        return *r != 0.0;
    }
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

struct NodeDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using CString = std::unique_ptr<char, FreeDeleter>;

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

// `depth` counts levels as the readers do, the top value being 1: nothing
// deeper than they take is built (libplist recurses once per level).
Node toNode(const PlistValue& value, int depth, bool binary) {
    if (depth > PlistLimits{}.maxDepth) return nullptr;
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
                        plist_reader::kReferenceDateOffset * 1000000;
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

std::optional<PlistValue> PropertyList::fromData(const void* data, std::size_t size, const PlistLimits& limits) {
    if (!data || size == 0 || size > limits.maxBytes) return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (size >= 8 && std::memcmp(bytes, "bplist00", 8) == 0) {
        return plist_reader::readBinary(std::span<const std::uint8_t>(bytes, size), limits);
    }
    return plist_reader::readXml(std::string_view(static_cast<const char*>(data), size), limits);
}

std::optional<std::vector<std::uint8_t>> PropertyList::toData(const PlistValue& value, PlistFormat format) {
    Node root = toNode(value, 1, format == PlistFormat::Binary);
    if (!root) return std::nullopt;
    char* raw = nullptr;
    uint32_t length = 0;
    if (format == PlistFormat::Binary) {
        plist_to_bin(root.get(), &raw, &length);
    } else {
        plist_to_xml(root.get(), &raw, &length);
    }
    CString bytes(raw);
    root.reset();
    if (!bytes || length == 0) return std::nullopt;
    // What the reader measures decides, not an estimate of it: a list it
    // would refuse (a binary list of shared data grows several-fold as XML)
    // would lose everything in it at the next start.
    if (!fromData(bytes.get(), length)) return std::nullopt;
    return std::vector<std::uint8_t>(bytes.get(), bytes.get() + length);
}

std::optional<PlistValue> PropertyList::readFile(const std::filesystem::path& path, std::error_code* error,
                                                const PlistLimits& limits) {
    // A file larger than the limits allow is refused before it is read.
    auto data = FileManager::contentsOfFile(path, limits.maxBytes, error);
    if (!data) return std::nullopt;
    auto value = fromData(data->data(), data->size(), limits);
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
