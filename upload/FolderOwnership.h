#pragma once
// One ownership model for the program folder: it belongs to the account (or
// group) that runs the program and its nightly run. Files holding secrets get
// the folder's owner and group and no access for anyone else, whoever writes
// them; a process running as root never writes the tables of a folder that
// belongs to another account. One file per system (FolderOwnershipPosix.cpp,
// FolderOwnershipWindows.cpp). Paths are UTF-8.
#include <optional>
#include <string>

// Replaces `path` whole (written beside it, then renamed) with `bytes`, owned
// by the owner and group of `folder`; on POSIX mode 0640 when the folder is
// shared by its group (group-writable), else 0600; on Windows a protected ACL
// granting only the folder's owner, SYSTEM and Administrators. Throws
// std::runtime_error naming the file when it cannot.
void WritePrivateFile(const std::string& folder, const std::string& path, const std::string& bytes);

// A line saying who may read the file when accounts other than its owner and
// group can; nothing when only they can.
std::optional<std::string> OthersMayRead(const std::string& path);

// When this process runs as root and `folder` belongs to another account:
// that account's name, for the message telling whom to run as.
std::optional<std::string> OwnerToRunAs(const std::string& folder);

// A file made in a folder shared by its group (group-writable) becomes
// readable and writable by that group too, whatever the umask: the desk user
// and the service account share the tables.
void ShareWithFolderGroup(const std::string& folder, const std::string& file);
