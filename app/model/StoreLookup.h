#pragma once
// The store lookup: the request that finds the application's store record,
// the small scanner its JSON reply is read with, and the store page address.

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <optional>

// The text of `key`'s value in `json`, or none. Not a JSON parser: the value
// runs from the colon after the quoted key to the next comma (gathered across
// commas while it is an unclosed string), quotes trimmed and the usual
// escapes replaced. A key whose value has no comma after it is not found.
std::optional<QString> StoreValueForKeyInJSON(const QString& key, const QString& json);

// The lookup request below `base` (http or https, trailing slashes ignored):
// "//lookup?country=..." and "&id=..." when the identifier is known, else
// "&bundleId=...", the parameters percent-encoded. Invalid when `base` is not
// an http(s) address.
QUrl StoreLookupURL(const QString& base, const QString& country, std::uint64_t appStoreID,
                    const QString& bundleID);

// The store page of the application below `base`: "/app/id<identifier>".
// Invalid without a base or an identifier.
QUrl StorePageURL(const QString& base, std::uint64_t appStoreID);

// The identifier a lookup reply gives for `bundleID`: none when the reply's
// "bundleId" is not exactly ours; else its "trackId" as a number (0 when
// absent or no number). Linear in the reply, for any reply.
std::optional<std::uint64_t> StoreIDFromReply(const QByteArray& body, const QString& bundleID);

// A "trackId" value read as a number: its leading decimal digits; 0 when it
// has none or does not fit.
std::uint64_t StoreIDFromText(const QString& text);
