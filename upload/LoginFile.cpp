#include "upload/LoginFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "rtl/Exceptions.h"
#include "upload/LoginCrypt.h"
#include "upload/LoginFileAccess.h"
#include "upload/TextFn.h"

namespace {

constexpr char kCarriageReturn = '\r';
constexpr char kCtrlZ = '\x1A';

[[noreturn]] void RaiseReadError(const std::string& path, int error) {
    const std::string why = error == kNotARegularFile ? "not a regular file"
                            : error == ELOOP          ? "a symbolic link is not read"
                                                      : std::strerror(error);
    throw EInOutError("Cannot read the login file " + path + ": " + why);
}

}  // namespace

std::string LoginFileName(const std::string& programFolder, const std::string& locationCode) {
    const std::string last = TextFn::LastChars(programFolder, 1);
    const bool endsInSeparator = last == "\\" || last == "/";
    return programFolder + (endsInSeparator ? "" : "/") + locationCode + ".DAT";
}

bool LoginFileExists(const std::string& path) {
    return RegularFileExists(path);
}

std::string ReadLoginLine(const std::string& path) {
    errno = 0;
    LoginFileHandle file = OpenForReading(path);
    if (!file) RaiseReadError(path, errno ? errno : EIO);

    std::string line;
    char buffer[256];
    while (line.size() < static_cast<std::size_t>(kLoginLineLimit)) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        for (std::size_t i = 0; i < got; ++i) {
            if (buffer[i] == kCarriageReturn || buffer[i] == kCtrlZ) return line;
            if (line.size() < static_cast<std::size_t>(kLoginLineLimit)) line += buffer[i];
        }
        if (got < sizeof buffer) {
            if (std::ferror(file.get())) RaiseReadError(path, errno ? errno : EIO);
            break;
        }
    }
    return line;
}

TFtpLogin ParseLoginLine(std::string_view line) {
    TFtpLogin login;
    login.FtpHost = MyDecrypt(TextFn::ColumnCut(line, kHostColumn, kHostWidth));
    login.FtpUser = MyDecrypt(TextFn::ColumnCut(line, kUserColumn, kUserWidth));
    login.FtpPassword = MyDecrypt(TextFn::ColumnCut(line, kPasswordColumn, kPasswordWidth));
    login.RemoteFolder = TextFn::TrimBlanks(MyDecrypt(TextFn::ColumnCut(line, kRemoteFolderColumn, kRemoteFolderWidth)));
    if (line.size() > static_cast<std::size_t>(kLoginLineWidth))
        login.Options = ParseLoginOptions(line.substr(static_cast<std::size_t>(kLoginLineWidth)));
    return login;
}

std::string TFtpLogin::ServerHost() const {
    return Options.Host.empty() ? TextFn::TrimBlanks(FtpHost) : Options.Host;
}

std::optional<TFtpLogin> ReadLoginFile(const std::string& programFolder, const std::string& locationCode) {
    const std::string path = LoginFileName(programFolder, locationCode);
    if (!LoginFileExists(path)) return std::nullopt;
    return ParseLoginLine(ReadLoginLine(path));
}
