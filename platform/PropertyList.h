#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

namespace plat {

// One value of a property list: dictionary, array, string, integer, real,
// boolean, date or data. A default-made value is null, which property lists
// cannot store: writing one fails. Plain value, copied freely.
class PlistValue {
public:
    using Dictionary = std::map<std::string, PlistValue, std::less<>>;
    using Array = std::vector<PlistValue>;
    using Data = std::vector<std::uint8_t>;
    using Date = std::chrono::system_clock::time_point;
    using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string, Date, Data, Array,
                                 Dictionary>;

    enum class Kind { Null, Boolean, Integer, Real, String, Date, Data, Array, Dictionary };

    PlistValue() = default;
    PlistValue(bool v) : value_(v) {}
    PlistValue(int v) : value_(std::int64_t(v)) {}
    PlistValue(long v) : value_(std::int64_t(v)) {}
    PlistValue(long long v) : value_(std::int64_t(v)) {}
    PlistValue(unsigned v) : value_(std::int64_t(v)) {}
    PlistValue(unsigned long v) : value_(static_cast<std::int64_t>(v)) {}
    PlistValue(unsigned long long v) : value_(static_cast<std::int64_t>(v)) {}
    PlistValue(double v) : value_(v) {}
    PlistValue(std::string v) : value_(std::move(v)) {}
    PlistValue(std::string_view v) : value_(std::string(v)) {}
    PlistValue(const char* v) : value_(std::string(v ? v : "")) {}
    PlistValue(Date v) : value_(v) {}
    PlistValue(Data v) : value_(std::move(v)) {}
    PlistValue(Array v) : value_(std::move(v)) {}
    PlistValue(Dictionary v) : value_(std::move(v)) {}

    static PlistValue dictionary() { return PlistValue(Dictionary{}); }
    static PlistValue array() { return PlistValue(Array{}); }

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool isNull() const { return value_.index() == 0; }
    template <class T> bool is() const { return std::holds_alternative<T>(value_); }
    template <class T> const T* get() const { return std::get_if<T>(&value_); }
    template <class T> T* get() { return std::get_if<T>(&value_); }
    const Storage& storage() const { return value_; }

    // Typed reads: empty when the value is of another kind. asInteger and
    // asReal also accept the other number kind (reals are truncated toward
    // zero, non-finite or out-of-range ones refused); asBool accepts numbers.
    std::optional<bool> asBool() const;
    std::optional<std::int64_t> asInteger() const;
    std::optional<double> asReal() const;
    std::optional<std::string> asString() const;

    // Dictionary access. find() is null when this is no dictionary or the key
    // is absent; operator[] turns a null value into a dictionary first.
    const PlistValue* find(std::string_view key) const;
    PlistValue* find(std::string_view key);
    PlistValue& operator[](const std::string& key);
    // Array access: append turns a null value into an array first.
    void append(PlistValue value);
    // Number of elements of an array or dictionary, else 0.
    std::size_t size() const;

    friend bool operator==(const PlistValue&, const PlistValue&) = default;

private:
    Storage value_;
};

enum class PlistFormat { Xml, Binary };

inline constexpr std::string_view kUidKey = "CF$UID";

// What one property list may grow to when read. Settings and resource files
// hold at most a few thousand values and a few megabytes; a list beyond
// these bounds is refused as unreadable, whatever its file size: a binary
// list can refer to one object many times, and each reference is counted.
struct PlistLimits {
    int maxDepth = 256;                      // levels of values, the top one counting 1
    std::uint64_t maxValues = 200'000;       // every value and key, as expanded
    std::uint64_t maxBytes = 32ull << 20;    // the file, and its text and data as expanded
};

// Reading property lists (XML or binary) with our own bounded readers;
// writing them through libplist.
class PropertyList {
public:
    // Parses XML or binary data (told apart by the binary signature). Empty
    // for anything that is not a well-formed property list within `limits`.
    // A date that cannot be held or written back (not finite, or beyond the
    // years the format's writer takes) is read as a real number of seconds
    // since 2001-01-01, so the list still reads and writes back; a reader
    // that wants a date sees a value of the wrong type.
    static std::optional<PlistValue> fromData(const void* data, std::size_t size, const PlistLimits& limits = {});
    static std::optional<PlistValue> fromData(std::string_view data, const PlistLimits& limits = {}) {
        return fromData(data.data(), data.size(), limits);
    }
    // The list of `value` in that format; empty when the value cannot be
    // stored (a null value, text with NUL, a date out of range) or when our
    // own reader would refuse the list made of it under the default limits
    // (too deep, too many values, too large): nothing we write is one we
    // cannot read back.
    static std::optional<std::vector<std::uint8_t>> toData(const PlistValue& value,
                                                           PlistFormat format = PlistFormat::Xml);

    static std::optional<PlistValue> readFile(const std::filesystem::path& path,
                                              std::error_code* error = nullptr, const PlistLimits& limits = {});
    // A UID (the object references of keyed archives) is held as the
    // one-key dictionary {"CF$UID": n}; such a dictionary is written as a UID.
    static std::optional<std::uint64_t> uidValue(const PlistValue& value);
    static PlistValue uid(std::uint64_t n) {
        return PlistValue(PlistValue::Dictionary{{std::string(kUidKey), PlistValue(static_cast<unsigned long long>(n))}});
    }

    // Written atomically: a failed write, or a value toData refuses, leaves
    // an existing file untouched.
    static bool writeFile(const std::filesystem::path& path, const PlistValue& value,
                          PlistFormat format = PlistFormat::Xml, std::error_code* error = nullptr);
};

}  // namespace plat
