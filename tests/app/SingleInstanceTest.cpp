// A later start hands its files to the running instance over a local socket.
#include "engine/ConverterTestSupport.h"  // GLib through libvips: before Qt

#include "AppTestSupport.h"
#include "ByteNamesTestSupport.h"
#include "app/model/HandOverMessage.h"
#include "app/ui/SingleInstance.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <gtest/gtest.h>

#include <fstream>
#include <future>

namespace {

namespace fs = std::filesystem;

// Runs `work` on another thread (as another process would) while this
// thread serves the running instance's events.
template <class Work>
auto OnAnotherThread(Work work) {
    auto result = std::async(std::launch::async, work);
    while (result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return result.get();
}

bool HandOverFromAnotherThread(const QString& socket, const std::vector<fs::path>& files) {
    return OnAnotherThread([&] { return SingleInstance(socket).handOver(files); });
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
    convtest::ScratchDir dir;
    QString socket = QString::fromStdString((dir / "vantrell-test").string());
};

TEST_F(SingleInstanceTest, ALaterStartHandsItsFilesOverInOrder) {
    SingleInstance running(socket);
    ASSERT_FALSE(running.handOver({}));  // nobody runs yet: this one will
    ASSERT_TRUE(running.listen());
    std::vector<std::vector<fs::path>> received;
    QObject::connect(&running, &SingleInstance::filesHandedOver,
                     [&](const std::vector<fs::path>& files) { received.push_back(files); });

    const fs::path here = fs::current_path();
    const std::vector<fs::path> files{"/photos/b.jpg", "relative/a b.jpg", "/photos/ünï,code.png", "/x/\nnewline.jpg",
                                      "/x/caf\xe9\xff.jpg"};
    ASSERT_TRUE(HandOverFromAnotherThread(socket, files));
    ASSERT_TRUE(HandOverFromAnotherThread(socket, {}));
    ASSERT_TRUE(WaitUntil([&] { return received.size() >= 2; }));
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], (std::vector<fs::path>{"/photos/b.jpg", here / "relative/a b.jpg", "/photos/ünï,code.png",
                                                  "/x/\nnewline.jpg", "/x/caf\xe9\xff.jpg"}));
    EXPECT_TRUE(received[1].empty());
}

TEST_F(SingleInstanceTest, ALeftoverSocketFileIsTakenOverAndASecondListenerRefused) {
    // A socket file left by a process that has gone.
    {
        QLocalServer stale;
        stale.setSocketOptions(QLocalServer::UserAccessOption);
        ASSERT_TRUE(stale.listen(socket));
        // Closing removes the file; a crash would not, so put one back.
    }
    std::ofstream(dir / "vantrell-test") << "";
    SingleInstance first(socket);
    EXPECT_FALSE(first.handOver({"/a.jpg"}));
    EXPECT_TRUE(first.listen());
    EXPECT_TRUE(first.isListening());

    // Another listener on the same socket is refused while the first holds it.
    SingleInstance second(socket);
    EXPECT_FALSE(second.listen());
}

TEST_F(SingleInstanceTest, AnOffscreenRunIsOnItsOwn) {
    // No screen is shared, so no socket either: every such run starts afresh.
    EXPECT_TRUE(SingleInstance::defaultSocketPath().isEmpty());
    SingleInstance alone(SingleInstance::defaultSocketPath());
    EXPECT_FALSE(alone.handOver({"/a.jpg"}));
    EXPECT_FALSE(alone.listen());
}

using State = HandOverMessageReader::State;

// Many short paths, byte names among them, as a long command line gives.
std::vector<fs::path> ManyPaths(std::size_t count) {
    std::vector<fs::path> files;
    const std::vector<std::string> names = bytenames::Names(".jpg");
    for (std::size_t i = 0; i < count; ++i) files.push_back("/p/" + std::to_string(i) + names[i % names.size()]);
    return files;
}

// A whole message naming one file more than the bound allows.
std::string TooManyFilesMessage() {
    std::string message;
    for (std::size_t i = 0; i <= kHandOverMaximumFiles; ++i) message += std::string("/a\0", 3);
    return message + std::string(1, '\0');
}

State FeedInPieces(HandOverMessageReader& reader, std::string_view message, std::size_t piece) {
    State state = reader.state();
    for (std::size_t at = 0; at < message.size(); at += piece) state = reader.append(message.substr(at, piece));
    return state;
}

TEST(HandOverMessage, ReadAsItArrivesInPiecesOfAnySize) {
    const std::vector<fs::path> files = ManyPaths(60000);
    const std::optional<std::string> message = MakeHandOverMessage(files, "/here");
    ASSERT_TRUE(message);
    for (const std::size_t piece : {std::size_t(4096), std::size_t(1), std::size_t(7), message->size()}) {
        SCOPED_TRACE(piece);
        HandOverMessageReader reader;
        // Byte by byte over the first thousand paths only: the same reader,
        // so the rest still has to fit.
        const std::size_t head = piece == 1 ? message->find("/p/1000") : 0;
        EXPECT_EQ(FeedInPieces(reader, std::string_view(*message).substr(0, head), 1), State::Incomplete);
        EXPECT_EQ(FeedInPieces(reader, std::string_view(*message).substr(head), piece == 1 ? 4096 : piece),
                  State::Complete);
        EXPECT_EQ(reader.takeFiles(), files);
    }
}

