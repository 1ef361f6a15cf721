#pragma once
// Working files left behind by a process that ended without cleaning up (a
// kill, a crash): the tools' files "Vantrell.<class>.<hash>.<counter>.temp" in
// the private temporary folder and the hidden ".<token>.vantrell-tmp-<name>"
// files of an interrupted replacement beside an original.
//
// A process that makes working files holds a lock on an owner file
// "vantrell-owner.<pid>" in the private temporary folder for as long as it
// lives. A working file is stale when it was made before every living owner
// started: none of them can be using it.

#include <filesystem>

namespace optimisation {

// Registers this process as an owner in the private temporary folder and,
// the first time for that folder, removes the stale working files there and
// the owner files of processes that are gone.
void ClaimPrivateWorkingFiles();

// The first time for a folder in this process: removes the stale hidden
// replacement files in it.
void RemoveStaleFilesBeside(const std::filesystem::path& folder);

}  // namespace optimisation
