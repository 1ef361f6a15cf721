#pragma once
// Working files left behind by a process that ended without cleaning up (a
// kill, a crash): our working files "Vantrell.<class>.<hash>.<counter>.temp"
// in the private temporary folder and the files the tools make of them there
// (advpng's "<working name>.tmp<number>", jpegoptim's
// "jpegoptim-<uid>-<pid>.<random>.tmp"), and the hidden files of an
// interrupted replacement beside an original.
//
// A process that makes working files holds a lock on an owner file
// "vantrell-owner.<pid>" in the private temporary folder for as long as it
// lives, and removes it when it ends normally. Only names of exactly that
// form are owner files. A working file is stale when
// it was made before every living owner started: none of them can be using
// it.
//
// The folders a process replaces files in are recorded in the private
// temporary folder ("vantrell-folders", a line each: the recording owner's
// process id, a space, the escaped absolute path), so that a later process
// sweeps them even when it never works there itself. An entry stays while
// its owner lives; after that, a later process drops it once nothing of ours
// is left in the folder.

#include <filesystem>
#include <string_view>

namespace optimisation {

// Registers this process as an owner in the private temporary folder and,
// the first time for that folder, removes the stale working files there, the
// owner files of processes that are gone, and the stale files in the recorded
// folders.
void ClaimPrivateWorkingFiles();

// The first time for a folder in this process, before anything is written
// there: records the folder and removes the stale replacement files in it.
void StartWorkingBeside(const std::filesystem::path& folder);

// Whether a name in the private temporary folder is a working file of ours or
// a tool's working file made of one.
bool IsPrivateWorkingFile(std::string_view name);

}  // namespace optimisation
