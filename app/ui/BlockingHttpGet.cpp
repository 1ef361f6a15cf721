#include "app/ui/BlockingHttpGet.h"

#include <QDeadlineTimer>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

// Socket waits are cut into short slices so that a cancel is seen soon.
constexpr int kSliceMs = 100;

class Connection {
public:
    Connection(const QDeadlineTimer& deadline, const std::atomic<bool>* cancelled)
        : deadline_(deadline), cancelled_(cancelled) {}

    bool open(const QUrl& url) {
        const bool secure = url.scheme() == QLatin1String("https");
        if (secure) {
            if (!QSslSocket::supportsSsl()) return false;
            auto* tls = new QSslSocket;
            socket_.reset(tls);
            tls->connectToHostEncrypted(url.host(), quint16(url.port(443)));
            return wait([tls](int ms) { return tls->waitForEncrypted(ms); });
        }
        socket_ = std::make_unique<QTcpSocket>();
        socket_->connectToHost(url.host(), quint16(url.port(80)));
        return wait([this](int ms) { return socket_->waitForConnected(ms); });
    }

    bool send(const QByteArray& bytes) {
        socket_->write(bytes);
        while (socket_->bytesToWrite() > 0) {
            if (!wait([this](int ms) { return socket_->waitForBytesWritten(ms); })) return false;
        }
        return true;
    }

    // Reads until `complete` says the bytes so far make a whole reply, or
    // the server closes the connection; none on time-out, cancel or more
    // than `limit` bytes.
    template <typename Complete>
    std::optional<QByteArray> readUntil(qint64 limit, Complete complete) {
        QByteArray data;
        for (;;) {
            data += socket_->readAll();
            if (data.size() > limit) return std::nullopt;
            if (complete(data)) return data;
            if (socket_->state() != QAbstractSocket::ConnectedState) {
                data += socket_->readAll();
                return data.size() > limit ? std::nullopt : std::optional<QByteArray>(data);
            }
            if (!wait([this](int ms) { return socket_->waitForReadyRead(ms); }) &&
                socket_->state() == QAbstractSocket::ConnectedState) {
                return std::nullopt;
            }
        }
    }

private:
    // Repeats a socket wait in slices until it succeeds, the socket fails,
    // the deadline passes or the caller cancels.
    template <typename Wait>
    bool wait(Wait step) {
        for (;;) {
            if ((cancelled_ && cancelled_->load()) || deadline_.hasExpired()) return false;
            const int slice = int(std::min<qint64>(kSliceMs, std::max<qint64>(1, deadline_.remainingTime())));
            if (step(slice)) return true;
            if (socket_->error() != QAbstractSocket::SocketTimeoutError) return false;
        }
    }

    QDeadlineTimer deadline_;
    const std::atomic<bool>* cancelled_;
    std::unique_ptr<QTcpSocket> socket_;
};

// A chunked body made whole; none when it is malformed or unfinished.
std::optional<QByteArray> Dechunked(const QByteArray& chunked) {
    QByteArray body;
    qsizetype at = 0;
    for (;;) {
        const qsizetype lineEnd = chunked.indexOf("\r\n", at);
        if (lineEnd < 0) return std::nullopt;
        QByteArray sizeText = chunked.mid(at, lineEnd - at);
        if (const qsizetype semicolon = sizeText.indexOf(';'); semicolon >= 0) sizeText.truncate(semicolon);
        bool ok = false;
        const qint64 size = sizeText.trimmed().toLongLong(&ok, 16);
        if (!ok || size < 0) return std::nullopt;
        at = lineEnd + 2;
        if (size == 0) return body;
        if (size > chunked.size() - at) return std::nullopt;
        body += chunked.mid(at, qsizetype(size));
        at += qsizetype(size) + 2;
    }
}

// The status line and the framing headers of a reply.
struct ReplyHead {
    bool valid = false;
    int status = 0;
    qsizetype bodyStart = 0;
    std::optional<qint64> length;
    bool chunked = false;
    bool closeDelimited() const { return !chunked && !length; }
};

// None while the headers have not all arrived.
std::optional<ReplyHead> ParseHead(const QByteArray& data) {
    const qsizetype headerEnd = data.indexOf("\r\n\r\n");
    if (headerEnd < 0) return std::nullopt;
    ReplyHead head;
    head.bodyStart = headerEnd + 4;
    const QList<QByteArray> lines = data.left(headerEnd).split('\n');
    const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
    if (statusLine.size() < 2 || !statusLine[0].startsWith("HTTP/1.")) return head;
    bool ok = false;
    head.status = statusLine[1].toInt(&ok);
    if (!ok) return head;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            const qint64 parsed = value.toLongLong(&ok);
            if (!ok || parsed < 0) return head;
            head.length = parsed;
        } else if (name == "transfer-encoding") {
            head.chunked = value.toLower().contains("chunked");
        }
    }
    head.valid = true;
    return head;
}

// The body once all of it is in `data`; a body that ends with the
// connection is whole whenever asked.
std::optional<QByteArray> WholeBody(const ReplyHead& head, const QByteArray& data) {
    if (!head.valid) return QByteArray();
    const QByteArray body = data.mid(head.bodyStart);
    if (head.chunked) return Dechunked(body);
    if (head.length) {
        if (body.size() < *head.length) return std::nullopt;
        return body.left(qsizetype(*head.length));
    }
    return body;
}

}  // namespace

HttpGetResult BlockingHttpGet(const QUrl& url, int timeoutMs, qint64 maximumBytes,
                              const std::atomic<bool>* cancelled) {
    if (!url.isValid() || url.host().isEmpty()) return {};
    Connection connection(QDeadlineTimer(timeoutMs), cancelled);
    if (!connection.open(url)) return {};

    QByteArray target = url.path(QUrl::FullyEncoded).toUtf8();
    if (target.isEmpty()) target = "/";
    if (url.hasQuery()) target += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (url.port() >= 0) host += ':' + QByteArray::number(url.port());
    const QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: " + host +
                               "\r\nAccept: application/json\r\nCache-Control: no-cache\r\n"
                               "User-Agent: Vantrell\r\nConnection: close\r\n\r\n";
    if (!connection.send(request)) return {};

    // The headers are small; the limit covers them and the body together.
    std::optional<ReplyHead> head;
    const std::optional<QByteArray> reply =
        connection.readUntil(maximumBytes + 64 * 1024, [&head](const QByteArray& data) {
            if (!head) head = ParseHead(data);
            // A body that ends with the connection is whole only then.
            return head && (!head->valid || (!head->closeDelimited() && WholeBody(*head, data).has_value()));
        });
    if (!reply) return {};
    if (!head) head = ParseHead(*reply);
    if (!head || !head->valid) return {};
    std::optional<QByteArray> whole = WholeBody(*head, *reply);
    // A reply cut short is no reply.
    if (!whole) return {};
    QByteArray body = std::move(*whole);
    if (body.size() > maximumBytes) return {};
    return {head->status, std::move(body)};
}
