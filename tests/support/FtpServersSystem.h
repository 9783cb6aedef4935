#pragma once
// What the real FTP servers need of the system, one file per system:
// FtpServersPosix.cpp, and FtpServersWindows.cpp for the Windows build run
// under Wine, which starts the same Linux servers.
#include <string>

namespace qz::test {

extern const char* const VsftpdProgram;
extern const char* const PythonProgram;
// ProFTPD and pure-ftpd, unpacked beside vsftpd by scripts/install-deps.
extern const char* const ProftpdProgram;
extern const char* const PureFtpdProgram;
extern const char* const PurePwProgram;

std::string MakeTempDir(const std::string& prefix);
void SetMode(const std::string& path, int mode);
// The path as the server, a Linux program, names it.
std::string ServerPath(const std::string& path);

}  // namespace qz::test
