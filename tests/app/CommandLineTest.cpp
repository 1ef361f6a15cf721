// The command line: every argument names a file, as its bytes.
#include "app/model/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Files = std::vector<std::filesystem::path>;

TEST(CommandLine, EveryArgumentIsAFileTakenAsItsBytes) {
    struct Case {
        const char* what;
        std::vector<const char*> arguments;  // after the program's name
        Files expected;
    } cases[] = {
        {"nothing", {}, {}},
        {"no UTF-8", {"caf\xe9.jpg", "/p/\xff\xfe.png"}, {"caf\xe9.jpg", "/p/\xff\xfe.png"}},
        {"named like Qt options", {"-reverse", "-style", "x.jpg", "-platform"}, {"-reverse", "-style", "x.jpg", "-platform"}},
        {"end of options", {"--", "-reverse", "--", "a.jpg"}, {"-reverse", "--", "a.jpg"}},
        {"end of options later", {"a.jpg", "--", "--"}, {"a.jpg", "--"}},
        {"empty names nothing", {"", "a.jpg"}, {"a.jpg"}},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"vantrell"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        EXPECT_EQ(FilesFromCommandLine(int(argv.size()), argv.data()), c.expected) << c.what;
    }
    EXPECT_TRUE(FilesFromCommandLine(0, nullptr).empty());
}

}  // namespace
