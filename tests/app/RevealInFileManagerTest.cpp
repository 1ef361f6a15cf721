// Revealing files: through the file manager on a session bus of the test's
// own, and by opening their folders where no file manager answers there.
#include "AppTestSupport.h"
#include "app/ui/RevealInFileManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStringList>
#include <QUrl>

#include <gtest/gtest.h>

#include <future>

namespace {

// Answers ShowItems calls and keeps the addresses it was asked to show.
class FakeFileManager : public QDBusVirtualObject {
public:
    QStringList shown;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QLatin1String("org.freedesktop.FileManager1") ||
            message.member() != QLatin1String("ShowItems")) {
            return false;
        }
        shown += message.arguments().value(0).toStringList();
        connection.send(message.createReply());
        return true;
    }
};

// Reveals from another thread, as the bus call blocks while this thread
// serves the fake file manager.
void Reveal(const std::vector<std::filesystem::path>& files, std::vector<QUrl>& opened) {
    auto done = std::async(std::launch::async, [&] {
        RevealInFileManager(files, [&](const QUrl& url) { opened.push_back(url); });
    });
    ASSERT_TRUE(WaitUntil([&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
}

TEST(RevealInFileManager, ShowsFilesThroughTheSessionBusElseOpensTheirFolders) {
    TestApplication();
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    if (!daemon.waitForStarted(10000)) GTEST_SKIP() << "no dbus-daemon";
    ASSERT_TRUE(WaitUntil([&] { return daemon.canReadLine() || daemon.state() != QProcess::Running; }));
    const QByteArray address = daemon.readLine().trimmed();
    ASSERT_FALSE(address.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    std::vector<QUrl> opened;
    const std::vector<std::filesystem::path> files{"/photos/b c.jpg", "/other/x.png", "/photos/a.jpg"};

    // No file manager on the bus: each folder is opened once, in order.
    Reveal(files, opened);
    EXPECT_EQ(opened, (std::vector<QUrl>{QUrl("file:///photos"), QUrl("file:///other")}));

    FakeFileManager manager;
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("fake"));
    ASSERT_TRUE(bus.isConnected());
    ASSERT_TRUE(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    opened.clear();
    Reveal(files, opened);
    EXPECT_EQ(manager.shown,
              (QStringList{"file:///photos/b%20c.jpg", "file:///other/x.png", "file:///photos/a.jpg"}));
    EXPECT_TRUE(opened.empty());

    QDBusConnection::disconnectFromBus(QStringLiteral("fake"));
    daemon.kill();
    daemon.waitForFinished();
}

}  // namespace
