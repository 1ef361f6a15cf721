// Hostile files found by fuzzing the image sources: each must be refused
// cleanly, without allocating for what the file only claims.

#include "ImageTestSupport.h"

#include "platform/ImageDestination.h"
#include "platform/ImageRep.h"
#include "platform/ImageSource.h"

#include <zlib.h>

using namespace imagetest;

namespace {

using Bytes = std::vector<std::uint8_t>;

void PutU32BE(Bytes& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = std::uint8_t(value >> 24);
    bytes[at + 1] = std::uint8_t(value >> 16);
    bytes[at + 2] = std::uint8_t(value >> 8);
    bytes[at + 3] = std::uint8_t(value);
}

Bytes EncodePng(int width, int height) {
    auto destination = plat::ImageDestination::CreateWithData("public.png");
    destination->addImage(MakeTestImage(width, height, true));
    EXPECT_TRUE(destination->finalize());
    return destination->data();
}

// A PNG whose header claims width × height, checksum intact.
Bytes PngClaiming(std::uint32_t width, std::uint32_t height) {
    Bytes png = EncodePng(8, 8);
    PutU32BE(png, 16, width);
    PutU32BE(png, 20, height);
    PutU32BE(png, 29, std::uint32_t(crc32(0, &png[12], 17)));
    return png;
}

Bytes IcnsWith(const Bytes& member) {
    Bytes icns = {'i', 'c', 'n', 's', 0, 0, 0, 0, 'i', 'c', '0', '7', 0, 0, 0, 0};
    icns.insert(icns.end(), member.begin(), member.end());
    PutU32BE(icns, 4, std::uint32_t(icns.size()));
    PutU32BE(icns, 12, std::uint32_t(member.size() + 8));
    return icns;
}

}  // namespace

TEST(HostileImageInput, IcnsMemberClaimingAHugeSizeIsRefused) {
    // The member's PNG header claims 100000 × 100000 pixels (40 GB decoded).
    plat::Initialize();
    TempFolder folder;
    const Bytes icns = IcnsWith(PngClaiming(100000, 100000));
    EXPECT_FALSE(plat::ImageSource::OpenData(icns, "x.icns"));
    WriteFile(folder / "huge.icns", icns);
    EXPECT_FALSE(plat::ImageSource::Open(folder / "huge.icns"));
    EXPECT_FALSE(plat::ImageRep::Load(folder / "huge.icns"));

    // The same container with a sane member still opens.
    auto sane = plat::ImageSource::OpenData(IcnsWith(EncodePng(16, 16)), "x.icns");
    ASSERT_TRUE(sane);
    auto image = sane->createImage(0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 16);
}
