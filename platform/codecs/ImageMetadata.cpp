#include "platform/codecs/ImageMetadata.h"

// exiv2 0.27 still names std::auto_ptr in its interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <set>

#include <zlib.h>

namespace plat::codecs {

namespace {

// The XMP toolkit under exiv2 is shared by all threads: it takes this lock.
void LockXmp(void* data, bool lock) {
    auto* mutex = static_cast<std::recursive_mutex*>(data);
    if (lock) mutex->lock();
    else mutex->unlock();
}

void InitialiseExiv2() {
    static std::once_flag once;
    static std::recursive_mutex xmpMutex;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(LockXmp, &xmpMutex);
    });
}

// IFD0 tags that describe the file's own layout: never carried over.
const std::set<std::string>& StructuralTags() {
    static const std::set<std::string> tags = {
        "NewSubfileType", "SubfileType", "ImageWidth", "ImageLength", "BitsPerSample",
        "Compression", "PhotometricInterpretation", "FillOrder", "StripOffsets",
        "SamplesPerPixel", "RowsPerStrip", "StripByteCounts", "PlanarConfiguration",
        "TileWidth", "TileLength", "TileOffsets", "TileByteCounts", "SubIFDs",
        "ExtraSamples", "SampleFormat", "Predictor", "ColorMap", "JPEGInterchangeFormat",
        "JPEGInterchangeFormatLength", "ExifTag", "GPSTag", "InterColorProfile",
        "XMLPacket", "IPTCNAA", "ImageResources", "XResolution", "YResolution",
        "ResolutionUnit", "Orientation", "JPEGTables", "YCbCrSubSampling",
        "ImageSourceData", "DNGPrivateData"};
    return tags;
}

const std::set<std::string>& SkippedPhotoTags() {
    static const std::set<std::string> tags = {"MakerNote", "InteroperabilityTag",
                                               "PixelXDimension", "PixelYDimension"};
    return tags;
}

bool IsIntegerType(Exiv2::TypeId type) {
    switch (type) {
    case Exiv2::unsignedByte:
    case Exiv2::unsignedShort:
    case Exiv2::unsignedLong:
    case Exiv2::signedByte:
    case Exiv2::signedShort:
    case Exiv2::signedLong:
        return true;
    default:
        return false;
    }
}

PropertyValue ValueOf(const Exiv2::Exifdatum& datum) {
    if (datum.count() == 1 && IsIntegerType(datum.typeId())) {
        return PropertyValue(std::int64_t(datum.toLong(0)));
    }
    std::string text = datum.toString();
    // ASCII values may carry trailing NULs or spaces from the writer.
    while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
    return PropertyValue(std::move(text));
}

void CollectMetadata(Exiv2::Image& image, PropertyDict& properties) {
    image.readMetadata();
    PropertyDict tiff, exif, gps, iptc, xmp;
    for (const auto& datum : image.exifData()) {
        const std::string group = datum.groupName();
        const std::string name = datum.tagName();
        if (name.empty() || name.rfind("0x", 0) == 0) continue;  // unknown tags
        if (group == "Image") {
            if (StructuralTags().count(name)) continue;
            tiff.set(name, ValueOf(datum));
        } else if (group == "Photo") {
            if (SkippedPhotoTags().count(name)) continue;
            exif.set(name, ValueOf(datum));
        } else if (group == "GPSInfo") {
            gps.set(name, ValueOf(datum));
        }
    }
    for (const auto& datum : image.iptcData()) {
        if (datum.recordName() != "Application2") continue;
        const std::string name = datum.tagName();
        PropertyValue value(datum.toString());
        if (const PropertyValue* existing = iptc.find(name)) {
            PropertyArray values;
            if (auto array = existing->get<PropertyArray>()) values = *array;
            else values.push_back(*existing);
            values.push_back(std::move(value));
            iptc.set(name, PropertyValue(std::move(values)));
        } else {
            iptc.set(name, std::move(value));
        }
    }
    if (!image.xmpPacket().empty()) xmp.set("XMLPacket", PropertyValue(image.xmpPacket()));
    if (!tiff.empty()) properties.set(prop::TIFFDictionary, std::move(tiff));
    if (!exif.empty()) properties.set(prop::ExifDictionary, std::move(exif));
    if (!gps.empty()) properties.set(prop::GPSDictionary, std::move(gps));
    if (!iptc.empty()) properties.set(prop::IPTCDictionary, std::move(iptc));
    if (!xmp.empty()) properties.set(prop::XMPDictionary, std::move(xmp));
}

