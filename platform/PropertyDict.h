#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace plat {

class PropertyValue;

// A dictionary of image properties: the keys below at the top level, and
// metadata dictionaries (EXIF, TIFF, GPS, IPTC, XMP, JFIF, PNG, GIF) nested
// under their own keys. Plain values, copied freely.
class PropertyDict {
public:
    using Map = std::map<std::string, PropertyValue, std::less<>>;

    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    bool contains(std::string_view key) const;
    const PropertyValue* find(std::string_view key) const;
    void set(std::string key, PropertyValue value);
    void erase(std::string_view key);
    void clear() { entries_.clear(); }

    // Typed look-ups: empty when the key is absent or holds another kind.
    // number() accepts integers, reals and booleans.
    std::optional<double> number(std::string_view key) const;
    std::optional<std::int64_t> integer(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<std::string> string(std::string_view key) const;
    const PropertyDict* dict(std::string_view key) const;
    // The nested dictionary under `key`, created empty when absent (an entry
    // of another kind is replaced).
    PropertyDict& dictForUpdate(const std::string& key);

    const Map& entries() const { return entries_; }
    Map::const_iterator begin() const { return entries_.begin(); }
    Map::const_iterator end() const { return entries_.end(); }

    friend bool operator==(const PropertyDict&, const PropertyDict&);

private:
    Map entries_;
};

using PropertyArray = std::vector<PropertyValue>;
using PropertyData = std::vector<std::uint8_t>;

class PropertyValue {
public:
    using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string,
                                 PropertyData, PropertyArray, PropertyDict>;

    PropertyValue() = default;
    PropertyValue(bool v) : value_(v) {}
    PropertyValue(int v) : value_(std::int64_t(v)) {}
    PropertyValue(unsigned v) : value_(std::int64_t(v)) {}
    PropertyValue(long v) : value_(std::int64_t(v)) {}
    PropertyValue(long long v) : value_(std::int64_t(v)) {}
    PropertyValue(double v) : value_(v) {}
    PropertyValue(std::string v) : value_(std::move(v)) {}
    PropertyValue(const char* v) : value_(std::string(v)) {}
    PropertyValue(PropertyData v) : value_(std::move(v)) {}
    PropertyValue(PropertyArray v) : value_(std::move(v)) {}
    PropertyValue(PropertyDict v) : value_(std::move(v)) {}

    const Storage& storage() const { return value_; }
    template <class T> bool is() const { return std::holds_alternative<T>(value_); }
    template <class T> const T* get() const { return std::get_if<T>(&value_); }
    template <class T> T* get() { return std::get_if<T>(&value_); }

    std::optional<double> asNumber() const;
    // Text of a string, or a number written out (integers without a point).
    std::optional<std::string> asText() const;

    friend bool operator==(const PropertyValue& a, const PropertyValue& b) {
        return a.value_ == b.value_;
    }

private:
    Storage value_;
};

// Keys of image properties. Top level: what an image source reports and what
// an image destination takes.
namespace prop {
inline constexpr const char* PixelWidth = "PixelWidth";        // integer
inline constexpr const char* PixelHeight = "PixelHeight";      // integer
inline constexpr const char* DPIWidth = "DPIWidth";            // real; only when the file states it
inline constexpr const char* DPIHeight = "DPIHeight";          // real; only when the file states it
inline constexpr const char* Orientation = "Orientation";      // integer 1..8, when stored
inline constexpr const char* HasAlpha = "HasAlpha";            // boolean
inline constexpr const char* ColorModel = "ColorModel";        // "RGB", "Gray", "CMYK", "Lab"
inline constexpr const char* Depth = "Depth";                  // bits per component
inline constexpr const char* ProfileName = "ProfileName";      // ICC description, when embedded
// Destination only: lossy quality 0.0 to 1.0.
inline constexpr const char* LossyCompressionQuality = "LossyCompressionQuality";

// Nested metadata dictionaries.
inline constexpr const char* TIFFDictionary = "{TIFF}";   // EXIF IFD0 tags (Make, Model, ...)
inline constexpr const char* ExifDictionary = "{Exif}";   // EXIF sub-IFD tags
inline constexpr const char* GPSDictionary = "{GPS}";     // GPS IFD tags
inline constexpr const char* IPTCDictionary = "{IPTC}";   // IPTC datasets by name
inline constexpr const char* XMPDictionary = "{XMP}";     // XMP properties by prefixed name
inline constexpr const char* JFIFDictionary = "{JFIF}";
inline constexpr const char* PNGDictionary = "{PNG}";
inline constexpr const char* GIFDictionary = "{GIF}";

// Keys inside the dictionaries that the encoder reads.
inline constexpr const char* TIFFCompression = "Compression";  // in {TIFF}: 5 LZW
inline constexpr const char* TIFFOrientation = "Orientation";  // in {TIFF}
inline constexpr const char* TIFFXResolution = "XResolution";
inline constexpr const char* TIFFYResolution = "YResolution";
inline constexpr const char* TIFFResolutionUnit = "ResolutionUnit";
}  // namespace prop

}  // namespace plat
