#pragma once
// A fresh configuration and data folder per test: preference files and
// stored watermark images go there, never into the user's home.

#include "app/model/PreferenceFiles.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

struct PreferenceFolders {
    PreferenceFolders() {
        config = std::filesystem::path(root.path().toStdString()) / "config";
        data = std::filesystem::path(root.path().toStdString()) / "data";
        oldConfig = qgetenv("XDG_CONFIG_HOME");
        oldData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.string()));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.string()));
    }
    ~PreferenceFolders() {
        qputenv("XDG_CONFIG_HOME", oldConfig);
        qputenv("XDG_DATA_HOME", oldData);
    }
    std::filesystem::path file(std::string_view format) const { return PrefFilePath(format); }

    QTemporaryDir root;
    std::filesystem::path config;
    std::filesystem::path data;
    QByteArray oldConfig;
    QByteArray oldData;
};

// The file as plistutil reads it, in XML: an independent reader's view of
// the keys and their types.
inline QString PlistutilXml(const std::filesystem::path& file) {
    QProcess tool;
    tool.start(QStringLiteral("plistutil"),
               {QStringLiteral("-i"), QString::fromStdString(file.string()), QStringLiteral("-f"), QStringLiteral("xml")});
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0) return {};
    return QString::fromUtf8(tool.readAllStandardOutput());
}

// "<key>name</key>" followed by an element of `type` in plistutil's output.
inline bool HasKeyOfType(const QString& xml, const QString& key, const QString& type) {
    const QString marker = QStringLiteral("<key>%1</key>").arg(key);
    const qsizetype at = xml.indexOf(marker);
    if (at < 0) return false;
    const QString rest = xml.mid(at + marker.size()).trimmed();
    return rest.startsWith(QLatin1Char('<') + type);
}

// Small files that would crash a reader or make it build gigabytes: closing
// tags hidden in a comment ahead of 200,000 nested arrays; a binary list
// whose one 4 KB data object is referred to 10,000 times; 150,000 keys.
inline std::vector<std::pair<std::string, std::string>> HostilePreferenceFiles() {
    std::string nested = "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><!--";
    for (int i = 0; i < 200000; ++i) nested += "</array>";
    nested += "-->";
    for (int i = 0; i < 200000; ++i) nested += "<array>";
    for (int i = 0; i < 200001; ++i) nested += "</array>";
    nested += "</plist>";

    auto bigEndian = [](std::string& out, std::uint64_t value, int size) {
        for (int i = size - 1; i >= 0; --i) out.push_back(char((value >> (8 * i)) & 0xFF));
    };
    std::string shared = "bplist00";
    const std::uint64_t dataAt = shared.size();
    shared += std::string("\x4F\x11\x10\x00", 4);  // data, 4096 bytes
    shared += std::string(4096, 'x');
    const std::uint64_t arrayAt = shared.size();
    shared += "\xAF\x11\x27\x10";  // array, 10,000 references to object 1
    for (int i = 0; i < 10000; ++i) bigEndian(shared, 1, 2);
    const std::uint64_t table = shared.size();
    bigEndian(shared, arrayAt, 4);
    bigEndian(shared, dataAt, 4);
    shared.append(6, '\0');
    shared += "\x04\x02";
    bigEndian(shared, 2, 8);
    bigEndian(shared, 0, 8);
    bigEndian(shared, table, 8);

    std::string keys = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>";
    for (int i = 0; i < 150000; ++i) keys += "<key>k" + std::to_string(i) + "</key><integer>1</integer>";
    keys += "</dict></plist>";
    return {{"hidden deep nesting", nested}, {"shared references", shared}, {"many keys", keys}};
}

// Big-endian bytes of a number, as binary property lists store them.
inline std::string BigEndian(std::uint64_t value, int size) {
    std::string out;
    for (int i = size - 1; i >= 0; --i) out += char((value >> (8 * i)) & 0xFF);
    return out;
}

// A binary property list of the given objects, the first one on top;
// offsets of 4 bytes, references of `refSize`.
inline std::string BinaryList(const std::vector<std::string>& objects, int refSize = 1) {
    std::string list = "bplist00", offsets;
    for (const std::string& object : objects) {
        offsets += BigEndian(list.size(), 4);
        list += object;
    }
    const std::size_t table = list.size();
    return list + offsets + std::string(6, '\0') + '\x04' + char(refSize) + BigEndian(objects.size(), 8) +
           BigEndian(0, 8) + BigEndian(table, 8);
}

// A binary job-preset file of a quarter megabyte whose one preset "Big"
// holds a 256 KiB data object 124 times: 31 MiB read, 41 MB as XML.
inline std::string SharedDataPresetFile() {
    std::string pad = "\xAF\x10\x7C";  // array of 124, each the data object
    for (int i = 0; i < 124; ++i) pad += BigEndian(5, 2);
    return BinaryList({std::string("\xD1\x00\x01\x00\x02", 5), "\x53" "Big", std::string("\xD1\x00\x03\x00\x04", 5),
                       "\x53" "Pad", pad, std::string("\x4F\x12\x00\x04\x00\x00", 6) + std::string(256 * 1024, 'x')},
                      2);
}
