#include "app/model/BatchConversion.h"

#include "engine/ConvertImage.h"
#include "engine/ImageTypes.h"
#include "optimisation/File.h"
#include "optimisation/JPEGOptimAgent.h"
#include "optimisation/KSMPngCrushAgent.h"
#include "platform/FileManager.h"

#include <chrono>

namespace {

// Which optimiser serves which output type, and under which selection bit.
struct OptimiserChoice {
    std::int32_t outputType;
    int selectionBit;
    std::unique_ptr<optimisation::Agent> (*make)(std::shared_ptr<optimisation::File>, bool stripMetadata);
};

const OptimiserChoice kOptimisers[] = {
    // Quality 100: jpegoptim works losslessly.
    {kImageTypeJPEG, kOptimiseJPEG,
     [](std::shared_ptr<optimisation::File> file, bool strip) -> std::unique_ptr<optimisation::Agent> {
         return std::make_unique<optimisation::JPEGOptimAgent>(std::move(file), 100, strip);
     }},
    {kImageTypePNG, kOptimisePNG,
     [](std::shared_ptr<optimisation::File> file, bool) -> std::unique_ptr<optimisation::Agent> {
         return std::make_unique<optimisation::KSMPngCrushAgent>(std::move(file), 1);
     }},
};

std::string FileName(const std::filesystem::path& path) { return path.filename().string(); }

}  // namespace

std::int32_t ResolveOutputType(std::int32_t recordType, const std::filesystem::path& source) {
    if (recordType != kImageTypeSource) return recordType;
    const std::int32_t sourceType = GetImageTypeCodeForURL(source);
    return sourceType == kImageTypeSource ? kImageTypeJPEG : sourceType;
}

std::optional<plat::FileAttributes> GetFileAttributes(const std::filesystem::path& source, bool keepCreationDate,
                                                      bool keepModificationDate) {
    if (!keepCreationDate) return std::nullopt;
    const auto sourceAttributes = plat::FileManager::attributesOfItem(source);
    if (!sourceAttributes) return std::nullopt;
    // Many Linux filesystems record no creation date; the modification date
    // is still worth carrying, so a missing creation date does not drop both.
    plat::FileAttributes attributes;
    attributes.creationDate = sourceAttributes->creationDate;
    if (keepModificationDate) attributes.modificationDate = sourceAttributes->modificationDate;
    if (!attributes.creationDate && !attributes.modificationDate) return std::nullopt;
    return attributes;
}

bool ConvertImageFormatFromURL(const std::filesystem::path& source, const std::filesystem::path& destination,
                               const ImageConversion& record, std::optional<plat::FileAttributes> attributes) {
    ImageConversion copy = record;
    copy.sourceURL = source;
    copy.destinationURL = destination;
    copy.fileAttributes = std::move(attributes);
    return ConvertImageWithOptions(&copy) == 1;
}

bool OptimiseConvertedFile(const std::filesystem::path& output, std::int32_t outputType, int selection,
                           bool preserveMetadata, const std::optional<plat::FileAttributes>& attributes) {
    const OptimiserChoice* choice = nullptr;
    for (const OptimiserChoice& candidate : kOptimisers) {
        if (candidate.outputType == outputType && (selection & candidate.selectionBit)) choice = &candidate;
    }
    if (!choice) return false;

    auto file = std::make_shared<optimisation::File>(output.string());
    {
        // The optimiser tools run one at a time, on the batch thread.
        auto agent = choice->make(file, !preserveMetadata);
        agent->run();
    }
    // The optimised file replaced the converted one: its dates are new.
    plat::FileAttributes dates;
    if (attributes) {
        dates = *attributes;
    } else {
        const auto now = std::chrono::system_clock::now();
        dates.creationDate = now;
        dates.modificationDate = now;
    }
    plat::FileManager::setAttributes(output, dates);
    file->cleanup();
    return true;
}

BatchReport BatchConversion::run(const Progress& progress) {
    BatchReport report;
    report.rowCount = static_cast<std::int64_t>(job_.rows.size());
    const bool preview = job_.preview;
    auto tell = [&](int code, const std::string& name) {
        if (!preview && progress) progress(code, name);
    };

    tell(kProgressBatchStart, {});
    std::int64_t number = job_.startNumber;
    for (const BatchRow& row : job_.rows) {
        if (job_.cancel->load()) break;
        const std::filesystem::path& source = row.fileURL;
        if (source.empty() || !plat::FileManager::fileExists(source)) {
            // Gone since it was added: no progress step, no number used.
            if (!source.empty()) report.failedNames.push_back(FileName(source));
            continue;
        }
        tell(kProgressNextFile, FileName(source));

        const std::filesystem::path folder =
            job_.naming.folder ? job_.naming.folder(source, job_.destination, row.parentFolder) : job_.destination;

        ImageConversion record = job_.record;
        record.rotationAngle = static_cast<std::int64_t>(row.angle);
        record.flipMask = row.flip;
        // The engine gets the same type that names the file, so the name and
        // the content can never disagree.
        const std::int32_t outputType = ResolveOutputType(record.options.outputType, source);
        record.options.outputType = outputType;

        const std::filesystem::path output =
            job_.naming.file ? job_.naming.file(source, folder, number, outputType) : std::filesystem::path();
        const auto attributes = GetFileAttributes(source, job_.keepCreationDate, job_.keepModificationDate);
        ++number;

        if (!output.empty() && ConvertImageFormatFromURL(source, output, record, attributes)) {
            ++report.convertedCount;
            report.outputs.push_back(output);
            // Only a written file is worth optimising and dating.
            if (!preview) {
                OptimiseConvertedFile(output, outputType, job_.optimisationSelection,
                                      record.options.preserveMetadata != 0, attributes);
            }
        } else {
            report.failedNames.push_back(FileName(source));
        }
    }
    // Cancel pressed during the last file still counts as a cancelled batch.
    report.cancelled = job_.cancel->load();
    tell(kProgressBatchEnd, {});
    return report;
}
