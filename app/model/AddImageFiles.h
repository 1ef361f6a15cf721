#pragma once
// Adding files to the image list, the parts that need no list: the input
// filter, folder expansion with or without subfolders, and the name order of
// the files found. Safe on any thread.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The state of one add request: its own cancel flag and counters, read by
// the progress sheet while the request runs on its thread.
struct AddRequestState {
    std::atomic<bool> cancelled{false};
    // Files looked at so far, and files inserted so far.
    std::atomic<std::int64_t> numOfFilesForConversion{0};
    std::atomic<std::int64_t> fileProcessingIndex{0};
};

// One file found by a request, with the folder it was found through (empty
// for a file given by itself).
struct AddFileRecord {
    std::filesystem::path fileURL;
    std::filesystem::path folderURL;
};

// The "ImageTypes" resource: quoted four-character type codes and file
// extensions; empty when the resource is missing or unreadable.
std::vector<std::string> GetImageTypesList();
// The file-name patterns ("*.jpg") of the extensions in that list, for a file
// chooser that offers images only; the type codes give none.
std::vector<std::string> ImageTypePatterns();
// The 27 types never taken as images: PDF, PICT, PostScript, text and office
// documents, as codes and extensions.
std::vector<std::string> GetExcludedTypesList();

// The input filter: 1 to accept the file as an image, 0 to refuse it.
int IsSupportedImageFile(const std::filesystem::path& url);

// Expands the given files and folders (subfolders only when `recursive`),
// skipping hidden items, in the order given; each file passes the filter.
// Stops when the request is cancelled. Counts every file looked at.
std::vector<AddFileRecord> CollectFilesForAdding(const std::vector<std::filesystem::path>& urls, bool recursive,
                                                 AddRequestState& state);

// Name order of the file names, as a file manager sorts; reversed when not
// ascending. A record without a name goes last either way.
void SortAddRecords(std::vector<AddFileRecord>& records, bool ascending);
