#pragma once
// The rating prompt: once per launch it looks up the application's store
// record to learn its store identifier; the rating action then opens the
// application's store page. Linux has no application store of its own, so
// both addresses come from the environment:
//   VANTRELL_STORE_LOOKUP_URL  the lookup service (http or https); without
//                              it no request is ever made;
//   VANTRELL_STORE_PAGE_URL    where "/app/id<identifier>" is appended to
//                              make the page address.
// Every failure is silent: the identifier stays 0 and the action does nothing.

#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

class MacAppStoreRating : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kLookupURLVariable = "VANTRELL_STORE_LOOKUP_URL";
    static constexpr const char* kPageURLVariable = "VANTRELL_STORE_PAGE_URL";
    // A lookup gives up after this long, and on replies larger than this.
    static constexpr int kDefaultLookupTimeoutMs = 15000;
    static constexpr qint64 kMaximumReplyBytes = 1 << 20;

    explicit MacAppStoreRating(QObject* parent = nullptr);
    ~MacAppStoreRating() override;

    std::uint64_t appStoreID() const { return appStoreID_.load(); }
    void setAppStoreID(std::uint64_t identifier) { appStoreID_.store(identifier); }
    QString appStoreCountry() const { return appStoreCountry_; }
    void setAppStoreCountry(const QString& country) { appStoreCountry_ = country; }
    QString applicationBundleID() const { return applicationBundleID_; }
    void setApplicationBundleID(const QString& identifier) { applicationBundleID_ = identifier; }
    // The page set explicitly, else the store page of the known identifier
    // (invalid while there is none).
    QUrl ratingsURL() const;
    void setRatingsURL(const QUrl& url) { ratingsURL_ = url; }

    QString lookupBaseURL() const { return lookupBaseURL_; }
    void setLookupBaseURL(const QString& base) { lookupBaseURL_ = base; }
    QString pageBaseURL() const { return pageBaseURL_; }
    void setPageBaseURL(const QString& base) { pageBaseURL_ = base; }
    void setLookupTimeout(int milliseconds) { lookupTimeoutMs_ = milliseconds; }

    // Opens a page; the desktop's browser unless a test puts its own here.
    std::function<bool(const QUrl&)> openURL;

    // The launch is over: the one lookup of this run starts.
    void applicationLaunched();
    // The lookup, on a thread of its own; lookupFinished tells its end.
    void checkForConnectivityInBackground();
    bool isLookupRunning() const;
    static std::optional<QString> valueForKey(const QString& key, const QString& json);

public slots:
    void RateApplicationAction();

signals:
    void lookupFinished();

private:
    // On the GUI thread, with what the lookup thread read from the reply.
    void lookupReplied(std::optional<std::uint64_t> identifier);

    std::atomic<std::uint64_t> appStoreID_{0};
    QString appStoreCountry_;
    QString applicationBundleID_;
    QUrl ratingsURL_;
    QString lookupBaseURL_;
    QString pageBaseURL_;
    int lookupTimeoutMs_ = kDefaultLookupTimeoutMs;
    bool launched_ = false;
    bool lookupRunning_ = false;
    std::atomic<bool> cancelLookup_{false};
    std::thread lookupThread_;
};
