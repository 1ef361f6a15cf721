// A folder as users have them, run through both roads: animations,
// metadata, links and read-only files stay as they were, the plain files
// shrink, and every status says what happened.

#include "OptimisationTestSupport.h"

#include "optimisation/optimisation.h"

#include <map>

#include <sys/stat.h>

namespace {

using namespace optest;
using optimisation::File;

enum class Expect { Shrinks, Unchanged };

struct Entry {
    const char* name;
    Expect expect;
    const char* status;  // a prefix of the final status
};

const std::vector<Entry>& Entries() {
    static const std::vector<Entry> entries{
        {"plain.png", Expect::Shrinks, "Optimized successfully with "},
        {"plain.jpg", Expect::Shrinks, "Optimized successfully with "},
        {"meta.png", Expect::Shrinks, "Optimized successfully with "},
        {"link.png", Expect::Shrinks, "Optimized successfully with "},
        {"hard.jpg", Expect::Shrinks, "Optimized successfully with "},
        {"anim.png", Expect::Unchanged, "Animated PNG left as it is"},
        {"two.jpg", Expect::Unchanged, "JPEG with more than one image left as it is"},
        {"readonly.png", Expect::Unchanged, "File is not writable"},
    };
    return entries;
}

class MixedFolderTest : public OptimisationTest {
protected:
    void MakeFolder() {
        fs::create_directories(Path("photos/elsewhere"));
        WriteBytes(Path("photos/plain.png"), MakeStoredPng(64, 48));
        WriteBytes(Path("photos/plain.jpg"), MakeJpeg(64, 48, true));
        WriteBytes(Path("photos/meta.png"), MakeStoredPngWith(64, 48, MetadataChunks()));
        WriteBytes(Path("photos/elsewhere/target.png"), MakeStoredPng(48, 48));
        fs::create_symlink("elsewhere/target.png", Path("photos/link.png"));
        WriteBytes(Path("photos/hard.jpg"), MakeJpeg(48, 64, false));
        fs::create_hard_link(Path("photos/hard.jpg"), Path("photos/elsewhere/hard-too.jpg"));
        WriteBytes(Path("photos/anim.png"), MakeApng(48, 32));
        WriteBytes(Path("photos/two.jpg"), MakeTwoImageJpeg(true));
        WriteBytes(Path("photos/readonly.png"), MakeStoredPng(32, 32));
        ::chmod(Path("photos/readonly.png").c_str(), 0444);
        for (const auto& entry : Entries()) {
            before_[entry.name] = ReadBytes(Path(std::string("photos/") + entry.name));
            pixels_[entry.name] = DecodePixels(Path(std::string("photos/") + entry.name));
        }
    }

    void Check(const std::map<std::string, std::string>& statuses) {
        for (const auto& entry : Entries()) {
            const fs::path path = Path(std::string("photos/") + entry.name);
            const Bytes now = ReadBytes(path);
            if (entry.expect == Expect::Unchanged) {
                EXPECT_EQ(now, before_[entry.name]) << entry.name;
            } else {
                EXPECT_LT(now.size(), before_[entry.name].size()) << entry.name;
                EXPECT_EQ(DecodePixels(path), pixels_[entry.name]) << entry.name;
            }
            EXPECT_TRUE(statuses.at(entry.name).starts_with(entry.status))
                << entry.name << ": " << statuses.at(entry.name);
        }
        EXPECT_TRUE(fs::is_symlink(Path("photos/link.png")));
        EXPECT_EQ(ReadBytes(Path("photos/elsewhere/hard-too.jpg")), ReadBytes(Path("photos/hard.jpg")));
        const auto meta = PngChunkTypes(ReadBytes(Path("photos/meta.png")));
        for (const auto& chunk : MetadataChunks()) {
            EXPECT_NE(std::find(meta.begin(), meta.end(), chunk.type), meta.end()) << chunk.type;
        }
        struct stat st{};
        ::stat(Path("photos/readonly.png").c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0444u);
        for (const auto& entry : fs::directory_iterator(Path("photos"))) {
            EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
        }
        EXPECT_TRUE(LeftoverWorkingFiles().empty());
    }

    std::map<std::string, Bytes> before_;
    std::map<std::string, Bytes> pixels_;
};

TEST_F(MixedFolderTest, QueuePathWithEveryTool) {
    MakeFolder();
    for (auto key : {plat::defaults::kPngCrushEnabled, plat::defaults::kOptiPngEnabled, plat::defaults::kAdvPngEnabled,
                     plat::defaults::kJpegOptimEnabled, plat::defaults::kJpegTranEnabled}) {
        Defaults().setBool(key, true);
    }
    plat::OperationQueue cpu(3);
    plat::OperationQueue io(1);
    std::map<std::string, std::shared_ptr<File>> files;
    for (const auto& entry : Entries()) {
        auto file = std::make_shared<File>(Path(std::string("photos/") + entry.name).string());
        file->enqueueWorkersInCPUQueue(cpu, io);
        files[entry.name] = file;
    }
    for (int round = 0; round < 3; ++round) {
        io.waitUntilAllOperationsAreFinished();
        cpu.waitUntilAllOperationsAreFinished();
    }
    std::map<std::string, std::string> statuses;
    for (const auto& [name, file] : files) statuses[name] = file->statusText();
    Check(statuses);
}

TEST_F(MixedFolderTest, ApplicationRoadWithPngCrushAndJpegOptim) {
    MakeFolder();
    std::map<std::string, std::string> statuses;
    for (const auto& entry : Entries()) {
        auto file = std::make_shared<File>(Path(std::string("photos/") + entry.name).string());
        if (std::string(entry.name).ends_with(".png")) {
            optimisation::KSMPngCrushAgent(file, 1).run();
        } else {
            optimisation::JPEGOptimAgent(file, 100, false).run();
        }
        statuses[entry.name] = file->statusText();
        file->cleanup();
    }
    Check(statuses);
}

}  // namespace
