// The platform headers (which reach GLib) come before any Qt header.
#include "platform/FileManager.h"
#include "platform/Font.h"
#include "platform/ImageSource.h"
#include "platform/KeyedArchive.h"

#include "AppTestSupport.h"
#include "PreferenceTestSupport.h"

#include "app/model/JobOptionsModel.h"
#include "app/model/Presets.h"
#include "app/model/WatermarkEditorModel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <functional>
#include <random>
#include <tuple>

#include <sys/stat.h>

namespace {

using plat::PlistValue;
namespace key = preset_key;

PrefDictionary Preset(std::string_view indexKey, std::int64_t index) {
    return PrefDictionary{{std::string(indexKey), PlistValue(static_cast<long long>(index))}};
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(PreferenceFiles, NamedWithTheBundleIdentifierInAFolderThatIsCreated) {
    PreferenceFolders folders;
    EXPECT_EQ(PrefFilePath(kGeneralPrefFileFormat), folders.config / "vantrell" / "org.vantrell.Vantrell-Pref.plist");
    EXPECT_TRUE(std::filesystem::is_directory(folders.config / "vantrell"));
    EXPECT_EQ(PrefFilePath(kPhotoPrefFileFormat).filename(), "org.vantrell.Vantrell-PhotoPref.plist");

    std::optional<PrefDictionary> loaded;
    EXPECT_FALSE(LoadPrefDictionary(&loaded, kResizePrefFileFormat));
    EXPECT_FALSE(loaded.has_value());  // no file: left alone
    ASSERT_TRUE(SavePrefDictionary(Preset("PresetIndex", 3), kResizePrefFileFormat));
    ASSERT_TRUE(LoadPrefDictionary(&loaded, kResizePrefFileFormat));
    EXPECT_EQ(PrefInteger(&*loaded, "PresetIndex"), 3);
}

TEST(PreferenceFiles, EveryUnreadableFileIsKeptBesideUnderItsOwnNumberBeforeItIsReplaced) {
    PreferenceFolders folders;
    const auto path = PrefFilePath(kWaterMarkPrefFileFormat);
    std::vector<std::pair<std::string, std::string>> damaged = {
        {"text", "not a plist"}, {"truncated", std::string("bplist00\x01\x02", 10)}, {"array", "<plist><array/></plist>"}};
    for (auto& hostile : HostilePreferenceFiles()) damaged.push_back(std::move(hostile));
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        const auto& [what, bytes] = damaged[i];
        WriteBytes(path, bytes);
        std::optional<PrefDictionary> loaded;
        EXPECT_FALSE(LoadPrefDictionary(&loaded, kWaterMarkPrefFileFormat)) << what;
        EXPECT_FALSE(loaded.has_value()) << what;  // a file, but no readable dictionary
        ASSERT_TRUE(SavePrefDictionary(Preset(key::kWaterMarkPresetIndex, 0), kWaterMarkPrefFileFormat)) << what;
        EXPECT_TRUE(LoadPrefDictionary(&loaded, kWaterMarkPrefFileFormat)) << what;
    }
    // Each kept copy as it was: ".unreadable", then ".unreadable.1", ...
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        const std::string kept = path.string() + ".unreadable" + (i ? "." + std::to_string(i) : "");
        auto bytes = plat::FileManager::contentsOfFile(kept);
        ASSERT_TRUE(bytes) << kept;
        EXPECT_TRUE(std::string(bytes->begin(), bytes->end()) == damaged[i].second) << kept;
    }
}

TEST(PreferenceFiles, AFileHoldingADateThatCannotBeWrittenIsSavedBack) {
    PreferenceFolders folders;
    // A binary job-preset file {"P": {"When": <NaN date>}}.
    WriteBytes(PrefFilePath(kPhotoPrefFileFormat), BinaryList({"\xD1\x01\x02", "\x51P", "\xD1\x03\x04", "\x54When",
                                                               std::string("\x33\x7F\xF8\0\0\0\0\0\0", 9)}));
    std::optional<PrefDictionary> loaded;
    ASSERT_TRUE(LoadPrefDictionary(&loaded, kPhotoPrefFileFormat));
    const PrefDictionary* preset = PrefSubDictionary(&*loaded, "P");
    ASSERT_TRUE(preset);
    EXPECT_FALSE(PrefReal(preset, "When"));  // of no use as a number either
    loaded->emplace("Q", PlistValue(Preset(key::kPhotoPresetIndex, 1)));
    ASSERT_TRUE(SavePrefDictionary(*loaded, kPhotoPrefFileFormat));
    EXPECT_FALSE(plat::FileManager::fileExists(PrefFilePath(kPhotoPrefFileFormat).string() + ".unreadable"));
    std::optional<PrefDictionary> again;
    ASSERT_TRUE(LoadPrefDictionary(&again, kPhotoPrefFileFormat));
    EXPECT_EQ(again->size(), 2u);
}

