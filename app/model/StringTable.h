#pragma once

#include "app/model/StringFormat.h"

#include <QHash>
#include <QString>

#include <filesystem>
#include <initializer_list>

// The user-visible texts: a dictionary from key to English text, read once
// from the bundle's "Localizable.plist". Safe to use from any thread.
class StringTable {
public:
    // Replaces the table with the one in `path`; false (and an empty table)
    // when the file is missing or is not a dictionary of strings.
    static bool load(const std::filesystem::path& path);
    // Replaces the table with the given entries.
    static void set(QHash<QString, QString> entries);
    // The text of a key; the key itself when the table has no text for it.
    static QString lookup(const QString& key);
};

// The text of a key from the string table.
QString LocalizedString(const char* key);

// The text of a key filled with arguments in order (%@, %d, %ld, %.Nf, %%).
QString LocalizedFormat(const char* key, std::initializer_list<FormatArg> args);
