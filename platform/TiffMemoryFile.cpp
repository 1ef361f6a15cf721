#include "platform/TiffMemoryFile.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace plat {

namespace {

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<TiffMemoryFile*>(handle);
    if (size <= 0 || file->position >= file->bytes.size()) return 0;
    const std::size_t n = std::min<std::size_t>(std::size_t(size), file->bytes.size() - file->position);
    std::memcpy(buffer, file->bytes.data() + file->position, n);
    file->position += n;
    return tmsize_t(n);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<TiffMemoryFile*>(handle);
    if (size <= 0) return 0;
    const std::size_t end = std::size_t(file->position) + std::size_t(size);
    if (end > file->bytes.size()) file->bytes.resize(end);
    std::memcpy(file->bytes.data() + file->position, buffer, std::size_t(size));
    file->position = end;
    return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<TiffMemoryFile*>(handle);
    toff_t base = 0;
    if (whence == SEEK_CUR) base = file->position;
    else if (whence == SEEK_END) base = file->bytes.size();
    file->position = base + offset;
    return file->position;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<TiffMemoryFile*>(handle)->bytes.size(); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

int QuietHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

QuietTiffOptions::QuietTiffOptions() : options(TIFFOpenOptionsAlloc()) {
    if (options) {
        TIFFOpenOptionsSetErrorHandlerExtR(options, QuietHandler, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, QuietHandler, nullptr);
    }
}

QuietTiffOptions::~QuietTiffOptions() {
    if (options) TIFFOpenOptionsFree(options);
}

TIFF* OpenTiffMemoryFile(TiffMemoryFile* file, const char* mode) {
    QuietTiffOptions quiet;
    return TIFFClientOpenExt("memory", mode, file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                             UnmapProc, quiet.options);
}

}  // namespace plat