TEST(GeneralPreferences, FirstLaunchDefaultsAndWrongTypesGiveDefaults) {
    const GeneralPreferences d = GeneralPreferencesFromDictionary(nullptr);
    EXPECT_EQ(d.photoPresetIndex, 0);
    EXPECT_TRUE(d.addRecursively && d.maintainDirectory && d.metaData && d.preserveModificationDate);
    EXPECT_FALSE(d.overwriteFile || d.preserveCreationDate || d.doNotShowAlert || d.doNotShowPNGOptimizationAlert ||
                 d.useAsDestinationFolder || d.destinationURL);

    // Every key with a value of a type it never has.
    PrefDictionary wrong;
    for (const auto& [name, value] : GeneralPreferencesDictionary(d))
        wrong.emplace(name, PlistValue(PlistValue::Array{PlistValue("x")}));
    wrong.emplace("PhotoPresetIndex", PlistValue("seven"));
    wrong.emplace("DestinationURL", PlistValue("file:///tmp"));
    EXPECT_EQ(GeneralPreferencesFromDictionary(&wrong), d);
}

TEST(GeneralPreferences, WrittenWithExactKeysAndTypes) {
    PreferenceFolders folders;
    GeneralPreferences options;
    options.photoPresetIndex = 2;
    options.doNotShowPNGOptimizationAlert = true;
    ASSERT_TRUE(SavePrefDictionary(GeneralPreferencesDictionary(options), kGeneralPrefFileFormat));
    const QString xml = PlistutilXml(PrefFilePath(kGeneralPrefFileFormat));
    ASSERT_FALSE(xml.isEmpty());
    for (const char* name : {"PhotoPresetIndex", "AddRecusrsively", "MaintainDirectory", "OverWriteFile", "MetaData",
                             "PrsereveCreationDate", "PrsereveModificaionDate", "DoNotShowAlert",
                             "DoNotShowPNGOptimizationAlert", "UseAsDestinationFolder"}) {
        EXPECT_TRUE(HasKeyOfType(xml, QLatin1String(name), QStringLiteral("integer"))) << name;
    }
    EXPECT_FALSE(xml.contains(QStringLiteral("DestinationURL")));  // no folder stored

    options.destinationURL = PlistValue::Data{'f', 'i', 'l', 'e'};
    ASSERT_TRUE(SavePrefDictionary(GeneralPreferencesDictionary(options), kGeneralPrefFileFormat));
    EXPECT_TRUE(HasKeyOfType(PlistutilXml(PrefFilePath(kGeneralPrefFileFormat)), "DestinationURL", "data"));
    std::optional<PrefDictionary> loaded;
    ASSERT_TRUE(LoadPrefDictionary(&loaded, kGeneralPrefFileFormat));
    EXPECT_EQ(GeneralPreferencesFromDictionary(&*loaded), options);
}

TEST(PresetOrder, ByIndexStableWithMissingIndicesLast) {
    PrefDictionary presets;
    presets.emplace("B", PlistValue(Preset(key::kPresetIndex, 2)));
    presets.emplace("A", PlistValue(Preset(key::kPresetIndex, 1)));
    presets.emplace("C", PlistValue(PrefDictionary{}));
    presets.emplace("0", PlistValue("not a preset"));
    presets.emplace("D", PlistValue(Preset(key::kPresetIndex, 1)));
    EXPECT_EQ(SortedPresetNames(presets, PresetKind::Resize), (QStringList{"A", "D", "B", "C"}));
    const PlistValue one(Preset(key::kPhotoPresetIndex, 1));
    EXPECT_EQ(ComparePhotoPresetIndex(&one, nullptr), -1);
    EXPECT_EQ(ComparePhotoPresetIndex(nullptr, nullptr), 0);
    EXPECT_EQ(CompareWaterMarkPresetIndex(&one, &one), 0);
}

