#include "platform/platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(Initialize, CanBeCalledRepeatedly) {
    plat::Initialize();
    plat::Initialize();
    SUCCEED();
}

// The vips modules wait for a file that needs them; the whole-slide loader,
// which no file reaches, is never loaded.
TEST(Initialize, VipsModulesLoadWhenFirstNeeded) {
    plat::Initialize();
    EXPECT_EQ(vips_type_find("VipsOperation", "openslideload"), 0u);
    for (const auto& [module, operation] : {std::pair{"heif", "heifload_source"}, {"jxl", "jxlload_source"},
                                            {"magick", "magicksave_buffer"}, {"poppler", "pdfload_source"}}) {
        plat::RequireVipsModule(module, operation);
        plat::RequireVipsModule(module, operation);
        EXPECT_NE(vips_type_find("VipsOperation", operation), 0u) << module;
    }
}

// libvips's disc copies of large decodes land in the private folder (mode
// 0700), not in the shared temporary folder.
TEST(Initialize, LibvipsTemporariesGoToThePrivateFolder) {
    plat::Initialize();
    const std::filesystem::path folder = plat::FileManager::temporaryDirectory();
    ASSERT_FALSE(folder.empty());
    vips::VImage disc = vips::VImage::new_temp_file("%s.v");
    const std::filesystem::path file = disc.filename();
    EXPECT_EQ(file.parent_path(), folder) << file;
    EXPECT_EQ(plat::FileManager::temporaryDirectory(), folder) << "stable once TMPDIR names it";
}

// A file-size limit fails a write cleanly, as a full disc does, instead of
// ending the process with SIGXFSZ.
TEST(Initialize, FileSizeLimitFailsTheWriteInsteadOfKillingTheProcess) {
    plat::Initialize();
    const std::filesystem::path folder = plat::FileManager::temporaryDirectory();
    const std::filesystem::path target = folder / ("limit-" + std::to_string(::getpid()) + ".bin");
    const pid_t child = ::fork();
    if (child == 0) {
        struct rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::string big(100000, 'x');
        const bool written = plat::FileManager::createFile(target, std::string_view(big));
        ::_exit(written ? 1 : 0);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write must fail";
    EXPECT_FALSE(std::filesystem::exists(target));
}
