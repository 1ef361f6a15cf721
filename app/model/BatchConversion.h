#pragma once
// The batch conversion driver: one run over a snapshot of list rows, with the
// per-file sequence output folder, rotation and flip, output type, name,
// dates, conversion, optimisation and dates again. It touches no widget and
// no shared state: the controller snapshots everything on the main thread and
// hands it over, so a batch and a preview can run side by side.

#include "engine/ImageConversion.h"
#include "platform/FileAttributes.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One list row as the batch sees it.
struct BatchRow {
    std::filesystem::path fileURL;       // GetFileURL; empty: none
    std::filesystem::path parentFolder;  // GetParentFolder; empty for a file added by itself
    double angle = 0.0;                  // GetAngle
    std::int32_t flip = 0;               // GetFlip
};

// The naming of one batch, bound by the controller to this batch's rename
// pattern, maintain-directory and overwrite states and preview mode.
struct BatchNaming {
    // GetDestinationFolderURL:Dest:fromParent: (source, destination, parent).
    std::function<std::filesystem::path(const std::filesystem::path&, const std::filesystem::path&,
                                        const std::filesystem::path&)>
        folder;
    // GetDestinationFileURL:atFolder:withFile:And:ofNumber:At:toImageType:
    // with the pattern bound (source, output folder, running number, type).
    std::function<std::filesystem::path(const std::filesystem::path&, const std::filesystem::path&, std::int64_t,
                                        std::int32_t)>
        file;
};

// Bits of the optimisation menu's tag.
enum OptimisationSelection : int { kOptimiseJPEG = 1, kOptimisePNG = 2 };

// Progress codes of ChangeProgressStatus:.
enum BatchProgressCode : int { kProgressBatchStart = 1, kProgressNextFile = 3, kProgressBatchEnd = 5 };

// Everything a run needs, taken on the main thread when it starts.
struct BatchJob {
    std::vector<BatchRow> rows;  // in ascending row order
    std::filesystem::path destination;
    bool preview = false;
    ImageConversion record;  // filled and validated (IsConversionOptionsValid:)
    BatchNaming naming;
    std::int64_t startNumber = 0;     // first running number
    int optimisationSelection = 0;    // OptimisationSelection bits; 0 with the group off
    bool keepCreationDate = false;    // preserveCreatedDateCheckButton
    bool keepModificationDate = false;  // preserveModifiedDateCheckButton
    // Set by Cancel; tested before each file. Each run has its own.
    std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
};

// What a run did.
struct BatchReport {
    std::int64_t rowCount = 0;        // rows of the batch
    std::int64_t convertedCount = 0;  // files written
    std::vector<std::string> failedNames;  // sources not converted (missing or refused), in row order
    std::vector<std::filesystem::path> outputs;  // files written, in row order
    bool cancelled = false;
};

// The output type that names the file and is handed to the engine: the
// record's type, or for 0 the source's own (JPEG when it is not recognised).
std::int32_t ResolveOutputType(std::int32_t recordType, const std::filesystem::path& source);

// GetFileAttributes: the dates to give the output of `source`, or none when
// the creation-date box is off or the source cannot be read. The modification
// date comes along only with its box on.
std::optional<plat::FileAttributes> GetFileAttributes(const std::filesystem::path& source, bool keepCreationDate,
                                                      bool keepModificationDate);

// ConvertImageFormatFromURL:toURL:withOption:preserveAttribute: the engine's
// conversion of one file with a copy of the record. True when written.
bool ConvertImageFormatFromURL(const std::filesystem::path& source, const std::filesystem::path& destination,
                               const ImageConversion& record, std::optional<plat::FileAttributes> attributes);

// Recompresses a written JPEG or PNG losslessly when the selection asks for
// its type, then gives it the dates again (the current time without carried
// dates). False when no optimiser applies; the file is then left alone.
bool OptimiseConvertedFile(const std::filesystem::path& output, std::int32_t outputType, int selection,
                           bool preserveMetadata, const std::optional<plat::FileAttributes>& attributes);

// ConvertImageThread:'s work for one run. The progress callback runs on the
// calling thread with a BatchProgressCode and, for kProgressNextFile, the
// source's file name; a preview run reports nothing.
class BatchConversion {
public:
    using Progress = std::function<void(int code, const std::string& fileName)>;

    explicit BatchConversion(BatchJob job) : job_(std::move(job)) {}

    const BatchJob& job() const { return job_; }
    void cancel() { job_.cancel->store(true); }

    BatchReport run(const Progress& progress = {});

private:
    BatchJob job_;
};