TEST(PresetNames, ProposalsCountUpPastTakenTitles) {
    EXPECT_EQ(UniquePresetName("New Preset", {}), "New Preset");
    EXPECT_EQ(UniquePresetName("New Preset", {"New Preset", "New Preset New 1"}), "New Preset New 2");
    EXPECT_EQ(UniquePresetName("%1 x", {"%1 x"}), "%1 x New 1");

    JobOptionState state;
    state.groupOn[kResizeGroup] = true;
    state.scaleOption = 2;
    state.widthText = "800";
    state.heightText = "600.7";
    EXPECT_EQ(ResizePresetNameProposal(state, "Pixels"), "800 x 600 (Pixels)");
    state.scaleOption = 1;  // height only
    EXPECT_EQ(ResizePresetNameProposal(state, "Percent"), "600 (Percent)");
}

TEST(PresetRemoval, RenumbersPresetsAndEveryJobReference) {
    PrefDictionary resize;
    for (const auto& [name, index] : {std::pair{"A", 0}, {"B", 1}, {"C", 2}}) {
        InsertPreset(resize, name, {}, PresetKind::Resize);
        EXPECT_EQ(PrefInteger(PrefSubDictionary(&resize, name), key::kPresetIndex), index);
    }
    // Replacing keeps the index.
    EXPECT_EQ(InsertPreset(resize, "B", {}, PresetKind::Resize), 1);
    EXPECT_EQ(RemovePreset(resize, "B", PresetKind::Resize), 1);
    EXPECT_EQ(PrefInteger(PrefSubDictionary(&resize, "C"), key::kPresetIndex), 1);
    EXPECT_EQ(PrefInteger(PrefSubDictionary(&resize, "A"), key::kPresetIndex), 0);
    EXPECT_FALSE(RemovePreset(resize, "B", PresetKind::Resize));

    PrefDictionary jobs;
    for (const auto& [name, reference] : {std::pair{"refB", 12}, {"refC", 13}, {"refA", 11}, {"builtIn", 4}})
        jobs.emplace(name, PlistValue(Preset(key::kResizePresetIndex, reference)));
    EXPECT_TRUE(UpdateGlobalPhotoPresetDatadDringRemoveAction(jobs, key::kResizePresetIndex, 12));
    for (const auto& [name, reference] : {std::pair{"refB", 0}, {"refC", 12}, {"refA", 11}, {"builtIn", 4}})
        EXPECT_EQ(PrefInteger(PrefSubDictionary(&jobs, name), key::kResizePresetIndex), reference) << name;
    // The only preset: its references fall back too.
    EXPECT_TRUE(UpdateGlobalPhotoPresetDatadDringRemoveAction(jobs, key::kResizePresetIndex, 11));
    EXPECT_EQ(PrefInteger(PrefSubDictionary(&jobs, "refA"), key::kResizePresetIndex), 0);
}

struct PresetModels {
    QApplication& application = TestApplication();
    WatermarkEditorModel editor;
    JobOptionsModel options{&editor};
};

