#pragma once
// The X direct-save protocol (XdndDirectSave0, version 0) from the source's
// side. The source names a file in the property XdndDirectSave0 (type
// text/plain) of its drag source window and offers the type XdndDirectSave0;
// a target that takes it writes "file://host/folder/name" into that property
// and asks for the XdndDirectSave0 data, which the source answers with "S"
// (written there), "F" (failed) or "E" (not done: the target falls back to
// the other types).

#include <QByteArray>

#include <xcb/xcb.h>

#include <filesystem>
#include <optional>

namespace xds {

constexpr const char* kType = "XdndDirectSave0";

// Whether direct save can be offered: the application runs on X.
bool Available();
// Qt's drag source window: the owner of the XdndSelection while a drag runs,
// which it names in its XdndEnter message. None when there is none.
xcb_window_t SourceWindow(xcb_connection_t* connection);
// Puts the file name into the property of the running drag's source window
// (the owner of the XdndSelection). False when there is no such window.
bool PublishFileName(const QByteArray& name);
// The URI the drop target wrote into that property; empty when none.
QByteArray TargetURI();

// The folder of a target's "file://host/folder/name" when it is on this
// machine (no host, "localhost" or `hostName`); none for any other URI.
std::optional<std::filesystem::path> FolderOfURI(const QByteArray& uri, const QByteArray& hostName);
// This machine's host name as targets write it.
QByteArray LocalHostName();

}  // namespace xds
