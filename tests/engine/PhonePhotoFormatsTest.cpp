// HEIC, AVIF and JPEG XL sources, made by the formats' own encoders
// (heif-enc, cjxl) from a PNG written here.

#include "ConverterTestSupport.h"

#include "engine/ConvertImage.h"
#include "engine/ImageTypes.h"
#include "platform/Bundle.h"
#include "platform/PropertyList.h"

#include <cstdlib>
#include <fstream>
#include <set>

using namespace convtest;

namespace {

class PhonePhotoFormatsTest : public ConversionTest {};

struct Format {
    const char* name;
    const char* type;
    std::string (*command)(const std::filesystem::path& png, const std::filesystem::path& out);
};

const Format kFormats[] = {
    {"photo.heic", "public.heic",
     [](const std::filesystem::path& png, const std::filesystem::path& out) {
         return "heif-enc -q 95 '" + png.string() + "' -o '" + out.string() + "'";
     }},
    {"photo.avif", "public.avif",
     [](const std::filesystem::path& png, const std::filesystem::path& out) {
         return "heif-enc -A -q 95 '" + png.string() + "' -o '" + out.string() + "'";
     }},
    {"photo.jxl", "public.jpeg-xl",
     [](const std::filesystem::path& png, const std::filesystem::path& out) {
         return "cjxl -d 0.5 '" + png.string() + "' '" + out.string() + "'";
     }},
};

// Encodes the 160 × 120 marked picture of `dir`/source.png as `format`.
std::filesystem::path Make(const ScratchDir& dir, const Format& format) {
    const auto png = dir / "source.png";
    if (!std::filesystem::exists(png)) {
        EXPECT_TRUE(WriteImage(png, MarkedImage(160, 120, 40), "public.png"));
    }
    const auto out = dir / format.name;
    const std::string command = format.command(png, out) + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return out;
}

}  // namespace

TEST_F(PhonePhotoFormatsTest, ReadAndConvertedLikeAnyPhoto) {
    for (const Format& format : kFormats) {
        const auto path = Make(dir, format);
        auto source = plat::ImageSource::Open(path);
        ASSERT_TRUE(source) << format.name;
        EXPECT_EQ(source->typeIdentifier(), format.type);
        EXPECT_EQ(source->count(), 1u);
        const plat::PropertyDict properties = source->properties(0);
        EXPECT_EQ(properties.integer(plat::prop::PixelWidth), 160);
        EXPECT_EQ(properties.integer(plat::prop::PixelHeight), 120);

        // Halved into JPEG and PNG: the red mark stays in the top left corner.
        for (int type : {kImageTypeJPEG, kImageTypePNG}) {
            ImageConversion record = SameSizeRecord(path, dir / "out", type);
            PixelsResize(record, 80, 0, 1, true);
            ASSERT_EQ(ConvertImageWithOptions(&record), 1) << format.name << " to " << type;
            const Decoded out = Decode(dir / "out");
            ASSERT_EQ(out.width, 80) << format.name;
            ASSERT_EQ(out.height, 60) << format.name;
            EXPECT_TRUE(Near(out.at(5, 5), {255, 0, 0, 255}, 30)) << format.name;
            EXPECT_TRUE(Near(out.at(60, 45), {128, 128, 128, 255}, 30)) << format.name;
        }
    }
}

TEST_F(PhonePhotoFormatsTest, DamagedFilesFailCleanly) {
    for (const Format& format : kFormats) {
        const auto path = Make(dir, format);
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        const auto cut = dir / (std::string("cut-") + format.name);
        std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() * 2 / 3);
        for (int round = 0; round < 3; ++round) {
            ImageConversion record = SameSizeRecord(cut, dir / "cut-out", kImageTypeJPEG);
            EXPECT_EQ(ConvertImageWithOptions(&record), 0) << format.name;
            EXPECT_FALSE(std::filesystem::exists(dir / "cut-out")) << format.name;
        }
    }
}

// The list of input types the application offers names the three formats.
TEST_F(PhonePhotoFormatsTest, ImageTypesResourceListsTheirExtensions) {
    const auto list = plat::PropertyList::readFile(plat::Bundle::pathForResource("ImageTypes", "plist"));
    ASSERT_TRUE(list);
    const auto* entries = list->get<plat::PlistValue::Array>();
    ASSERT_TRUE(entries);
    std::set<std::string> names;
    for (const auto& entry : *entries) {
        if (auto name = entry.asString()) names.insert(*name);
    }
    for (const char* extension : {"heic", "HEIC", "heif", "avif", "AVIF", "jxl", "JXL", "jpg", "png"}) {
        EXPECT_TRUE(names.count(extension)) << extension;
    }
}
