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
