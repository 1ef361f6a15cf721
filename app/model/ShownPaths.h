#pragma once
// The files on disc that a path shown by Qt's file views stands for. Qt
// lists a folder with its names decoded as UTF-8, each byte that is not
// UTF-8 becoming U+FFFD, so a name picked in a file dialog need not exist as
// written. Each such part is matched against the folder's entries by how Qt
// reads them; the bytes of the entries that match are the answer.

#include <QString>

#include <cstddef>
#include <filesystem>
#include <vector>

// Every existing path that reads as `shown` (absolute), in directory order;
// several when names that differ only in such bytes read the same (a file
// view shows them as one row). None when nothing matches. At most `limit`.
std::vector<std::filesystem::path> PathsShownAs(const QString& shown, std::size_t limit = 256);

// The one path that reads as `shown`; empty when none or several do, so
// that a name the user could not tell apart is never guessed.
std::filesystem::path PathShownAs(const QString& shown);