TEST(ResizePresets, RoundTripWithExactKeysAndTypes) {
    PreferenceFolders folders;
    PresetModels m;
    JobOptionState state = m.options.state();
    state.groupOn[kResizeGroup] = true;
    m.options.setState(state);
    m.options.changeImageResizeTypePopupAction(kUnitPixels, false);
    m.options.changeInScaleProportionalityAction(2, false);
    state = m.options.state();
    std::tie(state.widthText, state.heightText, state.resolutionText) = std::tuple("1024", "768", "300");
    state.sharpen = state.resolutionOn = true;
    m.options.setState(state);

    PrefDictionary file;
    InsertPreset(file, "1024 x 768 (Pixels)", GetResizePreferenceValue(m.options.state()), PresetKind::Resize);
    ASSERT_TRUE(SavePrefDictionary(file, kResizePrefFileFormat));
    const QString xml = PlistutilXml(PrefFilePath(kResizePrefFileFormat));
    for (const auto& [name, type] : {std::pair{"Upscaling", "false"}, {"Sharpen", "true"}, {"ResolutionFlag", "true"},
                                     {"ResolutionValue", "string"}, {"ScaleOption", "integer"},
                                     {"InputType", "integer"}, {"Width", "string"}, {"Height", "string"},
                                     {"ResizeState", "true"}, {"PresetIndex", "integer"}}) {
        EXPECT_TRUE(HasKeyOfType(xml, name, type)) << name;
    }

    PresetModels other;
    std::optional<PrefDictionary> loaded;
    ASSERT_TRUE(LoadPrefDictionary(&loaded, kResizePrefFileFormat));
    ChangeAndSetResizeOptionsFromDict(other.options, PrefSubDictionary(&*loaded, "1024 x 768 (Pixels)"));
    const JobOptionState& applied = other.options.state();
    EXPECT_EQ(std::tie(applied.unit, applied.scaleOption, applied.widthText, applied.heightText, applied.resolutionText),
              std::make_tuple(kUnitPixels, 2, "1024", "768", "300"));
    EXPECT_TRUE(applied.sharpen && !applied.upsample && applied.resolutionOn);

    // Wrong types and impossible values give the defaults.
    PrefDictionary wrong{{"InputType", PlistValue(99)}, {"ScaleOption", PlistValue("2")},
                         {"Width", PlistValue(5)}, {"Sharpen", PlistValue(PlistValue::Data{1})}};
    ChangeAndSetResizeOptionsFromDict(other.options, &wrong);
    EXPECT_EQ(std::tie(applied.unit, applied.scaleOption, applied.widthText), std::make_tuple(kUnitPixels, 2, "1024"));
    EXPECT_FALSE(applied.sharpen);
}

