#pragma once
// Extended attributes (user tags, access control lists) travel with a file's
// inode, so a file replaced through a new inode must have them copied over.

namespace plat {

// Copies every extended attribute of the file open as `from` to the file open
// as `to`. Attributes of the "security." and "trusted." namespaces that the
// system will not let a user set are passed over (the system assigns its own
// labels). False when any other attribute could not be read or set.
bool CopyExtendedAttributes(int from, int to);

}  // namespace plat