// Sets an EXIF tag from a property value, in the tag's own type. Values that
// do not parse are skipped rather than written wrongly.
void SetExifValue(Exiv2::ExifData& data, const std::string& key, const PropertyValue& value) {
    try {
        Exiv2::ExifKey exifKey(key);
        const Exiv2::TypeId type = exifKey.defaultTypeId();
        Exiv2::Value::AutoPtr v = Exiv2::Value::create(type == Exiv2::invalidTypeId ? Exiv2::asciiString : type);
        const auto number = value.asNumber();
        if (number && (type == Exiv2::unsignedRational || type == Exiv2::signedRational)) {
            if (!std::isfinite(*number)) return;
            Exiv2::Rational r = Exiv2::floatToRationalCast(float(*number));
            if (std::fabs(*number - std::round(*number)) < 1e-9 && std::fabs(*number) < 2.0e9) {
                r = Exiv2::Rational(int32_t(std::lround(*number)), 1);
            }
            std::string text = std::to_string(r.first) + "/" + std::to_string(r.second);
            if (v->read(text) != 0) return;
        } else {
            auto text = value.asText();
            if (!text) return;
            if (v->read(*text) != 0) return;
        }
        if (v->count() == 0 && type != Exiv2::asciiString) return;
        data.add(exifKey, v.get());
    } catch (const Exiv2::AnyError&) {
    } catch (const std::exception&) {
    }
}

void SetTag(Exiv2::ExifData& data, const std::string& key, const PropertyValue& value) {
    auto it = data.findKey(Exiv2::ExifKey(key));
    while (it != data.end()) {
        data.erase(it);
        it = data.findKey(Exiv2::ExifKey(key));
    }
    SetExifValue(data, key, value);
}

std::string RationalText(double value) {
    if (std::fabs(value - std::round(value)) < 1e-6) return std::to_string(std::lround(value)) + "/1";
    return std::to_string(std::lround(value * 1000.0)) + "/1000";
}

bool IsPng(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() > 33 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1A\n", 8) == 0;
}

std::uint32_t ReadU32BE(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void AppendU32BE(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
}

// Puts the EXIF block into a standard eXIf chunk right after IHDR (exiv2
// would hide it in a text chunk that few readers look at), dropping any
// older eXIf chunk. False when the PNG's chunks do not parse.
bool InsertPngExif(std::vector<std::uint8_t>& png, const Exiv2::Blob& exif) {
    std::vector<std::uint8_t> out(png.begin(), png.begin() + 8);
    std::size_t offset = 8;
    bool inserted = false;
    while (offset + 12 <= png.size()) {
        const std::uint32_t length = ReadU32BE(&png[offset]);
        if (length > png.size() - offset - 12) return false;
        const std::size_t end = offset + 12 + length;
        if (std::memcmp(&png[offset + 4], "eXIf", 4) != 0) {
            out.insert(out.end(), png.begin() + std::ptrdiff_t(offset), png.begin() + std::ptrdiff_t(end));
        }
        if (!inserted && std::memcmp(&png[offset + 4], "IHDR", 4) == 0) {
            AppendU32BE(out, std::uint32_t(exif.size()));
            const std::size_t typeAt = out.size();
            out.insert(out.end(), {'e', 'X', 'I', 'f'});
            out.insert(out.end(), exif.begin(), exif.end());
            AppendU32BE(out, std::uint32_t(crc32(0, &out[typeAt], uInt(exif.size() + 4))));
            inserted = true;
        }
        offset = end;
    }
    if (!inserted || offset != png.size()) return false;
    png = std::move(out);
    return true;
}

int ExivTypeFor(const std::string& typeIdentifier) {
    if (typeIdentifier == "public.jpeg") return Exiv2::ImageType::jpeg;
    if (typeIdentifier == "public.png") return Exiv2::ImageType::png;
    if (typeIdentifier == "public.tiff") return Exiv2::ImageType::tiff;
    if (typeIdentifier == "com.adobe.photoshop-image") return Exiv2::ImageType::psd;
    if (typeIdentifier == "public.jpeg-2000") return Exiv2::ImageType::jp2;
    return Exiv2::ImageType::none;
}

}  // namespace

