#pragma once
// The maker's support page: its address is kept in the resources
// ("Addresses.plist", key "SupportPageURL"), beside the other addresses the
// application opens, so that it can change without a new build.

#include <QString>
#include <QUrl>

#include <filesystem>

// The address as a web page URL (http or https with a host); an invalid URL
// when the text does not form one, so nothing is opened for it.
QUrl SupportPageURL(const QString& address);

// The address stored under "SupportPageURL" in the given property list, or
// in the resources' "Addresses.plist"; empty when there is none.
QString SupportPageAddress(const std::filesystem::path& addressesFile);
QString SupportPageAddress();
