// Runs the J4 work (every file: longest side 2048 px, JPEG quality 0.85)
// through the application's batch driver, with its per-file sequence of
// folder, name, dates and conversion, so bench/batch can set its cost beside
// the engine-only J4 of vantrell_bench.
//
//   vantrell_batch_bench <out folder> <file.jpg>...

#include "app/model/BatchConversion.h"
#include "common/KSMUtil.h"
#include "engine/ImageTypes.h"
#include "platform/Initialize.h"

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
    plat::Initialize();
    if (argc < 3) {
        std::fprintf(stderr, "usage: vantrell_batch_bench <out folder> <file>...\n");
        return 2;
    }
    BatchJob job;
    job.destination = argv[1];
    for (int i = 2; i < argc; ++i) job.rows.push_back({argv[i], {}, 0.0, 0});
    job.record.options.outputType = kImageTypeJPEG;
    job.record.options.quality = 0.85;
    job.record.resize = {1, 1, 0, 0, 0, 2048.0, 2048.0, 2, 2};  // fit inside 2048 px
    // The dates of the sources come along, as with the box on.
    job.keepCreationDate = true;
    job.keepModificationDate = true;
    job.naming.folder = [](const auto&, const std::filesystem::path& destination, const auto&) { return destination; };
    job.naming.file = [](const std::filesystem::path& source, const std::filesystem::path& folder, std::int64_t,
                         std::int32_t type) {
        return GetUniqueFileURL(folder, source.stem().string(), GetImageExtensionForType(type), false);
    };
    const BatchReport report = BatchConversion(std::move(job)).run([](int, const std::string&) {});
    if (!report.failedNames.empty()) {
        std::fprintf(stderr, "vantrell_batch_bench: %zu files failed\n", report.failedNames.size());
        return 1;
    }
    return 0;
}
