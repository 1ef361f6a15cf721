#include "optimisation/FileCondition.h"

#include "optimisation/File.h"
#include "platform/FileDescriptor.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace optimisation {

namespace {

// Sequential reads from a descriptor through a fixed buffer.
class ByteReader {
public:
    explicit ByteReader(int fd) : fd_(fd), buffer_(1 << 16) {}

    // The next byte, or -1 at the end or on an error.
    int next() {
        if (at_ == filled_ && !fill()) return -1;
        return buffer_[at_++];
    }
    // Skips `count` bytes; false when the file ends first.
    bool skip(std::uint64_t count) {
        const std::uint64_t buffered = filled_ - at_;
        if (count <= buffered) {
            at_ += static_cast<std::size_t>(count);
            return true;
        }
        offset_ += count - buffered;
        at_ = filled_ = 0;
        return true;
    }
    // Moves past the next 0xFF byte; false when there is none.
    bool skipPastMarkerByte() {
        for (;;) {
            if (at_ == filled_ && !fill()) return false;
            const void* found = std::memchr(buffer_.data() + at_, 0xFF, filled_ - at_);
            if (found != nullptr) {
                at_ = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - buffer_.data()) + 1;
                return true;
            }
            at_ = filled_;
        }
    }
    // Whether anything but padding (0x00 or 0xFF bytes) is left.
    bool holdsMoreThanPadding() {
        for (int byte = next(); byte >= 0; byte = next()) {
            if (byte != 0x00 && byte != 0xFF) return true;
        }
        return false;
    }
    bool read(std::uint8_t* out, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            const int byte = next();
            if (byte < 0) return false;
            out[i] = static_cast<std::uint8_t>(byte);
        }
        return true;
    }

private:
    bool fill() {
        ssize_t got = 0;
        do {
            got = ::pread(fd_, buffer_.data(), buffer_.size(), static_cast<off_t>(offset_));
        } while (got < 0 && errno == EINTR);
        if (got <= 0) return false;
        offset_ += static_cast<std::uint64_t>(got);
        at_ = 0;
        filled_ = static_cast<std::size_t>(got);
        return true;
    }

    int fd_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t offset_ = 0;  // of the byte after the buffer
    std::size_t at_ = 0;
    std::size_t filled_ = 0;
};

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// An animation control chunk before the first image data makes an APNG.
bool IsAnimatedPng(int fd) {
    ByteReader reader(fd);
    if (!reader.skip(8)) return false;
    for (;;) {
        std::uint8_t header[8];
        if (!reader.read(header, sizeof header)) return false;
        const std::uint32_t length = BigEndian32(header);
        const std::string_view type(reinterpret_cast<const char*>(header + 4), 4);
        if (type == "acTL") return true;
        if (type == "IDAT" || type == "IEND" || length > 0x7FFFFFFFu) return false;
        reader.skip(std::uint64_t(length) + 4);
    }
}

// Whether a JPEG holds more than one image: an MPF index (multi-picture
// files, gain maps), or anything but padding after the end of its first
// image (an appended image, a video). The optimisers keep only the first
// image. A file that does not parse is left to the tools' own checks.
bool HoldsMoreThanOneImage(int fd) {
    ByteReader reader(fd);
    if (!reader.skip(2)) return false;
    // After the first scan header, entropy-coded data runs up to each next
    // marker other than a stuffed zero or a restart marker.
    bool inScans = false;
    for (;;) {
        if (inScans ? !reader.skipPastMarkerByte() : reader.next() != 0xFF) return false;
        int marker = reader.next();
        while (marker == 0xFF) marker = reader.next();
        if (marker < 0) return false;
        if (marker == 0xD9) return reader.holdsMoreThanPadding();  // the end of the first image
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01 || marker == 0x00) continue;
        std::uint8_t lengthBytes[2];
        if (!reader.read(lengthBytes, 2)) return false;
        const unsigned length = (unsigned(lengthBytes[0]) << 8) | lengthBytes[1];
        if (length < 2) return false;
        unsigned rest = length - 2;
        if (marker == 0xE2 && rest >= 4) {
            std::uint8_t tag[4];
            if (!reader.read(tag, 4)) return false;
            if (std::memcmp(tag, "MPF\0", 4) == 0) return true;
            rest -= 4;
        }
        reader.skip(rest);
        inScans = inScans || marker == 0xDA;
    }
}

}  // namespace

std::string ResolvedTarget(const std::string& path) {
    if (path.empty()) return {};
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return {};
    std::string target(resolved);
    std::free(resolved);
    return target;
}

bool IsWritableByUser(const std::string& path, unsigned mode) {
    if (::access(path.c_str(), W_OK) != 0) return false;
    return ::geteuid() != 0 || (mode & 0222) != 0;
}

FileInspection InspectFileCondition(const std::string& path) {
    FileInspection inspection;
    if (path.empty()) return inspection;
    // O_NONBLOCK: opening a FIFO must not wait for a writer; fstat then refuses it.
    plat::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st{};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return inspection;
    if (!S_ISREG(st.st_mode)) {
        inspection.condition = FileCondition::NotRegular;
        return inspection;
    }
    inspection.size = static_cast<std::uint64_t>(st.st_size);
    std::uint8_t head[8] = {};
    ssize_t got = 0;
    do {
        got = ::pread(fd.get(), head, sizeof head, 0);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return inspection;
    inspection.type = File::fileType(std::span<const std::uint8_t>(head, static_cast<std::size_t>(got)));

    if (!IsWritableByUser(path, st.st_mode)) {
        inspection.condition = FileCondition::NotWritable;
    } else if (inspection.type == kFileTypePNG && IsAnimatedPng(fd.get())) {
        inspection.condition = FileCondition::AnimatedPng;
    } else if (inspection.type == kFileTypeJPEG && HoldsMoreThanOneImage(fd.get())) {
        inspection.condition = FileCondition::MoreThanOneImage;
    } else {
        inspection.condition = FileCondition::Fine;
    }
    return inspection;
}

ConditionStatus StatusForCondition(FileCondition condition) {
    struct Row {
        FileCondition condition;
        ConditionStatus status;
    };
    static constexpr std::array<Row, 5> kRows{{
        {FileCondition::Unreadable, {"err", 8, status::kCannotMap}},
        {FileCondition::NotRegular, {"err", 8, status::kNotRegularFile}},
        {FileCondition::NotWritable, {"err", 8, status::kNotWritable}},
        {FileCondition::AnimatedPng, {"noopt", 5, status::kAnimationKept}},
        {FileCondition::MoreThanOneImage, {"noopt", 5, status::kMoreImagesKept}},
    }};
    for (const auto& row : kRows) {
        if (row.condition == condition) return row.status;
    }
    return {"", 0, ""};
}

}  // namespace optimisation
