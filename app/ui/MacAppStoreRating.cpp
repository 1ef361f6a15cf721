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
    lookupThread_ = std::thread([this, address, timeout, bundleID = applicationBundleID_] {
        const HttpGetResult reply = BlockingHttpGet(address, timeout, kMaximumReplyBytes, &cancelLookup_);
        // The reply is read here, not on the GUI thread: whatever a server
        // sends, the window stays live.
        std::optional<std::uint64_t> identifier;
        if (reply.status >= 200 && reply.status < 300 && !reply.body.isEmpty() && !cancelLookup_.load()) {
            identifier = StoreIDFromReply(reply.body, bundleID);
        }
        // Dropped unread when this object goes first.
        QMetaObject::invokeMethod(
            this, [this, identifier] { lookupReplied(identifier); }, Qt::QueuedConnection);
    });
}

void MacAppStoreRating::lookupReplied(std::optional<std::uint64_t> identifier) {
    if (lookupThread_.joinable()) lookupThread_.join();
    lookupRunning_ = false;
    if (identifier && appStoreID() == 0) setAppStoreID(*identifier);
    emit lookupFinished();
}

void MacAppStoreRating::RateApplicationAction() {
    if (appStoreID() == 0) return;
    const QUrl page = ratingsURL();
    if (page.isValid() && openURL) openURL(page);
}
