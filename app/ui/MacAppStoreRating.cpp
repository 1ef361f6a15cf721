#include "app/ui/MacAppStoreRating.h"

#include "app/model/StoreLookup.h"
#include "app/ui/BlockingHttpGet.h"

#include <QDesktopServices>
#include <QLocale>

namespace {

constexpr const char* kBundleIdentifier = "org.vantrell.Vantrell";

// The two-letter code of the user's country; empty when the locale names none.
QString CurrentCountryCode() {
    const QLocale::Territory territory = QLocale::system().territory();
    return territory == QLocale::AnyTerritory ? QString() : QLocale::territoryToCode(territory);
}

}  // namespace

MacAppStoreRating::MacAppStoreRating(QObject* parent)
    : QObject(parent),
      appStoreCountry_(CurrentCountryCode()),
      applicationBundleID_(QLatin1String(kBundleIdentifier)),
      lookupBaseURL_(qEnvironmentVariable(kLookupURLVariable)),
      pageBaseURL_(qEnvironmentVariable(kPageURLVariable)) {
    openURL = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

MacAppStoreRating::~MacAppStoreRating() {
    // The lookup gives up within a moment of being told to.
    cancelLookup_.store(true);
    if (lookupThread_.joinable()) lookupThread_.join();
}

bool MacAppStoreRating::isLookupRunning() const { return lookupRunning_; }

QUrl MacAppStoreRating::ratingsURL() const {
    if (ratingsURL_.isValid()) return ratingsURL_;
    return StorePageURL(pageBaseURL_, appStoreID());
}

std::optional<QString> MacAppStoreRating::valueForKey(const QString& key, const QString& json) {
    return StoreValueForKeyInJSON(key, json);
}

void MacAppStoreRating::applicationLaunched() {
    if (launched_) return;
    launched_ = true;
    checkForConnectivityInBackground();
}

void MacAppStoreRating::checkForConnectivityInBackground() {
    if (lookupRunning_) return;
    const QUrl address = StoreLookupURL(lookupBaseURL_, appStoreCountry_, appStoreID(), applicationBundleID_);
    // Without a configured lookup service nothing leaves the machine.
    if (!address.isValid()) {
        emit lookupFinished();
        return;
    }
    if (lookupThread_.joinable()) lookupThread_.join();
    lookupRunning_ = true;
    const int timeout = lookupTimeoutMs_;
    lookupThread_ = std::thread([this, address, timeout] {
        HttpGetResult reply = BlockingHttpGet(address, timeout, kMaximumReplyBytes, &cancelLookup_);
        // Dropped unread when this object goes first.
        QMetaObject::invokeMethod(
            this, [this, reply = std::move(reply)] { lookupReplied(reply); }, Qt::QueuedConnection);
    });
}

void MacAppStoreRating::lookupReplied(const HttpGetResult& reply) {
    if (lookupThread_.joinable()) lookupThread_.join();
    lookupRunning_ = false;
    // Only a whole, successful reply is read.
    if (reply.status >= 200 && reply.status < 300 && !reply.body.isEmpty()) {
        const QString json = QString::fromUtf8(reply.body);
        const std::optional<QString> bundleID = valueForKey(QStringLiteral("bundleId"), json);
        if (bundleID && *bundleID == applicationBundleID_ && appStoreID() == 0) {
            const std::optional<QString> trackID = valueForKey(QStringLiteral("trackId"), json);
            setAppStoreID(trackID ? StoreIDFromText(*trackID) : 0);
        }
    }
    emit lookupFinished();
}

void MacAppStoreRating::RateApplicationAction() {
    if (appStoreID() == 0) return;
    const QUrl page = ratingsURL();
    if (page.isValid() && openURL) openURL(page);
}
