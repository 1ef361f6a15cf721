#include "app/ui/SingleInstance.h"

#include "platform/FileManager.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// A message is the files' paths, each ended by a NUL byte, then one more NUL.
// The running instance answers with one byte once it has them.
constexpr char kEndOfMessage = '\0';
constexpr char kTaken = '\1';
// How long a later start looks for the running instance, which may be
// between taking its lock and listening.
constexpr int kConnectPatienceMs = 3000;
constexpr int kReplyPatienceMs = 10000;

// The display the application shows on; empty for none (an offscreen run
// shares no screen with anyone, so it runs on its own).
QString DisplayKey() {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return {};
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty()) display = qEnvironmentVariable("DISPLAY");
    for (QChar& c : display) {
        if (!c.isLetterOrNumber() || c.unicode() > 127) c = QLatin1Char('_');
    }
    return display;
}

QByteArray Message(const std::vector<fs::path>& files) {
    QByteArray message;
    std::error_code error;
    const fs::path here = fs::current_path(error);
    for (const fs::path& file : files) {
        if (file.empty()) continue;
        const fs::path absolute = file.is_absolute() || error ? file : here / file;
        const std::string& native = absolute.native();
        // A path cannot hold a NUL byte; skip what would break the framing.
        if (native.find('\0') != std::string::npos) continue;
        message.append(native.data(), qsizetype(native.size()));
        message.append(kEndOfMessage);
    }
    message.append(kEndOfMessage);
    return message;
}

// The paths of a whole message, or none while it is incomplete.
std::optional<std::vector<fs::path>> ParseMessage(const QByteArray& buffer) {
    std::vector<fs::path> files;
    qsizetype start = 0;
    while (start < buffer.size()) {
        const qsizetype end = buffer.indexOf(kEndOfMessage, start);
        if (end < 0) return std::nullopt;
        if (end == start) return files;
        const fs::path file(std::string(buffer.constData() + start, std::size_t(end - start)));
        // Only absolute paths are taken: the sender's folder is not ours.
        if (file.is_absolute()) files.push_back(file);
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(std::move(socketPath)) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
}

QString SingleInstance::defaultSocketPath() {
    const QString display = DisplayKey();
    if (display.isEmpty()) return {};
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        const fs::path temporary = plat::FileManager::temporaryDirectory();
        if (temporary.empty()) return {};
        folder = QFile::decodeName(temporary.c_str());
    }
    return QDir(folder).filePath(QStringLiteral("vantrell-") + display);
}

bool SingleInstance::handOver(const std::vector<fs::path>& files) {
    if (socketPath_.isEmpty()) return false;
    lock_ = std::make_unique<QLockFile>(socketPath_ + QStringLiteral(".lock"));
    // A lock left by a process that has gone counts as free.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) return false;
    lock_.reset();

    const QByteArray message = Message(files);
    QLocalSocket socket;
    const QDeadlineTimer connectDeadline(kConnectPatienceMs);
    for (;;) {
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(500)) break;
        if (connectDeadline.hasExpired()) return false;
        QThread::msleep(50);
    }
    socket.write(message);
    const QDeadlineTimer replyDeadline(kReplyPatienceMs);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(replyDeadline.remainingTime()))) return false;
    }
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(int(replyDeadline.remainingTime()))) return false;
    }
    char reply = 0;
    return socket.getChar(&reply) && reply == kTaken;
}

bool SingleInstance::listen() {
    if (socketPath_.isEmpty()) return false;
    if (!lock_) {
        lock_ = std::make_unique<QLockFile>(socketPath_ + QStringLiteral(".lock"));
        lock_->setStaleLockTime(0);
        if (!lock_->tryLock(0)) {
            lock_.reset();
            return false;
        }
    }
    // We hold the lock: a socket left there belongs to a process that has gone.
    QLocalServer::removeServer(socketPath_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath_)) {
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) serve(socket);
    });
    return true;
}

bool SingleInstance::isListening() const { return server_ && server_->isListening(); }

void SingleInstance::serve(QLocalSocket* socket) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto buffer = std::make_shared<QByteArray>();
    auto read = [this, socket, buffer] {
        buffer->append(socket->readAll());
        if (buffer->size() > kMaximumMessageBytes) {
            socket->abort();
            return;
        }
        std::optional<std::vector<fs::path>> files = ParseMessage(*buffer);
        if (!files) return;
        buffer->clear();
        socket->putChar(kTaken);
        socket->flush();
        socket->disconnectFromServer();
        emit filesHandedOver(*files);
    };
    connect(socket, &QLocalSocket::readyRead, this, read);
    if (socket->bytesAvailable() > 0) read();
}