TEST(WatermarkPresets, RoundTripWithExactKeysAndTypes) {
    PreferenceFolders folders;
    PresetModels m;
    m.editor.setTextString("© Vantrell");
    m.editor.setTextFontSize(48);
    m.editor.setDrawingMode(WatermarkEditorModel::kFillStroke);
    m.editor.setTextOpacity(0.3);
    m.editor.setSpacingType(WatermarkEditorModel::kSpacingCondensed);
    m.editor.setTextCharSpace(-2.5);
    m.editor.setTextRotationAngle(45);
    m.editor.setTextFontColor({0.0, 0.5, 1.0, 1.0});
    m.editor.setDropShadowApplied(false);
    m.editor.setXOffset(7);
    m.editor.setCenterLoc({33.5, 44.25});
    m.editor.setImageViewRectForText({0, 0, 550, 412});

    PrefDictionary file;
    InsertPreset(file, "Mark", GetWaterMarkPreferenceValue(m.editor), PresetKind::Watermark);
    ASSERT_TRUE(SavePrefDictionary(file, kWaterMarkPrefFileFormat));
    const QString xml = PlistutilXml(PrefFilePath(kWaterMarkPrefFileFormat));
    for (const auto& [name, type] :
         {std::pair{"textString", "string"}, {"textFontName", "data"}, {"textFontSize", "integer"},
          {"drawingMode", "integer"}, {"strokeWidthName", "integer"}, {"textOpacity", "real"},
          {"textCharSpace", "real"}, {"textRotationAngle", "integer"}, {"TextFontColor", "data"},
          {"isDropShadowApplied", "false"}, {"shadowBlur", "integer"}, {"xOffset", "integer"},
          {"yOffset", "integer"}, {"ShadowFontColor", "data"}, {"TextCenter", "array"},
          {"WaterMarkPresetIndex", "integer"}}) {
        EXPECT_TRUE(HasKeyOfType(xml, name, type)) << name;
    }
    std::optional<PrefDictionary> loaded;
    ASSERT_TRUE(LoadPrefDictionary(&loaded, kWaterMarkPrefFileFormat));
    const PrefDictionary* stored = PrefSubDictionary(&*loaded, "Mark");
    // Single-precision values are their float widened.
    EXPECT_EQ(PrefReal(stored, key::kTextOpacity), static_cast<double>(0.3f));

    PresetModels other;
    ChangeAndSetWaterMarkPrefOptionsFromDict(other.editor, stored);
    EXPECT_EQ(other.editor.textString(), "© Vantrell");
    EXPECT_EQ(other.editor.textFont()->postScriptName(), m.editor.textFont()->postScriptName());
    EXPECT_EQ(std::make_tuple(other.editor.textFontSize(), other.editor.textRotationAngle(), other.editor.xOffset()),
              std::make_tuple(48, 45, 7));
    EXPECT_EQ(other.editor.drawingMode(), WatermarkEditorModel::kFillStroke);
    EXPECT_EQ(other.editor.SpacingType(), WatermarkEditorModel::kSpacingCondensed);
    EXPECT_DOUBLE_EQ(other.editor.textCharSpace(), -2.5);
    EXPECT_EQ(other.editor.textFontColor(), (plat::Color{0.0, 0.5, 1.0, 1.0}));
    EXPECT_FALSE(other.editor.isDropShadowApplied());
    EXPECT_EQ(other.editor.centerLoc(), QPointF(33.5, 44.25));
    EXPECT_EQ(other.editor.imageViewRectForText().size(), QSizeF(550, 412));

    // Absent, wrongly typed or undecodable values give the editor's defaults.
    PrefDictionary damaged{{"textFontName", PlistValue(PlistValue::Data{1, 2, 3})},
                           {"TextFontColor", PlistValue("yellow")},
                           {"textOpacity", PlistValue("0.5")},
                           {"TextCenter", PlistValue(PlistValue::Array{PlistValue(5.0), PlistValue("x")})}};
    ChangeAndSetWaterMarkPrefOptionsFromDict(other.editor, &damaged);
    EXPECT_EQ(other.editor.textString(), "");
    EXPECT_EQ(other.editor.textFont()->postScriptName(), plat::Font::defaultFont()->postScriptName());
    EXPECT_EQ(std::make_tuple(other.editor.textFontSize(), other.editor.yOffset()), std::make_tuple(30, -3));
    EXPECT_DOUBLE_EQ(other.editor.textOpacity(), WatermarkEditorModel::kDefaultTextOpacity);
    EXPECT_EQ(other.editor.textFontColor(), (plat::Color{1.0, 1.0, 0.0, 1.0}));
    EXPECT_TRUE(other.editor.isDropShadowApplied());
    EXPECT_EQ(other.editor.centerLoc(), QPointF(5.0, 20.0));
    EXPECT_EQ(other.editor.imageViewRectForText().size(), QSizeF(550, 550));
}

TEST(WatermarkImages, NumberedFromTheFirstFreeNameAndOnlyTheirOwnFilesDeleted) {
    PreferenceFolders folders;
    const auto folder = WatermarkImageFolder();
    WriteBytes(folder / "watermark_image1", "x");
    WriteBytes(folder / "watermark_image3", "x");
    EXPECT_EQ(GetWatermarkImageFilePath(), folder / "watermark_image2");
    EXPECT_EQ(GetWatermarkImageFilePath(), folder / "watermark_image4");

    const auto outside = folders.data / "watermark_image5";
    WriteBytes(outside, "keep");
    WriteBytes(folder / "notes", "keep");
    for (const auto& path : {outside, folder / "notes", folder / "watermark_image01", folder / ".." / "watermark_image5",
                             std::filesystem::path()})
        RemoveFileIfExists(path);
    EXPECT_TRUE(std::filesystem::exists(outside));
    EXPECT_TRUE(std::filesystem::exists(folder / "notes"));
    RemoveFileIfExists(folder / "watermark_image3");
    EXPECT_FALSE(std::filesystem::exists(folder / "watermark_image3"));
}

