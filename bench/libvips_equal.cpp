// libvips alone doing the engine's work on JPEG photos, one process over all
// the files, for bench/compare's equal-work rows: each photo decoded at the
// engine's power-of-two shrink, resized with Lanczos-3 to exactly the
// engine's output size (the longest side `side` px, the other rounded) and
// saved as JPEG at `quality` without metadata. Linked to libvips only.
//
//   libvips_equal <side> <quality> <out folder> <file.jpg>...

#include <vips/vips8>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (VIPS_INIT(argv[0]) || argc < 5) {
        std::fprintf(stderr, "usage: libvips_equal <side> <quality> <out folder> <file.jpg>...\n");
        return 2;
    }
    const double side = std::atof(argv[1]);
    const int quality = std::atoi(argv[2]);
    const std::string folder = argv[3];
    try {
        for (int i = 4; i < argc; ++i) {
            const std::string path = argv[i];
            const vips::VImage header = vips::VImage::new_from_file(path.c_str());
            const double w = header.width(), h = header.height();
            const double scale = std::min(1.0, side / std::max(w, h));
            const int outW = int(std::lround(w * scale)), outH = int(std::lround(h * scale));
            int shrink = 1;
            while (shrink < 8 && scale * shrink * 2 <= 1.0) shrink *= 2;
            vips::VImage image = vips::VImage::new_from_file(
                path.c_str(), vips::VImage::option()->set("shrink", shrink)->set("access", VIPS_ACCESS_SEQUENTIAL));
            if (image.width() != outW || image.height() != outH) {
                image = image.resize(double(outW) / image.width(),
                                     vips::VImage::option()
                                         ->set("vscale", double(outH) / image.height())
                                         ->set("kernel", VIPS_KERNEL_LANCZOS3));
                if (image.width() != outW || image.height() != outH) {
                    image = image.embed(0, 0, outW, outH, vips::VImage::option()->set("extend", VIPS_EXTEND_COPY));
                }
            }
            const std::string name = path.substr(path.find_last_of('/') + 1);
            image.jpegsave((folder + "/" + name).c_str(),
                           vips::VImage::option()->set("Q", quality)->set("strip", true));
        }
    } catch (const vips::VError& error) {
        std::fprintf(stderr, "libvips_equal: %s\n", error.what());
        return 1;
    }
    return 0;
}
