#pragma once

#include <filesystem>
#include <vector>

// The files of one run that writes several outputs (the pages of a PDF, the
// images of a multi-page file), made whole or not at all. Each file is
// written under a hidden name beside its target; only when every file of the
// run is there does Commit() move them to their names. A run that fails, or
// ends without Commit(), removes what it wrote and the folder it made, and
// leaves every file that was there before as it was, replaced ones included.
//
// Stage() and Commit() are called from one thread; the staged files may be
// written from any.
class OutputBatch {
public:
    OutputBatch() = default;
    ~OutputBatch();
    OutputBatch(const OutputBatch&) = delete;
    OutputBatch& operator=(const OutputBatch&) = delete;

    // Makes the folder the outputs go into (with its parents); when the run
    // fails, the folder goes again if it was made here and is empty.
    bool MakeFolder(const std::filesystem::path& folder);

    // The path to write `target` to; empty when no name is left. With
    // `replace`, Commit() puts the file over one already at `target`;
    // without, it fails the run rather than replace one that appeared since.
    std::filesystem::path Stage(const std::filesystem::path& target, bool replace);

    // Moves every staged file to its target, in the order staged (a target
    // nothing was written for stays as it is). When one
    // cannot be moved, those already moved are taken back and the files they
    // replaced restored. True when all are in place.
    bool Commit();

private:
    struct Entry {
        std::filesystem::path staged;
        std::filesystem::path target;
        bool replace = false;
        std::filesystem::path replaced;  // the file that was at `target`, set aside while committing
        bool moved = false;
    };

    void RollBack();

    std::vector<Entry> entries_;
    std::filesystem::path folder_;
    bool madeFolder_ = false;
    bool committed_ = false;
};
