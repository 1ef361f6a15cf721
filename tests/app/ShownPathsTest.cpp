// Paths picked in Qt's file views, found again by their bytes.
#include "ByteNamesTestSupport.h"
#include "app/model/ShownPaths.h"
#include "platform/ScratchFolder.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using bytenames::Escaped;

QString Shown(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.native())); }

std::vector<fs::path> Sorted(std::vector<fs::path> paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(ShownPaths, EveryPathIsFoundAgainByItsBytes) {
    ScratchFolder folder;
    const fs::path e9 = folder / "caf\xe9.png", e8 = folder / "caf\xe8.png";
    const fs::path literal = folder / "caf\xef\xbf\xbd.png";  // a real U+FFFD in the name
    const fs::path sub9 = folder / "sub\xe9", sub8 = folder / "sub\xe8";
    fs::create_directory(sub9);
    fs::create_directory(sub8);
    for (const fs::path& path : {e9, e8, literal, sub8 / "x.png"}) std::ofstream(path) << "x";

    struct Case {
        std::string what;
        QString shown;
        std::vector<fs::path> all;
        fs::path one;
    };
    std::vector<Case> cases{
        {"three files shown as one", Shown(e9), Sorted({e9, e8, literal}), {}},
        {"only one of two folders holds the file", Shown(sub9 / "x.png"), {sub8 / "x.png"}, sub8 / "x.png"},
        {"valid UTF-8 is taken as written", Shown(sub9), Sorted({sub9, sub8}), {}},
        {"nothing of that name", Shown(folder / "gone\xe9.png"), {}, {}},
        {"a relative path", QStringLiteral("caf.png"), {}, {}},
    };
    // Every byte name, each in a folder of its own (some of them read the same).
    int index = 0;
    for (const std::string& name : bytenames::Names(".png")) {
        const fs::path file = folder / "\xff folder\xe9" / std::to_string(index++) / name;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "x";
        cases.push_back({Escaped(name), Shown(file), {file}, file});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Sorted(PathsShownAs(c.shown)), c.all);
        EXPECT_EQ(PathShownAs(c.shown), c.one);
    }
    EXPECT_EQ(PathsShownAs(Shown(e9), 2).size(), 2u) << "bounded";
}

}  // namespace
