#pragma once
// Points an FTP client at a real test server the way the program sets up
// NetFTP1: passive, the server's login, the program's read time-out.
// Header-only so the support library itself needs no FTP client.
#include "ftp/commands/NetFTP.h"
#include "tests/support/FtpServers.h"

namespace qz::test {

inline void PointClientAt(TNetFTP& ftp, const RealFtpServer& server) {
    ftp.SetHost(server.Host());
    ftp.SetPort(server.Port());
    ftp.SetUsername(server.User());
    ftp.SetPassword(server.Password());
    ftp.SetPassive(true);
    ftp.SetReadTimeout(100000);
}

}  // namespace qz::test
