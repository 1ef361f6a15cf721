#include "app/model/DragOutConversion.h"

#include "common/KSMUtil.h"
#include "engine/ConvertImage.h"
#include "engine/ImageTypes.h"

#include <system_error>

std::filesystem::path MakeDragOutFolder() {
    std::filesystem::path folder = GetTemporaryURLWithPrefix("drag");
    std::error_code error;
    if (folder.empty() || !std::filesystem::create_directory(folder, error) || error) return {};
    return folder;
}

std::vector<std::filesystem::path> ConvertRowsIntoFolder(const std::vector<ListRowSnapshot>& rows,
                                                         const std::filesystem::path& folder,
                                                         const ImageConversion& record,
                                                         const std::atomic<bool>& cancelled) {
    std::vector<std::filesystem::path> written;
    if (folder.empty()) return written;
    for (const ListRowSnapshot& row : rows) {
        if (cancelled.load()) break;
        ImageConversion conversion = record;
        conversion.sourceURL = row.fileURL;
        conversion.rotationAngle = row.angle;
        conversion.flipMask = row.flip;
        std::string extension = row.fileURL.extension().string();
        if (conversion.options.outputType != kImageTypeSource) {
            extension = "." + GetImageExtensionForType(conversion.options.outputType);
        }
        if (!extension.empty()) extension.erase(0, 1);
        conversion.destinationURL =
            GetUniqueFileURL(folder, row.fileURL.stem().string(), extension, false);
        if (conversion.destinationURL.empty()) continue;
        if (ConvertImageWithOptions(&conversion) == 1) written.push_back(conversion.destinationURL);
    }
    return written;
}