TEST(HandOverMessage, WhatTheMessageCarries) {
    const std::optional<std::string> message =
        MakeHandOverMessage({"a\xe9.jpg", "", std::string("nul\0.jpg", 8), "/abs/\xff.png"}, "/here");
    EXPECT_EQ(message, std::string("/here/a\xe9.jpg\0/abs/\xff.png\0\0", 25));
    EXPECT_EQ(MakeHandOverMessage({}, "/here"), std::string(1, '\0'));

    HandOverMessageReader reader;
    EXPECT_EQ(reader.append(std::string("/a.jpg\0relative.jpg\0", 20)), State::Incomplete);
    EXPECT_TRUE(reader.takeFiles().empty()) << "nothing before the end";
    EXPECT_EQ(reader.append(std::string("\0", 1)), State::Complete);
    EXPECT_EQ(reader.takeFiles(), std::vector<fs::path>{"/a.jpg"}) << "a relative path is not ours to resolve";
}

// Past a bound, or with bytes after its end, a message is refused for good
// and nothing of it is kept; a sender does not even try.
TEST(HandOverMessage, BoundsRefuseCleanly) {
    const std::string longPath = "/" + std::string(kHandOverMaximumBytes, 'x');
    const std::pair<const char*, std::string> cases[] = {
        {"more bytes than the bound, in one path", longPath + std::string(2, '\0')},
        {"more bytes than the bound, never ended", std::string(kHandOverMaximumBytes + 1, '/')},
        {"more files than the bound", TooManyFilesMessage()},
        {"bytes after the end", std::string("/a.jpg\0\0/b.jpg\0\0", 16)},
    };
    for (const auto& [what, message] : cases) {
        SCOPED_TRACE(what);
        for (const std::size_t piece : {std::size_t(4096), message.size()}) {
            HandOverMessageReader reader;
            EXPECT_EQ(FeedInPieces(reader, message, piece), State::Refused);
            EXPECT_EQ(reader.append(std::string(2, '\0')), State::Refused);
            EXPECT_TRUE(reader.takeFiles().empty());
        }
    }
    // Bytes after a complete message, in a later piece.
    HandOverMessageReader reader;
    EXPECT_EQ(reader.append(std::string("/a.jpg\0\0", 8)), State::Complete);
    EXPECT_EQ(reader.append("x"), State::Refused);

    EXPECT_FALSE(MakeHandOverMessage({fs::path(longPath)}, "/"));
    EXPECT_FALSE(MakeHandOverMessage(std::vector<fs::path>(kHandOverMaximumFiles + 1, "/a"), "/"));
}

// Over the socket: a long message written in 4 KiB pieces arrives whole; one
// past the bound is cut off unanswered and hands nothing over.
TEST_F(SingleInstanceTest, TheRunningInstanceReadsPiecesAndCutsOffWhatPassesTheBound) {
    SingleInstance running(socket);
    ASSERT_FALSE(running.handOver({}));
    ASSERT_TRUE(running.listen());
    std::vector<std::vector<fs::path>> received;
    QObject::connect(&running, &SingleInstance::filesHandedOver,
                     [&](const std::vector<fs::path>& files) { received.push_back(files); });

    // The running instance's answer, -1 when cut off unanswered.
    auto send = [&](const std::string& message) {
        return OnAnotherThread([&] {
            QLocalSocket client;
            client.connectToServer(socket);
            if (!client.waitForConnected(5000)) return -2;
            for (std::size_t at = 0; at < message.size(); at += 4096) {
                client.write(message.data() + at, qint64(std::min<std::size_t>(4096, message.size() - at)));
                if (!client.waitForBytesWritten(5000)) break;
            }
            while (client.bytesAvailable() < 1 && client.waitForReadyRead(30000)) {}
            char byte = 0;
            return client.getChar(&byte) ? int(byte) : -1;
        });
    };

    const std::vector<fs::path> files = ManyPaths(kHandOverMaximumFiles);
    const std::optional<std::string> message = MakeHandOverMessage(files, "/");
    ASSERT_TRUE(message);
    EXPECT_EQ(send(*message), 1);
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 1; }));
    EXPECT_EQ(received[0], files);

    EXPECT_EQ(send(TooManyFilesMessage()), -1);
    // The instance still serves the next start.
    ASSERT_TRUE(HandOverFromAnotherThread(socket, {"/b.jpg"}));
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[1], std::vector<fs::path>{"/b.jpg"});
}

}  // namespace
