#pragma once
// Private staging folders of rows dragged out to a drop target that takes
// finished files (a list of file URLs): the batch writes into one folder per
// drag, and the target copies from there. Each folder is named after the
// process that made it, so a later start can tell the folders of ended
// processes (left by a crash) from those of a running one.

#include <filesystem>
#include <vector>

// The folder that holds the staging folders: in the user's private
// temporary folder. Empty when there is none.
std::filesystem::path DragOutStagingRoot();

// A new, empty staging folder under `root` (made when missing); empty when
// none can be made.
std::filesystem::path MakeDragOutStagingFolder(const std::filesystem::path& root);

// Removes the staging folders under `root` whose process is no longer
// running. Anything else there is left alone.
void RemoveStaleDragOutFolders(const std::filesystem::path& root);

// What to hand a drop target for the files written under `staging`: the
// entries directly inside it that hold them (a subfolder kept by
// maintain-directory is handed whole), in the order of the first file of
// each, each once. Files outside `staging` are left out.
std::vector<std::filesystem::path> DragOutEntries(const std::filesystem::path& staging,
                                                  const std::vector<std::filesystem::path>& outputs);

// Saves staged entries (files, or folders kept by maintain-directory) into
// `folder` for a user whose drop target gave up on them: each under its own
// name, or "name N" when that is taken; nothing there is ever replaced. A
// file is moved when it can be, else copied (atomically). The entries that
// could not be saved, in order.
std::vector<std::filesystem::path> SaveDragOutEntries(const std::vector<std::filesystem::path>& entries,
                                                      const std::filesystem::path& folder);