TEST(WatermarkImages, StoredAsTiffWithAlpha) {
    PreferenceFolders folders;
    const auto source = folders.data / "logo.png";
    std::filesystem::create_directories(folders.data);
    QImage logo(40, 20, QImage::Format_RGBA8888);
    logo.fill(QColor(200, 30, 30, 90));
    ASSERT_TRUE(logo.save(QString::fromStdString(source.string())));
    const plat::ImageRef image = LoadWatermarkImage(source);
    ASSERT_TRUE(image);
    const auto stored = StoreWatermarkImage(image);
    ASSERT_EQ(stored, WatermarkImageFolder() / "watermark_image1");
    auto data = plat::FileManager::contentsOfFile(stored);
    ASSERT_TRUE(data && data->size() > 8);
    EXPECT_TRUE(((*data)[0] == 'I' && (*data)[1] == 'I') || ((*data)[0] == 'M' && (*data)[1] == 'M'));
    auto back = plat::ImageSource::Open(stored);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->typeIdentifier(), "public.tiff");
    EXPECT_EQ(back->properties(0).boolean(plat::prop::HasAlpha), true);
    EXPECT_TRUE(StoreWatermarkImage(nullptr).empty());
    EXPECT_FALSE(LoadWatermarkImage(folders.data / "missing"));
}

TEST(PresetFiles, RandomBytesGiveDefaultsWithoutACrash) {
    PreferenceFolders folders;
    PresetModels m;
    std::mt19937 random(11);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(1 + random() % 400, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        if (round % 2) bytes.replace(0, std::min<std::size_t>(8, bytes.size()), "bplist00");
        for (const auto format : {kGeneralPrefFileFormat, kResizePrefFileFormat, kWaterMarkPrefFileFormat,
                                  kPhotoPrefFileFormat}) {
            WriteBytes(PrefFilePath(format), bytes);
            std::optional<PrefDictionary> loaded;
            if (LoadPrefDictionary(&loaded, format) && loaded) {
                GeneralPreferencesFromDictionary(&*loaded);
                SortedPresetNames(*loaded, PresetKind::Photo);
                for (const auto& [name, value] : *loaded) {
                    ChangeAndSetWaterMarkPrefOptionsFromDict(m.editor, value.get<PrefDictionary>());
                    ChangeAndSetResizeOptionsFromDict(m.options, value.get<PrefDictionary>());
                }
            } else {
                EXPECT_EQ(GeneralPreferencesFromDictionary(nullptr), GeneralPreferences{});
            }
        }
    }
}

}  // namespace

