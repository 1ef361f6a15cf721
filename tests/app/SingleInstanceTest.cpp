// A later start hands its files to the running instance over a local socket.
#include "engine/ConverterTestSupport.h"  // GLib through libvips: before Qt

#include "AppTestSupport.h"
#include "app/ui/SingleInstance.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QThread>

#include <gtest/gtest.h>

#include <fstream>
#include <future>

namespace {

namespace fs = std::filesystem;

// Hands files over from another thread (as another process would) while this
// thread serves the running instance's events.
bool HandOverFromAnotherThread(const QString& socket, const std::vector<fs::path>& files) {
    auto result = std::async(std::launch::async, [&] { return SingleInstance(socket).handOver(files); });
    while (result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return result.get();
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

}  // namespace
