#include "platform/ScratchFolder.h"

#include "app/model/JobOptionsModel.h"
#include "app/model/OutputNaming.h"
#include "ByteNamesTestSupport.h"

#include <fstream>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

JobOptionState RenameState(int tag, int position, const char* name, const char* suffix = "", int padding = 0,
                           std::int64_t start = 1) {
    JobOptionState state;
    state.groupOn[kRenameGroup] = true;
    state.renameTag = tag;
    state.numberPosition = position;
    state.fileNameText = QString::fromUtf8(name);
    state.suffixText = QString::fromUtf8(suffix);
    state.zeroPaddingText = QString::number(padding);
    state.startDigitText = QString::number(start);
    return state;
}

void Touch(const fs::path& path) {
    std::ofstream(path) << "x";
}

// The name the batch gives the first file of a run (number = start).
std::string FirstName(const JobOptionState& state, const fs::path& source, const fs::path& folder, int type,
                      bool exact = false) {
    bool sourceNameFlag = false;
    int position = kNoNumber;
    const auto pattern = CheckAndGetNewFileName(state, &sourceNameFlag, &position);
    return GetDestinationFileURL(source, folder, pattern ? &*pattern : nullptr, sourceNameFlag,
                                 state.startDigitValue(), position, type, exact)
        .filename()
        .string();
}

TEST(OutputNamingTest, PatternOnlyWithTheRenameGroupOnAndAKnownKind) {
    JobOptionState state = RenameState(kRenamePrefixSuffix, kNumberBeforeName, "a_");
    bool flag = false;
    int position = kNoNumber;
    ASSERT_TRUE(CheckAndGetNewFileName(state, &flag, &position));
    EXPECT_TRUE(flag);
    EXPECT_EQ(position, kNumberBeforeName);

    state.renameTag = 3;
    flag = false;
    position = kNoNumber;
    EXPECT_FALSE(CheckAndGetNewFileName(state, &flag, &position));
    EXPECT_EQ(position, kNumberBeforeName);  // written whenever the group is on
    EXPECT_FALSE(flag);

    state.groupOn[kRenameGroup] = false;
    position = kNoNumber;
    EXPECT_FALSE(CheckAndGetNewFileName(state, &flag, &position));
    EXPECT_EQ(position, kNoNumber);
}

TEST(OutputNamingTest, NamingPatterns) {
    ScratchFolder folder;
    struct Case {
        JobOptionState state;
        const char* source;
        int type;
        const char* expected;
    };
    JobOptionState off;
    const Case cases[] = {
        {RenameState(kRenameNewName, kNumberAfterName, "holiday", "", 2, 7), "x.png", 4, "holiday007.jpg"},
        {RenameState(kRenameNewName, kNumberBeforeName, "holiday", "", 0, 3), "x.png", 4, "3holiday.jpg"},
        {RenameState(kRenameNewName, kNoNumber, "holiday"), "x.png", 7, "holiday.png"},
        {RenameState(kRenamePrefixSuffix, kNumberBeforeName, "a_", "_b", 2, 7), "x.png", 4, "007a_x_b.jpg"},
        {RenameState(kRenamePrefixSuffix, kNumberAfterName, "a_", "_b", 0, 0), "x.png", 4, "a_x_b0.jpg"},
        {RenameState(kRenamePrefixSuffix, kNoNumber, "", "_b"), "x.y.png", 10, "x.y_b.tif"},
        {RenameState(kRenamePrefixSuffix, 9, "p", "", 1, 5), "x.png", 4, "px05.jpg"},  // unknown position: after
        {RenameState(kRenameNewName, kNoNumber, "100%d %@ %s"), "x.png", 4, "100%d %@ %s.jpg"},
        {off, "Photo.JPEG", 0, "Photo.JPEG"},
        {off, "README", 0, "README"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FirstName(c.state, folder / c.source, folder.path(), c.type), c.expected) << c.expected;
    }
}

TEST(OutputNamingTest, UnsafeOrEmptyNamesStayInsideTheFolder) {
    ScratchFolder folder;
    const fs::path source = folder / "x.png";
    struct Case {
        JobOptionState state;
        const char* expected;
    };
    const Case cases[] = {
        {RenameState(kRenameNewName, kNoNumber, "../../etc/passwd"), ".._.._etc_passwd.jpg"},
        {RenameState(kRenamePrefixSuffix, kNoNumber, "a/", "/b"), "a_x_b.jpg"},
        {RenameState(kRenameNewName, kNoNumber, ""), "x.jpg"},  // empty name: the source's
        {RenameState(kRenameNewName, kNoNumber, ".."), "__.jpg"},
    };
    for (const Case& c : cases) {
        const std::string name = FirstName(c.state, source, folder.path(), 4);
        EXPECT_EQ(name, c.expected);
    }
    JobOptionState withNul = RenameState(kRenameNewName, kNoNumber, "");
    withNul.fileNameText = QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b");
    EXPECT_EQ(FirstName(withNul, source, folder.path(), 4), "a_b.jpg");
    // Without an extension a bare ".." must not name the parent folder.
    const fs::path bare = folder / "noext";
    EXPECT_EQ(FirstName(RenameState(kRenameNewName, kNoNumber, ".."), bare, folder.path(), 0, true), "__");
}

