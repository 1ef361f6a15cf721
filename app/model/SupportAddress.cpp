#include "app/model/SupportAddress.h"

#include "platform/Bundle.h"
#include "platform/PropertyList.h"

QUrl SupportPageURL(const QString& address) {
    const QString trimmed = address.trimmed();
    if (trimmed.isEmpty()) return {};
    const QUrl url(trimmed, QUrl::StrictMode);
    // Only a web page goes to the browser: another scheme (a local file, a
    // script) could make the desktop run something else.
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty()) {
        return {};
    }
    return url;
}

QString SupportPageAddress(const std::filesystem::path& addressesFile) {
    if (addressesFile.empty()) return {};
    const auto plist = plat::PropertyList::readFile(addressesFile);
    const auto* dictionary = plist ? plist->get<plat::PlistValue::Dictionary>() : nullptr;
    if (!dictionary) return {};
    const auto it = dictionary->find("SupportPageURL");
    const auto* text = it != dictionary->end() ? it->second.get<std::string>() : nullptr;
    return text ? QString::fromStdString(*text) : QString();
}

QString SupportPageAddress() {
    return SupportPageAddress(plat::Bundle::pathForResource("Addresses", "plist"));
}
