// File URIs to paths and back, byte for byte.
#include "ByteNamesTestSupport.h"
#include "app/model/LocalFileURL.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using bytenames::Escaped;

TEST(LocalFileURL, EveryByteNameSurvivesTheRoundTrip) {
    for (const std::string& name : bytenames::Names(".png")) {
        const fs::path path = fs::path("/home/user/Photos") / name;
        SCOPED_TRACE(Escaped(name));
        const QByteArray uri = FileURIForPath(path);
        EXPECT_TRUE(uri.startsWith("file:///home/user/Photos/"));
        // Only ASCII goes on the wire.
        EXPECT_TRUE(std::all_of(uri.begin(), uri.end(), [](char c) { return c > 0x20 && c < 0x7f; }));
        EXPECT_EQ(PathFromFileURI(uri.toStdString()), path);
        EXPECT_EQ(PathFromFileURL(FileURLForPath(path)), path);
    }
    // A name with characters that would end a path in a URI.
    const fs::path odd = "/tmp/a #b?c%d e";
    EXPECT_EQ(PathFromFileURI(FileURIForPath(odd).toStdString()), odd);
    EXPECT_TRUE(FileURIForPath("relative/x.png").isEmpty());
}

TEST(LocalFileURL, WhatAFileURINames) {
    struct Case {
        const char *uri, *path;  // path empty: none
    };
    const Case cases[] = {
        {"file:///tmp/caf%E9.png", "/tmp/caf\xe9.png"},
        {"file:///tmp/caf%e9.png", "/tmp/caf\xe9.png"},
        {"file://localhost/tmp/x.png", "/tmp/x.png"},
        {"FILE://LocalHost/tmp/x.png", "/tmp/x.png"},
        {"file:/tmp/x.png", "/tmp/x.png"},
        {"file:///tmp/raw \xe9 bytes.png", "/tmp/raw \xe9 bytes.png"},  // sent unescaped: kept
        {"file:///tmp/a%2Fb", "/tmp/a/b"},
        {"file:///", "/"},
        {"file://otherhost/tmp/x.png", ""},
        {"http://localhost/tmp/x.png", ""},
        {"file:///tmp/x.png?query", ""},
        {"file:///tmp/x.png#fragment", ""},
        {"file:///tmp/bad%E", ""},
        {"file:///tmp/bad%G0.png", ""},
        {"file:///tmp/nul%00.png", ""},
        {"file:relative.png", ""},
        {"file://", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(PathFromFileURI(c.uri), fs::path(c.path)) << Escaped(c.uri);
    // A direct-save target may name this machine.
    EXPECT_EQ(PathFromFileURI("file://studio/tmp/x.png", "studio"), fs::path("/tmp/x.png"));
    EXPECT_EQ(PathFromFileURI("file://studio/tmp/x.png"), fs::path());
}

TEST(LocalFileURL, AURIListAsDesktopsSendIt) {
    const std::string list = "# a comment\r\n"
                             "file:///tmp/caf%E9.png\r\n"
                             "\r\n"
                             "https://example.org/x.png\r\n"
                             "file:///tmp/%FF.jpg\n"
                             "file:///tmp/last.png";
    EXPECT_EQ(PathsFromURIList(list),
              (std::vector<fs::path>{"/tmp/caf\xe9.png", "/tmp/\xff.jpg", "/tmp/last.png"}));
    EXPECT_TRUE(PathsFromURIList("").empty());
    EXPECT_TRUE(PathsFromURIList("\r\n\r\n").empty());
    // One NUL-ended list, as some X clients send.
    EXPECT_EQ(PathsFromURIList(std::string("file:///a.png\r\n\0", 17)), std::vector<fs::path>{"/a.png"});
}

}  // namespace