TEST(OutputNamingTest, UniqueNamesUnlessOverwriting) {
    ScratchFolder folder;
    const JobOptionState state = RenameState(kRenameNewName, kNoNumber, "N");
    const fs::path source = folder / "x.png";
    std::vector<std::string> names;
    for (int i = 0; i < 3; ++i) {
        const std::string name = FirstName(state, source, folder.path(), 4);
        names.push_back(name);
        Touch(folder / name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"N.jpg", "N 1.jpg", "N 2.jpg"}));
    // Overwriting (or a preview run) names the same file every time.
    EXPECT_EQ(FirstName(state, source, folder.path(), 4, true), "N.jpg");
    EXPECT_TRUE(fs::exists(folder / "N.jpg"));
}

// Every output name carries the source's own bytes, never U+FFFD for
// those that are not UTF-8: plain, renamed around the source's name, and
// made unique with a number.
TEST(OutputNamingTest, SourceBytesKeptInEveryOutputName) {
    ScratchFolder folder;
    const fs::path out = folder / "out";
    fs::create_directory(out);
    const JobOptionState plain;
    const JobOptionState renamed = RenameState(kRenamePrefixSuffix, kNumberAfterName, "\xc3\xa9t\xc3\xa9_", "_b", 1, 7);
    for (const bytenames::ByteName& name : bytenames::Stems()) {
        SCOPED_TRACE(name.what);
        const fs::path source = folder / (name.stem + ".png");
        Touch(source);
        EXPECT_EQ(FirstName(plain, source, out, 4), name.stem + ".jpg");
        EXPECT_EQ(FirstName(plain, source, out, 0), name.stem + ".png") << "the source's extension";
        EXPECT_EQ(FirstName(renamed, source, out, 7), "\xc3\xa9t\xc3\xa9_" + name.stem + "_b07.png");
        // A name taken gets a number after the source's own bytes.
        Touch(out / (name.stem + ".jpg"));
        EXPECT_EQ(FirstName(plain, source, out, 4), name.stem + " 1.jpg");
        EXPECT_EQ(FirstName(plain, source, out, 4, true), name.stem + ".jpg") << "overwriting";
    }
    // Two sources that read the same as text are two names on disc.
    ScratchFolder other;
    const std::string e9 = FirstName(plain, other / "caf\xe9.png", other.path(), 4);
    Touch(other / e9);
    const std::string e8 = FirstName(plain, other / "caf\xe8.png", other.path(), 4);
    EXPECT_EQ(e9, "caf\xe9.jpg");
    EXPECT_EQ(e8, "caf\xe8.jpg");
}

TEST(OutputNamingTest, KeptSubfolders) {
    ScratchFolder folder;
    const fs::path added = folder / "added";
    const fs::path destination = folder / "out";
    fs::create_directories(added / "a" / "b");
    fs::create_directories(destination);
    const fs::path deep = added / "a" / "b" / "x.png";

    EXPECT_EQ(GetDestinationFolderURL(deep, destination, added, true), destination / "a" / "b");
    EXPECT_TRUE(fs::is_directory(destination / "a" / "b"));
    // A trailing separator on the added folder changes nothing.
    EXPECT_EQ(GetDestinationFolderURL(deep, destination, added.string() + "/", true), destination / "a" / "b");
    // Directly inside, added by itself, the box off, or a parent that does not
    // hold the file: the destination.
    EXPECT_EQ(GetDestinationFolderURL(added / "x.png", destination, added, true), destination);
    EXPECT_EQ(GetDestinationFolderURL(deep, destination, {}, true), destination);
    EXPECT_EQ(GetDestinationFolderURL(deep, destination, added, false), destination);
    EXPECT_EQ(GetDestinationFolderURL(deep, destination, folder / "other", true), destination);
    EXPECT_EQ(GetDestinationFolderURL(folder / "addedx" / "a" / "x.png", destination, added, true), destination);
    EXPECT_EQ(GetDestinationFolderURL(deep, destination, deep, true), destination);

    // A folder that cannot be made falls back to the destination.
    Touch(destination / "c");
    fs::create_directories(added / "c");
    EXPECT_EQ(GetDestinationFolderURL(added / "c" / "x.png", destination, added, true), destination);
}

TEST(OutputNamingTest, ExampleString) {
    JobOptionState state = RenameState(kRenamePrefixSuffix, kNumberBeforeName, "a_", "_b", 2, 7);
    SelectedImageInfo selected;
    selected.listCount = 5;
    EXPECT_EQ(RenameExampleString(state, selected), "-");
    selected.selectedRow = 3;
    selected.title = QStringLiteral("x.PNG");
    EXPECT_EQ(RenameExampleString(state, selected), "010a_x_b.PNG");
    state.numberPosition = kNoNumber;
    EXPECT_EQ(RenameExampleString(state, selected), "a_x_b.PNG");
    state.groupOn[kRenameGroup] = false;
    EXPECT_EQ(RenameExampleString(state, selected), "-");
}

}  // namespace
