#include "platform/Bundle.h"
#include "platform/SystemVersion.h"
#include "platform/Uuid.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

TEST(Bundle, ResourcesComeFromTheEnvironmentOverride) {
    ScratchFolder folder;
    ScopedEnvironment env("VANTRELL_RESOURCES", folder.path().c_str());
    std::ofstream(folder / "ImageExtension.plist") << "x";
    std::ofstream(folder / "README") << "x";
    EXPECT_EQ(plat::Bundle::resourcesDirectory(), folder.path());
    EXPECT_EQ(plat::Bundle::pathForResource("ImageExtension", "plist"), folder / "ImageExtension.plist");
    EXPECT_EQ(plat::Bundle::pathForResource("README", ""), folder / "README");
    EXPECT_TRUE(plat::Bundle::pathForResource("Missing", "plist").empty());
    EXPECT_TRUE(plat::Bundle::pathForResource("../escape", "plist").empty());
    EXPECT_TRUE(plat::Bundle::pathForResource("", "plist").empty());
}

TEST(Bundle, ResourcesWithoutOverrideAreLookedForBesideTheExecutable) {
    ScopedEnvironment env("VANTRELL_RESOURCES", nullptr);
    const fs::path exe = plat::Bundle::executablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_TRUE(fs::exists(exe));
    const fs::path resources = plat::Bundle::resourcesDirectory();
    if (!resources.empty()) {
        EXPECT_TRUE(resources == exe.parent_path() / "resources" ||
                    resources == exe.parent_path().parent_path() / "resources");
    }
}

TEST(Uuid, IsUpperCaseAndFresh) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string uuid = plat::Uuid::newString();
        ASSERT_EQ(uuid.size(), 36u);
        for (std::size_t j = 0; j < uuid.size(); ++j) {
            if (j == 8 || j == 13 || j == 18 || j == 23) {
                EXPECT_EQ(uuid[j], '-');
            } else {
                EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(uuid[j])) &&
                            !std::islower(static_cast<unsigned char>(uuid[j])))
                    << uuid;
            }
        }
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(SystemVersion, EmulatedAndOverridable) {
    EXPECT_EQ(plat::SystemVersion::current(), (plat::SystemVersion{14, 0, 0}));
    plat::SystemVersion::setOverride(plat::SystemVersion{10, 7, 5});
    EXPECT_LT(plat::SystemVersion::current(), (plat::SystemVersion{10, 8, 0}));
    plat::SystemVersion::setOverride(std::nullopt);
    EXPECT_EQ(plat::SystemVersion::current(), plat::SystemVersion::emulated());
}
