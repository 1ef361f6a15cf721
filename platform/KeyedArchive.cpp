#include "platform/KeyedArchive.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace plat {

namespace {

constexpr std::int64_t kArchiveVersion = 100000;
// Colour spaces an archived colour may name: calibrated and device RGB,
// calibrated and device white.
constexpr std::int64_t kCalibratedRGB = 1;
constexpr std::int64_t kDeviceRGB = 2;
constexpr std::int64_t kCalibratedWhite = 3;
constexpr std::int64_t kDeviceWhite = 4;

PlistValue ClassEntry(const char* name) {
    PlistValue::Dictionary entry;
    entry.emplace("$classname", PlistValue(name));
    entry.emplace("$classes", PlistValue(PlistValue::Array{PlistValue(name), PlistValue("NSObject")}));
    return PlistValue(std::move(entry));
}

// The archive of one root object: objects[1] is the root, whose "$class"
// refers to the class entry appended last.
std::optional<PlistValue::Data> Archive(PlistValue::Dictionary root, PlistValue::Array extra, const char* className) {
    PlistValue::Array objects;
    objects.reserve(3 + extra.size());
    objects.emplace_back("$null");
    const std::uint64_t classIndex = 2 + extra.size();
    root.insert_or_assign("$class", PropertyList::uid(classIndex));
    objects.emplace_back(std::move(root));
    for (PlistValue& value : extra) objects.push_back(std::move(value));
    objects.push_back(ClassEntry(className));

    PlistValue::Dictionary archive;
    archive.emplace("$archiver", PlistValue("NSKeyedArchiver"));
    archive.emplace("$version", PlistValue(static_cast<long long>(kArchiveVersion)));
    archive.emplace("$top", PlistValue(PlistValue::Dictionary{{"root", PropertyList::uid(1)}}));
    archive.emplace("$objects", PlistValue(std::move(objects)));
    return PropertyList::toData(PlistValue(std::move(archive)), PlistFormat::Binary);
}

// An archive's parsed table and root object, when it is a keyed archive
// whose root is an instance of `className`.
struct Unarchived {
    PlistValue archive;
    const PlistValue::Array* objects = nullptr;
    const PlistValue* root = nullptr;

    const PlistValue* object(const PlistValue* reference) const {
        const auto index = reference ? PropertyList::uidValue(*reference) : std::nullopt;
        if (!index || *index >= objects->size()) return nullptr;
        return &(*objects)[static_cast<std::size_t>(*index)];
    }
};

std::optional<Unarchived> Unarchive(const PlistValue::Data& data, std::string_view className) {
    Unarchived result;
    auto parsed = PropertyList::fromData(data.data(), data.size());
    if (!parsed) return std::nullopt;
    result.archive = std::move(*parsed);
    const PlistValue& archive = result.archive;
    const PlistValue* archiver = archive.find("$archiver");
    if (!archiver || archiver->asString() != "NSKeyedArchiver") return std::nullopt;
    const PlistValue* objects = archive.find("$objects");
    result.objects = objects ? objects->get<PlistValue::Array>() : nullptr;
    const PlistValue* top = archive.find("$top");
    if (!result.objects || !top) return std::nullopt;
    result.root = result.object(top->find("root"));
    if (!result.root || !result.root->get<PlistValue::Dictionary>()) return std::nullopt;
    const PlistValue* classEntry = result.object(result.root->find("$class"));
    const PlistValue* name = classEntry ? classEntry->find("$classname") : nullptr;
    if (!name || name->asString() != className) return std::nullopt;
    return result;
}

// Whitespace-separated decimal components, at most `max` of them.
std::vector<double> Components(const PlistValue* value, std::size_t max) {
    std::vector<double> components;
    if (!value) return components;
    std::string_view text;
    if (const auto* data = value->get<PlistValue::Data>()) {
        text = std::string_view(reinterpret_cast<const char*>(data->data()), data->size());
    } else if (const auto* string = value->get<std::string>()) {
        text = *string;
    }
    const std::size_t end = text.find('\0');
    if (end != std::string_view::npos) text = text.substr(0, end);
    const char* p = text.data();
    const char* last = text.data() + text.size();
    while (p < last && components.size() < max) {
        while (p < last && (*p == ' ' || *p == '\t' || *p == '\n')) ++p;
        if (p == last) break;
        double number = 0.0;
        const auto [next, error] = std::from_chars(p, last, number);
        if (error != std::errc() || !std::isfinite(number)) return {};
        components.push_back(std::clamp(number, 0.0, 1.0));
        p = next;
    }
    return components;
}

std::string ComponentText(std::initializer_list<double> components) {
    std::string text;
    for (const double component : components) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.9g", std::clamp(std::isfinite(component) ? component : 0.0, 0.0, 1.0));
        if (!text.empty()) text += ' ';
        text += buffer;
    }
    return text;
}

}  // namespace

std::optional<PlistValue::Data> KeyedArchive::archiveFont(const FontDescription& font) {
    if (font.postScriptName.empty() || !std::isfinite(font.size)) return std::nullopt;
    PlistValue::Dictionary root;
    root.emplace("NSName", PropertyList::uid(2));
    root.emplace("NSSize", PlistValue(font.size));
    return Archive(std::move(root), {PlistValue(font.postScriptName)}, "NSFont");
}

std::optional<KeyedArchive::FontDescription> KeyedArchive::unarchiveFont(const PlistValue::Data& data) {
    const auto archive = Unarchive(data, "NSFont");
    if (!archive) return std::nullopt;
    const PlistValue* name = archive->object(archive->root->find("NSName"));
    const PlistValue* size = archive->root->find("NSSize");
    FontDescription font;
    if (auto text = name ? name->asString() : std::nullopt) font.postScriptName = std::move(*text);
    if (font.postScriptName.empty()) return std::nullopt;
    if (auto points = size ? size->asReal() : std::nullopt; points && std::isfinite(*points) && *points > 0.0) {
        font.size = *points;
    }
    return font;
}

std::optional<PlistValue::Data> KeyedArchive::archiveColor(const Color& color) {
    const std::string components = ComponentText({color.red, color.green, color.blue, color.alpha});
    PlistValue::Data bytes(components.begin(), components.end());
    bytes.push_back(0);  // the archived component text ends with a NUL
    PlistValue::Dictionary root;
    root.emplace("NSColorSpace", PlistValue(static_cast<long long>(kCalibratedRGB)));
    root.emplace("NSRGB", PlistValue(std::move(bytes)));
    return Archive(std::move(root), {}, "NSColor");
}

std::optional<Color> KeyedArchive::unarchiveColor(const PlistValue::Data& data) {
    const auto archive = Unarchive(data, "NSColor");
    if (!archive) return std::nullopt;
    const PlistValue* spaceValue = archive->root->find("NSColorSpace");
    const std::int64_t space = spaceValue ? spaceValue->asInteger().value_or(0) : 0;
    if (space == kCalibratedRGB || space == kDeviceRGB) {
        const std::vector<double> rgb = Components(archive->root->find("NSRGB"), 4);
        if (rgb.size() < 3) return std::nullopt;
        return Color{rgb[0], rgb[1], rgb[2], rgb.size() > 3 ? rgb[3] : 1.0};
    }
    if (space == kCalibratedWhite || space == kDeviceWhite) {
        const std::vector<double> white = Components(archive->root->find("NSWhite"), 2);
        if (white.empty()) return std::nullopt;
        return Color{white[0], white[0], white[0], white.size() > 1 ? white[1] : 1.0};
    }
    return std::nullopt;
}

}  // namespace plat
