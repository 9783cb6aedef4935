// Connect errors that only a descriptor closed or replaced under the connect
// can give (EBADF: 10009, ENOTSOCK: 10038). The socket is made by the
// connection just before its connect, so nothing in the client itself can
// cause them; another part of the process closing a descriptor by mistake
// can. This program stands in for connect() to make them happen.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "ftp/NetExceptions.h"
#include "ftp/commands/NetFTP.h"
#include "tests/support/ScriptedFtpServer.h"

namespace {
std::atomic<int> failConnectWith{0};
}

extern "C" int connect(int fd, const sockaddr* addr, socklen_t len) {
    if (int err = failConnectWith.load(); err != 0) {
        errno = err;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_connect, fd, addr, len));
}

namespace {

using namespace qz::test;

struct FaultCase {
    const char* name;
    int err;
    int number;
};

class ConnectFaultTest : public testing::TestWithParam<FaultCase> {};

TEST_P(ConnectFaultTest, IsAFailedConnect) {
    ScriptedFtpServer server({Greeting("220 ready")});
    TNetFTP ftp;
    ftp.SetHost("127.0.0.1");
    ftp.SetPort(server.Port());
    ftp.SetReadTimeout(2000);
    failConnectWith = GetParam().err;
    try {
        ftp.ConnectToServer(false);
        ADD_FAILURE() << "no error";
    } catch (const ENetConnectException& e) {
        EXPECT_EQ(std::string(e.what()), SocketErrorText(GetParam().number));
    } catch (const std::exception& e) {
        ADD_FAILURE() << "not a connect error: " << e.what();
    }
    failConnectWith = 0;
    EXPECT_FALSE(ftp.IsOpen());
    // The same client connects once the fault is gone.
    ftp.ConnectToServer(false);
    EXPECT_EQ(ftp.LastCmdResult().NumericCode, 220);
    ftp.CloseConnection();
}

INSTANTIATE_TEST_SUITE_P(Faults, ConnectFaultTest,
                         testing::Values(FaultCase{"BadDescriptor", EBADF, 10009}, FaultCase{"NotASocket", ENOTSOCK, 10038},
                                         FaultCase{"Refused", ECONNREFUSED, 10061}),
                         [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

}  // namespace
