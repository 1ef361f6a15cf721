#pragma once
// Rows dragged out of the image list are delivered as real files: converted
// with the job's record into a fresh temporary folder when the drop target
// first asks for them.

#include "app/model/ImageListModel.h"
#include "engine/ImageConversion.h"

#include <atomic>
#include <filesystem>
#include <vector>

// A new private folder for one drag; empty when none can be made.
std::filesystem::path MakeDragOutFolder();

// Converts each row with `record` (its source, destination, rotation and flip
// replaced per row) into `folder`, each under its own file name made unique
// there. Answers the files written, in row order; a row that fails is left
// out. Stops when `cancelled` is set.
std::vector<std::filesystem::path> ConvertRowsIntoFolder(const std::vector<ListRowSnapshot>& rows,
                                                         const std::filesystem::path& folder,
                                                         const ImageConversion& record,
                                                         const std::atomic<bool>& cancelled);