// A FIFO, a folder or a link to a device where a preference file belongs: nothing is read (nothing hangs), defaults
// are used, and it is never written through or moved.
TEST(PreferenceFiles, NoFileUnderTheNameGivesDefaultsAndIsLeftAlone) {
    PreferenceFolders folders;
    const auto path = PrefFilePath(kGeneralPrefFileFormat);
    const std::pair<const char*, std::function<void()>> places[] = {
        {"fifo", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
        {"link to /dev/zero", [&] { std::filesystem::create_symlink("/dev/zero", path); }},
        {"link to /dev/urandom", [&] { std::filesystem::create_symlink("/dev/urandom", path); }},
        {"folder", [&] { std::filesystem::create_directory(path); }},
        {"dangling link", [&] { std::filesystem::create_symlink(path.string() + ".gone", path); }},
    };
    for (const auto& [what, make] : places) {
        SCOPED_TRACE(what);
        std::filesystem::remove_all(path);
        make();
        std::optional<PrefDictionary> loaded;
        EXPECT_FALSE(LoadPrefDictionary(&loaded, kGeneralPrefFileFormat));
        EXPECT_EQ(GeneralPreferencesFromDictionary(loaded ? &*loaded : nullptr), GeneralPreferences{});
        const auto type = std::filesystem::symlink_status(path).type();
        SavePrefDictionary(Preset(key::kPresetIndex, 0), kGeneralPrefFileFormat);
        EXPECT_EQ(std::filesystem::symlink_status(path).type(), type);
        EXPECT_FALSE(std::filesystem::exists(path.string() + ".unreadable"));
    }
}

// Every cut and many garbled copies of real files, binary and XML: each loads or is refused, never more.
TEST(PreferenceFiles, CutAndGarbledFilesLoadOrAreRefused) {
    PreferenceFolders folders;
    const auto path = PrefFilePath(kPhotoPrefFileFormat);
    PrefDictionary presets;
    for (int i = 0; i < 6; ++i) {
        PrefDictionary preset = Preset(key::kPhotoPresetIndex, i);
        preset.emplace("Name", PlistValue(std::string("preset ") + std::to_string(i)));
        presets.emplace("P" + std::to_string(i), PlistValue(std::move(preset)));
    }
    std::mt19937 random(7);
    for (auto format : {plat::PlistFormat::Binary, plat::PlistFormat::Xml}) {
        const auto bytes = plat::PropertyList::toData(PlistValue(presets), format);
        ASSERT_TRUE(bytes);
        const std::string whole(bytes->begin(), bytes->end());
        std::vector<std::string> copies;
        for (std::size_t cut = 0; cut < whole.size(); ++cut) copies.push_back(whole.substr(0, cut));
        for (int i = 0; i < 2000; ++i) {
            std::string garbled = whole;
            for (int flips = 1 + int(random() % 4); flips > 0; --flips)
                garbled[random() % garbled.size()] = char(random());
            copies.push_back(std::move(garbled));
        }
        for (const std::string& copy : copies) {
            WriteBytes(path, copy);
            std::optional<PrefDictionary> loaded;
            LoadPrefDictionary(&loaded, kPhotoPrefFileFormat);
        }
    }
}

// --- Settings of the wrong type ---------------------------------------------------------

namespace {

std::string DoubleBits(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return BigEndian(bits, 8);
}

// One object as a binary property list holds it, under the key "k" (object
// 1, which arrays and dictionaries may refer to), read back by our own
// reader: a date the reader cannot hold arrives as it would from a user's file.
PlistValue FromBinaryList(const std::string& object) {
    const auto parsed = plat::PropertyList::fromData(BinaryList({"\xD1\x01\x02", "\x51k", object}));
    const PlistValue* value = parsed ? parsed->find("k") : nullptr;
    EXPECT_TRUE(value) << "unreadable test list";
    return value ? *value : PlistValue();
}

// Which keys a value is wrong for.
enum class WrongFor { Every, Booleans, PresetBooleans };

struct HostileValue {
    std::string what;
    std::string object;
    WrongFor wrongFor = WrongFor::Every;
};

std::vector<HostileValue> HostileValues() {
    std::vector<HostileValue> list = {
        {"a date of 2020", "\x33" + DoubleBits(600000000.0)}, {"the string \"1\"", "\x51" "1"},
        {"the string \"true\"", "\x54true"}, {"data", std::string("\x41\x01", 2)},
        {"an array", "\xA1\x01"}, {"a dictionary", "\xD1\x01\x01"},
        {"the integer 2", std::string("\x10\x02", 2), WrongFor::Booleans},
        {"the integer -1", "\x10\xFF", WrongFor::Booleans},
        {"the real 1.0", "\x23" + DoubleBits(1.0), WrongFor::Booleans},
        // Only the general file stores its boxes as integers.
        {"the integer 1", std::string("\x10\x01", 2), WrongFor::PresetBooleans},
    };
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (const auto& [name, number] : {std::pair{"NaN", nan}, {"+inf", inf}, {"-inf", -inf}, {"1e300", 1e300},
                                       {"-1e300", -1e300}}) {
        list.push_back({std::string(name) + " date", "\x33" + DoubleBits(number)});
        list.push_back({std::string(name) + " real", "\x23" + DoubleBits(number)});
    }
    return list;
}

// Where a key is read; what the reader made of a file, as our writers store it
// again, and the number's place in a name (stored only with the rename on).
enum class SettingsFile { General, Resize, Watermark, Job };
using Probe = std::pair<PrefDictionary, int>;

Probe Applied(SettingsFile file, const PrefDictionary& dictionary) {
    if (file == SettingsFile::General)
        return {GeneralPreferencesDictionary(GeneralPreferencesFromDictionary(&dictionary)), 0};
    PresetModels m;
    if (file == SettingsFile::Resize) ChangeAndSetResizeOptionsFromDict(m.options, &dictionary);
    if (file == SettingsFile::Watermark) ChangeAndSetWaterMarkPrefOptionsFromDict(m.editor, &dictionary);
    if (file == SettingsFile::Job) ApplyPhotoPresetOptions(m.options, dictionary);
    return {GetPhotoPreferenceValue(m.options.state(), m.editor, 0, {}), m.options.state().numberPosition};
}

// Every boolean and number key of the four files with every value of
// another kind: each takes what its absence gives (for the general file,
// the first-launch defaults: Overwrite, Keep creation dates, Use destination
// folder and both "don't ask" boxes off).
TEST(WrongTypedSettings, EveryBooleanAndNumberKeyTakesItsDefault) {
    // Per file: its boolean keys, then its number keys.
    using F = SettingsFile;
    namespace g = general_pref;
    const std::tuple<F, std::vector<std::string_view>, std::vector<std::string_view>> files[] = {
        {F::General,
         {g::kOverWriteFile, g::kPreserveCreationDate, g::kUseAsDestinationFolder, g::kDoNotShowAlert,
          g::kDoNotShowPNGOptimizationAlert, g::kAddRecursively, g::kMaintainDirectory, g::kMetaData,
          g::kPreserveModificationDate},
         {g::kPhotoPresetIndex}},
        {F::Resize, {key::kSharpen, key::kUpscaling, key::kResolutionFlag}, {key::kInputType, key::kScaleOption}},
        {F::Watermark, {key::kIsDropShadowApplied},
         {key::kTextFontSize, key::kDrawingMode, key::kStrokeWidthName, key::kTextOpacity, key::kTextCharSpace,
          key::kTextRotationAngle, key::kShadowBlur, key::kXOffset, key::kYOffset}},
        {F::Job, {},
         {key::kImageType, key::kImageQuality, key::kNameType, key::kNumberType, key::kOptimizationType,
          key::kImageOpacity, key::kImageSize}},
    };
    for (const auto& [file, booleans, numbers] : files) {
        const Probe absent = Applied(file, {});
        for (const bool boolean : {true, false}) {
            for (const std::string_view name : boolean ? booleans : numbers) {
                for (const HostileValue& hostile : HostileValues()) {
                    if ((hostile.wrongFor != WrongFor::Every && !boolean) ||
                        (hostile.wrongFor == WrongFor::PresetBooleans && file == F::General)) {
                        continue;
                    }
                    const PrefDictionary dictionary{{std::string(name), FromBinaryList(hostile.object)}};
                    EXPECT_EQ(Applied(file, dictionary), absent) << name << " = " << hostile.what;
                }
            }
        }
    }
    // The general file's first-launch values themselves.
    EXPECT_EQ(Applied(F::General, {}), Applied(F::General, GeneralPreferencesDictionary({})));
}

// The group switches of a job preset and the elements of the placements are
// read by the same rules.
TEST(WrongTypedSettings, GroupSwitchesAndPlacementElementsTakeTheirDefaults) {
    for (const HostileValue& hostile : HostileValues()) {
        const PlistValue value = FromBinaryList(hostile.object);
        for (std::string_view name : {key::kConversionState, key::kOptimizationState, key::kRenameState,
                                      key::kResizeState, key::kTextWatermarkState, key::kImagewatermarkState}) {
            const PrefDictionary preset{{std::string(name), value}};
            EXPECT_FALSE(PrefBool(&preset, name)) << name << " = " << hostile.what;
        }
        if (hostile.wrongFor != WrongFor::Every) continue;
        const PrefDictionary placed{{std::string(key::kTextCenter), PlistValue(PlistValue::Array(6, value))},
                                    {std::string(key::kImageCenter), PlistValue(PlistValue::Array(6, value))}};
        EXPECT_EQ(Applied(SettingsFile::Watermark, placed), Applied(SettingsFile::Watermark, {})) << hostile.what;
    }
    // What the files hold when written by us still reads.
    const PrefDictionary written{{"on", PlistValue(true)}, {"box", PlistValue(1)}, {"off", PlistValue(0)},
                                 {"whole", PlistValue(48.0)}, {"half", PlistValue(0.5)}};
    EXPECT_EQ(std::make_tuple(PrefBool(&written, "on"), PrefBoxState(&written, "on"), PrefBoxState(&written, "box"),
                              PrefBoxState(&written, "off")),
              std::make_tuple(std::optional(true), std::optional(true), std::optional(true), std::optional(false)));
    EXPECT_EQ(std::make_tuple(PrefInteger(&written, "whole", 1, 1000), PrefInteger(&written, "half", 0, 1),
                              PrefReal(&written, "half", 0.0, 1.0)),
              std::make_tuple(std::optional<std::int64_t>(48), std::optional<std::int64_t>(), std::optional(0.5)));
}

}  // namespace
