// Revealing files: through the file manager on a session bus of the test's
// own, and by opening their folders where no file manager answers there.
#include "AppTestSupport.h"
#include "app/ui/RevealInFileManager.h"

#include <QDBusConnection>
#include <QDesktopServices>
#include <QProcess>
#include <QStringList>
#include <QUrl>

#include <gtest/gtest.h>

#include <future>

namespace {

class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
public slots:
    void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
};

class OpenedFolders : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

// Reveals from another thread, as the bus call blocks while this thread
// serves the fake file manager.
void Reveal(const std::vector<std::filesystem::path>& files) {
    auto done = std::async(std::launch::async, [&] { RevealInFileManager(files); });
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

    OpenedFolders opened;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
    const std::vector<std::filesystem::path> files{"/photos/b c.jpg", "/other/x.png", "/photos/a.jpg"};

    // No file manager on the bus: each folder is opened once, in order.
    Reveal(files);
    EXPECT_EQ(opened.urls, (std::vector<QUrl>{QUrl("file:///photos"), QUrl("file:///other")}));

    FakeFileManager manager;
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("fake"));
    ASSERT_TRUE(bus.isConnected());
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    opened.urls.clear();
    Reveal(files);
    EXPECT_EQ(manager.shown,
              (QStringList{"file:///photos/b%20c.jpg", "file:///other/x.png", "file:///photos/a.jpg"}));
    EXPECT_TRUE(opened.urls.empty());

    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake"));
    daemon.kill();
    daemon.waitForFinished();
}

}  // namespace

#include "RevealInFileManagerTest.moc"