void ReadMetadata(const std::filesystem::path& path, PropertyDict& properties) {
    InitialiseExiv2();
    try {
        // A plain file reader: never a URL, whatever the name looks like.
        Exiv2::BasicIo::AutoPtr io(new Exiv2::FileIo(path.string()));
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(io);
        if (image.get()) CollectMetadata(*image, properties);
    } catch (const Exiv2::AnyError&) {
    } catch (const std::exception&) {
    }
}

void ReadMetadata(const std::uint8_t* data, std::size_t size, PropertyDict& properties) {
    InitialiseExiv2();
    if (!data || size == 0 || size > std::size_t(std::numeric_limits<long>::max())) return;
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(data, long(size));
        if (image.get()) CollectMetadata(*image, properties);
    } catch (const Exiv2::AnyError&) {
    } catch (const std::exception&) {
    }
}

std::vector<std::uint8_t> ReadExifBlock(const std::filesystem::path& path) {
    InitialiseExiv2();
    try {
        Exiv2::BasicIo::AutoPtr io(new Exiv2::FileIo(path.string()));
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(io);
        if (!image.get()) return {};
        image->readMetadata();
        if (image->exifData().empty()) return {};
        const Exiv2::ByteOrder order = image->byteOrder();
        Exiv2::Blob block;
        Exiv2::ExifParser::encode(block, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order,
                                  image->exifData());
        return std::vector<std::uint8_t>(block.begin(), block.end());
    } catch (const Exiv2::AnyError&) {
    } catch (const std::exception&) {
    }
    return {};
}

bool CanWriteMetadata(const std::string& typeIdentifier) {
    const int type = ExivTypeFor(typeIdentifier);
    if (type == Exiv2::ImageType::none) return false;
    return (Exiv2::ImageFactory::checkMode(type, Exiv2::mdExif) & Exiv2::amWrite) != 0;
}

bool HasMetadataToWrite(const MetadataWrite& request) {
    if (request.orientation > 0) return true;
    if (!request.properties) return false;
    for (const char* key : {prop::TIFFDictionary, prop::ExifDictionary, prop::GPSDictionary,
                            prop::IPTCDictionary, prop::XMPDictionary}) {
        const PropertyDict* dict = request.properties->dict(key);
        if (dict && !dict->empty()) {
            if (key != prop::TIFFDictionary) return true;
            // A {TIFF} dictionary that only asks for compression or layout
            // values carries no metadata of its own.
            for (const auto& [name, value] : *dict) {
                if (!StructuralTags().count(name)) return true;
            }
        }
    }
    return false;
}

std::string XmpForOutput(const std::string& packet, int orientation, int width, int height) {
    InitialiseExiv2();
    try {
        // The picture's description (ratings, keywords, captions) stays;
        // what describes the stored pixels is made true of the output's.
        Exiv2::XmpData data;
        if (Exiv2::XmpParser::decode(data, packet) != 0) return packet;
        auto update = [&](const char* key, long value) {
            auto it = data.findKey(Exiv2::XmpKey(key));
            if (it != data.end()) it->setValue(std::to_string(value));
        };
        update("Xmp.tiff.Orientation", orientation);
        if (width > 0 && height > 0) {
            update("Xmp.exif.PixelXDimension", width);
            update("Xmp.exif.PixelYDimension", height);
            update("Xmp.tiff.ImageWidth", width);
            update("Xmp.tiff.ImageLength", height);
        }
        std::string out;
        if (Exiv2::XmpParser::encode(out, data) != 0 || out.empty()) return packet;
        return out;
    } catch (const Exiv2::AnyError&) {
        return packet;
    } catch (const std::exception&) {
        return packet;
    }
}

std::vector<std::uint8_t> ExifForOutput(const std::vector<std::uint8_t>& exif, int width, int height) {
    InitialiseExiv2();
    if (exif.empty() || exif.size() > 0xFFFFFFF0u) return {};
    try {
        Exiv2::ExifData data;
        const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(data, exif.data(), std::uint32_t(exif.size()));
        if (data.empty()) return {};
        Exiv2::ExifThumb(data).erase();
        SetTag(data, "Exif.Image.Orientation", PropertyValue(1));
        if (width > 0 && height > 0 && data.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension")) != data.end()) {
            SetTag(data, "Exif.Photo.PixelXDimension", PropertyValue(width));
            SetTag(data, "Exif.Photo.PixelYDimension", PropertyValue(height));
        }
        Exiv2::Blob out;
        Exiv2::ExifParser::encode(out, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order, data);
        return std::vector<std::uint8_t>(out.begin(), out.end());
    } catch (const Exiv2::AnyError&) {
        return {};
    } catch (const std::exception&) {
        return {};
    }
}

