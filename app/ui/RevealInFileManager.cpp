#include "app/ui/RevealInFileManager.h"

#include "app/model/LocalFileURL.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

constexpr const char* kFileManagerService = "org.freedesktop.FileManager1";

bool ShowItemsOnSessionBus(const QStringList& uris) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    const QDBusConnectionInterface* names = bus.interface();
    // Ask only a file manager that is there or can be started, so a missing
    // one does not keep the caller waiting.
    if (!names) return false;
    const bool present = names->isServiceRegistered(QLatin1String(kFileManagerService)).value() ||
                         names->activatableServiceNames().value().contains(QLatin1String(kFileManagerService));
    if (!present) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kFileManagerService),
                                                      QStringLiteral("/org/freedesktop/FileManager1"),
                                                      QLatin1String(kFileManagerService), QStringLiteral("ShowItems"));
    call << uris << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace

void RevealInFileManager(const std::vector<fs::path>& files, const std::function<void(const QUrl&)>& openFolder) {
    if (files.empty()) return;
    QStringList uris;
    for (const fs::path& file : files) uris << QString::fromUtf8(FileURIForPath(file));
    if (ShowItemsOnSessionBus(uris)) return;
    std::vector<fs::path> folders;
    for (const fs::path& file : files) {
        const fs::path folder = file.parent_path();
        if (std::find(folders.begin(), folders.end(), folder) != folders.end()) continue;
        folders.push_back(folder);
        if (openFolder) openFolder(FileURLForPath(folder));
        else QDesktopServices::openUrl(FileURLForPath(folder));
    }
}
