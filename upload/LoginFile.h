#pragma once
// The login file `<location code>.DAT` in the program folder: the FTP host,
// user name, password and remote folder, scrambled, in fixed columns of the
// file's first line.
#include <optional>
#include <string>
#include <string_view>

#include "upload/LoginOptions.h"

// The four FTP working values as read from the login file. Host, user and
// password keep their blanks; the remote folder is trimmed.
struct TFtpLogin {
    std::string FtpHost;
    std::string FtpUser;
    std::string FtpPassword;
    std::string RemoteFolder;
    TLoginOptions Options;  // after column 100; defaults for a file without them

    // The host the client connects to: the whole name from the options when
    // given, else the host column trimmed.
    std::string ServerHost() const;
};

// Column layout of the first line (from 1).
inline constexpr int kHostColumn = 1, kHostWidth = 20;
inline constexpr int kUserColumn = 21, kUserWidth = 20;
inline constexpr int kPasswordColumn = 41, kPasswordWidth = 20;
inline constexpr int kRemoteFolderColumn = 61, kRemoteFolderWidth = 40;
inline constexpr int kLoginLineWidth = 100;
// The first line is read up to this length; the options follow column 100.
inline constexpr int kLoginLineLimit = 4096;

// Program folder, a separator unless it already ends in one ("\" or "/"),
// the location code and ".DAT".
std::string LoginFileName(const std::string& programFolder, const std::string& locationCode);

// True when an entry of that name exists that is not a folder; only a
// regular file is then read (EInOutError for any other).
bool LoginFileExists(const std::string& path);

// The first line: everything before the first CR or Ctrl-Z, or to the end of
// the file; a line feed counts as data. At most kLoginLineLimit characters
// are returned. Throws EInOutError when the file cannot be opened or read.
std::string ReadLoginLine(const std::string& path);

// Cuts and descrambles the four fields of a first line and parses the
// options after column 100 (EConvertError when they cannot be understood).
TFtpLogin ParseLoginLine(std::string_view line);

// The whole reading: nullopt when no login file exists.
std::optional<TFtpLogin> ReadLoginFile(const std::string& programFolder, const std::string& locationCode);
