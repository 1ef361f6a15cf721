#pragma once
// The command line. Every argument after the program's name names a file,
// taken as the bytes it is: a Linux file name need not be UTF-8, and
// decoding it as text would lose it. The application has no options of its
// own and hands Qt none either, so a file called "-reverse" or "-style" is a
// file like any other. A first "--" ends the options as usual and is
// dropped; everything after it is a name, a further "--" included.

#include <filesystem>
#include <vector>

std::vector<std::filesystem::path> FilesFromCommandLine(int argc, const char* const* argv);