bool WriteMetadata(std::vector<std::uint8_t>& bytes, const MetadataWrite& request) {
    InitialiseExiv2();
    if (bytes.empty() || bytes.size() > std::size_t(std::numeric_limits<long>::max())) return false;
    try {
        Exiv2::BasicIo::AutoPtr io(new Exiv2::MemIo(bytes.data(), long(bytes.size())));
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(io);
        if (!image.get()) return false;
        image->readMetadata();
        Exiv2::ExifData& exif = image->exifData();
        // Whatever the encoder left in IFD1 is a thumbnail of another
        // picture (the source's, before resizing, turning or cropping).
        Exiv2::ExifThumb(exif).erase();
        const PropertyDict* props = request.properties;
        auto copyGroup = [&](const char* dictKey, const char* prefix, bool skipStructural) {
            const PropertyDict* dict = props ? props->dict(dictKey) : nullptr;
            if (!dict) return;
            for (const auto& [name, value] : *dict) {
                if (skipStructural && StructuralTags().count(name)) continue;
                if (!skipStructural && SkippedPhotoTags().count(name)) continue;
                SetTag(exif, std::string(prefix) + name, value);
            }
        };
        copyGroup(prop::TIFFDictionary, "Exif.Image.", true);
        copyGroup(prop::ExifDictionary, "Exif.Photo.", false);
        copyGroup(prop::GPSDictionary, "Exif.GPSInfo.", false);
        if (request.orientation > 0) {
            SetTag(exif, "Exif.Image.Orientation", PropertyValue(request.orientation));
        }
        if (request.dpiX > 0 && request.dpiY > 0 && !exif.empty()) {
            SetTag(exif, "Exif.Image.XResolution", PropertyValue(RationalText(request.dpiX)));
            SetTag(exif, "Exif.Image.YResolution", PropertyValue(RationalText(request.dpiY)));
            SetTag(exif, "Exif.Image.ResolutionUnit", PropertyValue(2));
        }
        if (request.pixelWidth > 0 && request.pixelHeight > 0 &&
            props && props->dict(prop::ExifDictionary)) {
            SetTag(exif, "Exif.Photo.PixelXDimension", PropertyValue(request.pixelWidth));
            SetTag(exif, "Exif.Photo.PixelYDimension", PropertyValue(request.pixelHeight));
        }
        Exiv2::Blob pngExif;
        const bool png = IsPng(bytes);
        if (png && !exif.empty()) {
            Exiv2::ExifParser::encode(pngExif, Exiv2::bigEndian, exif);
            exif.clear();
        }
        if (const PropertyDict* iptc = props ? props->dict(prop::IPTCDictionary) : nullptr) {
            Exiv2::IptcData& data = image->iptcData();
            for (const auto& [name, value] : *iptc) {
                try {
                    Exiv2::IptcKey key("Iptc.Application2." + name);
                    auto add = [&](const PropertyValue& one) {
                        auto text = one.asText();
                        if (!text) return;
                        Exiv2::Value::AutoPtr v = Exiv2::Value::create(
                            Exiv2::IptcDataSets::dataSetType(key.tag(), key.record()));
                        if (v->read(*text) == 0) data.add(key, v.get());
                    };
                    if (auto array = value.get<PropertyArray>()) {
                        for (const auto& one : *array) add(one);
                    } else {
                        add(value);
                    }
                } catch (const Exiv2::AnyError&) {
                }
            }
        }
        if (const PropertyDict* xmp = props ? props->dict(prop::XMPDictionary) : nullptr) {
            if (auto packet = xmp->string("XMLPacket")) {
image->setXmpPacket(XmpForOutput(*packet, request.orientation > 0 ? request.orientation : 1,
                                                  request.pixelWidth, request.pixelHeight));
                image->writeXmpFromPacket(true);
            }
        }
        image->writeMetadata();
        Exiv2::BasicIo& out = image->io();
        if (out.open() != 0) return false;
        const long size = out.size();
        if (size <= 0) return false;
        std::vector<std::uint8_t> result(static_cast<std::size_t>(size));
        out.seek(0, Exiv2::BasicIo::beg);
        const long read = out.read(result.data(), size);
        out.close();
        if (read != size) return false;
        if (!pngExif.empty() && !InsertPngExif(result, pngExif)) return false;
        bytes = std::move(result);
        return true;
    } catch (const Exiv2::AnyError&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace plat::codecs

#pragma GCC diagnostic pop
