// The whole client over the in-memory transport (no sockets): the same
// exchange as on the network, and the stalled data connection at once.
#include <gtest/gtest.h>

#include "ftp/NetExceptions.h"
#include "ftp/commands/NetFTP.h"
#include "tests/ftp/FtpTestHelpers.h"
#include "tests/support/MemoryTransport.h"

using namespace qz::test;

namespace {

const std::string WholeRun =
    "220 ready\r\n331 pw\r\n230 ok\r\n200 ok\r\n215 UNIX\r\n250 ok\r\n"
    "227 Entering Passive Mode (127,0,0,1,4,1)\r\n150 go\r\n226 done\r\n213 70000\r\n";

struct MemoryCase {
    const char* name;
    std::size_t sendLimit;
    bool dataStalls;
    std::string error;
};

class MemoryTransportTest : public testing::TestWithParam<MemoryCase> {};

TEST_P(MemoryTransportTest, RunsTheWholeExchange) {
    const MemoryCase& c = GetParam();
    TempFile file(PatternBytes(70000));
    MemoryServer server;
    server.control = WholeRun;
    server.sendLimit = c.sendLimit;
    server.dataStalls = c.dataStalls;
    TNetFTP ftp;
    ftp.MakeIOHandler = MemoryTransport(server, true);
    ftp.MakeDataIOHandler = MemoryTransport(server, false);
    ftp.SetUsername("hotel");
    ftp.SetPassword("secret");
    ftp.SetReadTimeout(100000);
    std::vector<long long> progress;
    ftp.OnWork = [&](TNetComponent&, TWorkMode, long long count) { progress.push_back(count); };
    long long size = -2;
    std::string error;
    try {
        ftp.ConnectToServer();
        ftp.ChangeFolder("/in");
        ftp.StoreFile(file.Path(), "010126.xml");
        size = ftp.RemoteFileSize("010126.xml");
    } catch (const ENetException& e) {
        error = e.what();
    }
    ftp.CloseConnection();
    EXPECT_EQ(error, c.error);
    if (c.error.empty()) {
        EXPECT_EQ(server.commands,
                  "USER hotel\r\nPASS secret\r\nTYPE I\r\nSYST\r\nCWD /in\r\nPASV\r\nSTOR 010126.xml\r\nSIZE 010126.xml\r\n");
        EXPECT_EQ(server.dataBytes, 70000u);
        EXPECT_EQ(size, 70000);
        // One progress per chunk, however many sends a chunk took.
        EXPECT_EQ(progress, (std::vector<long long>{32768, 65536, 70000}));
    } else {
        EXPECT_EQ(server.dataBytes, 0u);
    }
    EXPECT_EQ(server.connections, 2);
}

INSTANTIATE_TEST_SUITE_P(Memory, MemoryTransportTest,
                         testing::Values(MemoryCase{"WholeSends", 0, false, ""}, MemoryCase{"PartialSends", 1000, false, ""},
                                         MemoryCase{"DataStalls", 0, true, "Socket Error # 10060\r\nConnection timed out."}),
                         [](const testing::TestParamInfo<MemoryCase>& info) { return info.param.name; });

}  // namespace
