#pragma once
// One plain HTTP/1.1 GET, blocking, for a worker thread. The request line
// carries the address's path and query exactly as given (no path
// normalisation), which a general-purpose client would not keep.

#include <QByteArray>
#include <QUrl>

#include <atomic>

struct HttpGetResult {
    int status = 0;        // 0 when no whole reply arrived
    QByteArray body;       // the whole body, de-chunked
};

// Gets `url` (http, or https where TLS is available) within `timeoutMs` in
// all, refusing bodies larger than `maximumBytes`. Ends early once
// `cancelled` is set. No redirect is followed.
HttpGetResult BlockingHttpGet(const QUrl& url, int timeoutMs, qint64 maximumBytes,
                              const std::atomic<bool>* cancelled = nullptr);
