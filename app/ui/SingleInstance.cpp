#include "app/ui/SingleInstance.h"

#include "app/model/HandOverMessage.h"
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

// The running instance answers a whole message with one byte once it has
// the files; a message past its bounds is cut off unanswered.
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

    std::error_code error;
    const fs::path here = fs::current_path(error);
    // Too many files for one message: this start keeps them and shows them
    // in a window of its own.
    const std::optional<std::string> message = MakeHandOverMessage(files, here);
    if (!message) return false;
    QLocalSocket socket;
    const QDeadlineTimer connectDeadline(kConnectPatienceMs);
    for (;;) {
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(500)) break;
        if (connectDeadline.hasExpired()) return false;
        QThread::msleep(50);
    }
    socket.write(message->data(), qint64(message->size()));
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
    // Read as the bytes arrive: a message that comes in many small pieces
    // is still looked at once.
    auto reader = std::make_shared<HandOverMessageReader>();
    auto read = [this, socket, reader] {
        char chunk[16384];
        HandOverMessageReader::State state = reader->state();
        while (state != HandOverMessageReader::State::Refused) {
            const qint64 count = socket->read(chunk, sizeof chunk);
            if (count <= 0) break;
            state = reader->append(std::string_view(chunk, std::size_t(count)));
        }
        if (state == HandOverMessageReader::State::Incomplete) return;
        // One answer per connection.
        disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
        if (state == HandOverMessageReader::State::Refused) {
            socket->abort();
            return;
        }
        std::vector<fs::path> files = reader->takeFiles();
        socket->putChar(kTaken);
        socket->flush();
        socket->disconnectFromServer();
        emit filesHandedOver(files);
    };
    connect(socket, &QLocalSocket::readyRead, this, read);
    if (socket->bytesAvailable() > 0) read();
}
