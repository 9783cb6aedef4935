// The connection layer against a scripted loopback server: greetings, line
// limits, time-outs, closes, refused and unanswered connects, host names.
#include <gtest/gtest.h>

#include "ftp/NetExceptions.h"
#include "ftp/commands/NetFTP.h"
#include "ftp/socket/NetStack.h"
#include "tests/ftp/FtpTestHelpers.h"
#include "tests/support/ScriptedFtpServer.h"

using namespace qz::test;
using Action = ScriptStep::Action;

namespace {

struct GreetingCase {
    const char* name;
    std::string bytes;
    Action action;
    std::string error;  // empty: the greeting is accepted
    std::vector<std::string> text;
};

class GreetingTest : public testing::TestWithParam<GreetingCase> {};

TEST_P(GreetingTest, ReadsTheWholeGreetingOrFails) {
    const GreetingCase& c = GetParam();
    ScriptedFtpServer server({ScriptStep{false, c.bytes, c.action}});
    TNetFTP ftp;
    ftp.SetHost("127.0.0.1");
    ftp.SetPort(server.Port());
    ftp.SetReadTimeout(300);
    if (c.error.empty()) {
        ftp.ConnectToServer(false);
        EXPECT_EQ(ftp.LastCmdResult().NumericCode, 220);
        EXPECT_EQ(ftp.LastCmdResult().Text, c.text);
        EXPECT_TRUE(ftp.IsOpen());
        ftp.CloseConnection();
    } else {
        try {
            ftp.ConnectToServer(false);
            ADD_FAILURE() << "no error";
        } catch (const ENetException& e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
        EXPECT_FALSE(ftp.IsOpen());  // a failed connect closes the connection
    }
    server.WaitDone();
    EXPECT_TRUE(server.Commands().empty());  // nothing sent, QUIT least of all
}

// A multi-line greeting of exactly `total` bytes, line ends included.
GreetingCase GreetingOfSize(const char* name, std::size_t total, std::string error) {
    GreetingCase c{name, "", Action::None, std::move(error), {}};
    const std::size_t lineBytes = 16000;
    while (total - c.bytes.size() > lineBytes + 16) {
        c.bytes += "220-" + std::string(lineBytes - 6, 'y') + "\r\n";
        c.text.push_back(std::string(lineBytes - 6, 'y'));
    }
    std::string last(total - c.bytes.size() - 6, 'z');
    c.bytes += "220 " + last + "\r\n";
    c.text.push_back(last);
    if (!c.error.empty()) c.text.clear();
    return c;
}

const std::string LineOf16384 = "220 " + std::string(16384 - 5, 'x') + "\r\n";  // 16384 bytes before LF
const std::string LineOf16385 = "220 " + std::string(16385 - 5, 'x') + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Greetings, GreetingTest,
    testing::Values(
        GreetingCase{"OneLine", "220 Service ready\r\n", Action::None, "", {"Service ready"}},
        GreetingCase{"MultiLine", "220-Welcome\r\n220-to the\r\n220 server\r\n", Action::None, "", {"Welcome", "to the", "server"}},
        GreetingCase{"LfOnly", "220-a\n220 b\n", Action::None, "", {"a", "b"}},
        GreetingCase{"BlankLinesFirst", "\r\n \r\n\n220 ok\r\n", Action::None, "", {"ok"}},
        GreetingCase{"LongestLine", LineOf16384, Action::None, "", {std::string(16384 - 5, 'x')}},
        GreetingCase{"LineTooLong", LineOf16385, Action::None, "Max line length exceeded.", {}},
        GreetingCase{"NotReady", "421 Too many users\r\n", Action::None, "Too many users\r\n", {}},
        GreetingCase{"ClosesMidReply", "220-partial\r\n220 rea", Action::CloseControl, "Connection Closed Gracefully.", {}},
        GreetingCase{"ClosesBeforeReply", "", Action::CloseControl, "Connection Closed Gracefully.", {}},
        GreetingCase{"Silent", "", Action::Silent, "Read Timeout", {}},
        GreetingOfSize("LargestReply", 1 << 20, ""),
        GreetingOfSize("ReplyTooLong", (1 << 20) + 1, "Reply too long (more than 1048576 bytes).")),
    [](const testing::TestParamInfo<GreetingCase>& info) { return info.param.name; });

TEST(ConnectionTest, ReadTimeoutLeavesTheConnectionOpenAndTheLateReplyReadable) {
    ScriptedFtpServer server({ScriptStep{false, "220 late\r\n", Action::WaitForSignal}});
    TNetTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.ReadTimeout = 200;
    client.OpenConnection();
    EXPECT_THROW(client.ReadReply({220}), ENetReadTimeout);
    EXPECT_TRUE(client.IsOpen());
    server.Signal();
    client.ReadTimeout = 0;  // no limit
    EXPECT_EQ(client.ReadReply({220}), 220);
    EXPECT_EQ(client.LastCmdResult().Text, std::vector<std::string>{"late"});
    client.CloseConnection();
    server.WaitDone();
}

TEST(ConnectionTest, ServerCloseIsNoticedByTheNextReceiveOnly) {
    ScriptedFtpServer server({ScriptStep{false, "220 bye\r\n", Action::CloseControl}});
    TNetTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.OpenConnection();
    EXPECT_EQ(client.ReadReply({}), 220);
    server.WaitDone();
    EXPECT_TRUE(client.IsOpen());  // never reads from the network
    EXPECT_THROW(client.ReadReply({}), ENetConnClosedGracefully);
    EXPECT_FALSE(client.IsOpen());
    EXPECT_THROW(client.SendLine("NOOP"), ENetConnClosedGracefully);
}

TEST(ConnectionTest, OpeningTwiceIsRefusedAndClosedConnectionsReopen) {
    ScriptedFtpServer first({Greeting("220 one")});
    TNetTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = first.Port();
    client.OpenConnection();
    EXPECT_THROW(client.OpenConnection(), ENetAlreadyConnected);
    client.CloseConnection();
    EXPECT_FALSE(client.IsOpen());
    first.WaitDone();
    ScriptedFtpServer second({Greeting("220 two")});
    client.Port = second.Port();
    client.OpenConnection();
    EXPECT_EQ(client.ReadReply({220}), 220);
    EXPECT_EQ(client.LastCmdResult().Text.front(), "two");
    client.CloseConnection();
}

TEST(ConnectionTest, RefusedConnectNamesTheSocketError) {
    LoopbackPort closed(LoopbackPort::Mode::Refusing);
    TNetFTP ftp;
    ftp.SetHost("127.0.0.1");
    ftp.SetPort(closed.Port());
    try {
        ftp.ConnectToServer();
        FAIL() << "no error";
    } catch (const ENetConnectException& e) {
        EXPECT_EQ(std::string(e.what()), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_FALSE(ftp.IsOpen());
}

TEST(ConnectionTest, UnansweredConnectTimesOut) {
    LoopbackPort silent(LoopbackPort::Mode::FullBacklog);
    TNetFTP ftp;
    ftp.SetHost("127.0.0.1");
    ftp.SetPort(silent.Port());
    ftp.SetConnectTimeout(400);
    try {
        ftp.ConnectToServer();
        FAIL() << "no error";
    } catch (const ENetConnectTimeout& e) {
        EXPECT_EQ(std::string(e.what()), "Connect timed out.");
    }
    EXPECT_FALSE(ftp.IsOpen());
}

class LocalhostTest : public testing::TestWithParam<std::string> {};

TEST_P(LocalhostTest, AnyLetterCaseIsLoopbackWithoutLookup) {
    EXPECT_EQ(TNetStack::ResolveHost(GetParam()), "127.0.0.1");
    ScriptedFtpServer server({Greeting("220 hi")});
    TNetFTP ftp;
    ftp.SetHost(GetParam());
    ftp.SetPort(server.Port());
    ftp.ConnectToServer(false);
    EXPECT_EQ(ftp.PeerIP(), "127.0.0.1");
    ftp.CloseConnection();
}

INSTANTIATE_TEST_SUITE_P(Hosts, LocalhostTest, testing::Values("localhost", "LOCALHOST", "LocalHost", "lOcAlHoSt"));

TEST(ConnectionTest, AddressWithAPartAbove255GoesToTheNameLookup) {
    TNetFTP ftp;
    ftp.SetHost("10.0.0.256");
    ftp.SetConnectTimeout(500);
    try {
        ftp.ConnectToServer();
        FAIL() << "no error";
    } catch (const ENetSocketError& e) {
        // One of the lookup failures (host not found, or no answer from the
        // resolver on a machine without one), never a connect error.
        EXPECT_GE(e.LastError(), 11001);
        EXPECT_LE(e.LastError(), 11004);
        EXPECT_EQ(std::string(e.what()), SocketErrorText(e.LastError()));
    }
}

TEST(ConnectionTest, DottedAddressIsUsedAsItIs) {
    ScriptedFtpServer server({Greeting("220 hi")});
    TNetTCPClient client;
    client.Host = "127.000.000.001";
    client.Port = server.Port();
    client.OpenConnection();
    EXPECT_EQ(client.PeerIP(), "127.0.0.1");
    client.CloseConnection();
}

TEST(ConnectionTest, StreamSendRaisesOneBeginOneProgressPerSendAndOneEnd) {
    ScriptedFtpServer server({Greeting("220 hi")});
    TNetTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    std::vector<std::string> events;
    client.OnWorkBegin = [&](TNetComponent&, TWorkMode m, long long max) {
        events.push_back("begin " + std::to_string(static_cast<int>(m)) + " " + std::to_string(max));
    };
    client.OnWork = [&](TNetComponent&, TWorkMode m, long long n) {
        events.push_back("work " + std::to_string(static_cast<int>(m)) + " " + std::to_string(n));
    };
    client.OnWorkEnd = [&](TNetComponent&, TWorkMode m) { events.push_back("end " + std::to_string(static_cast<int>(m))); };
    client.OpenConnection();
    client.ReadReply({220});  // replies and lines raise no events
    TNetMemoryStream stream(std::string(70000, 'a') + "\r\n");
    client.SendStream(stream);
    EXPECT_EQ(events, (std::vector<std::string>{"begin 1 70002", "work 1 32768", "work 1 65536", "work 1 70002", "end 1"}));
    client.CloseConnection();
    server.WaitDone();
    ASSERT_EQ(server.Commands().size(), 1u);  // the bytes, read back as a line
    EXPECT_EQ(server.Commands().front(), std::string(70000, 'a'));
}

// A stream that promises more than it has.
class ShortStream : public TNetStream {
public:
    long long Size() const override { return 100000; }
    long long Position() const override { return position_; }
    std::string_view Read(std::size_t count) override {
        std::size_t n = std::min<std::size_t>(count, 40000 - static_cast<std::size_t>(position_));
        position_ += static_cast<long long>(n);
        return std::string_view(bytes_).substr(0, n);
    }

private:
    std::string bytes_ = std::string(40000, 'b');
    long long position_ = 0;
};

struct SendFailureCase {
    const char* name;
    bool serverCloses;
    bool endHandlerThrows;
};

class SendFailureTest : public testing::TestWithParam<SendFailureCase> {};

TEST_P(SendFailureTest, EndNotificationComesAlsoWhenTheSendFails) {
    ScriptedFtpServer server({ScriptStep{false, "220 hi\r\n", GetParam().serverCloses ? Action::CloseControl : Action::None}});
    TNetTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    int begins = 0, ends = 0;
    client.OnWorkBegin = [&](TNetComponent&, TWorkMode, long long) { ++begins; };
    client.OnWorkEnd = [&](TNetComponent&, TWorkMode) {
        ++ends;
        if (GetParam().endHandlerThrows) throw EInOutError("audit");
    };
    client.OpenConnection();
    client.ReadReply({220});
    if (GetParam().endHandlerThrows) {
        // The handler's error replaces the sending error.
        server.WaitDone();
        TNetMemoryStream big(std::string(16 << 20, 'c'));
        EXPECT_THROW(client.SendStream(big), EInOutError);
    } else if (GetParam().serverCloses) {
        server.WaitDone();
        TNetMemoryStream big(std::string(16 << 20, 'c'));
        try {
            client.SendStream(big);
            ADD_FAILURE() << "no error";
        } catch (const ENetSocketError& e) {
            EXPECT_TRUE(e.LastError() == 10054 || e.LastError() == 10058) << e.what();
        } catch (const ENetConnClosedGracefully&) {
        }
    } else {
        ShortStream stream;
        EXPECT_THROW(client.SendStream(stream), ENetNoDataToRead);
    }
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(ends, 1);
    client.CloseConnection();
}

INSTANTIATE_TEST_SUITE_P(Sends, SendFailureTest,
                         testing::Values(SendFailureCase{"PeerGone", true, false}, SendFailureCase{"StreamEndsEarly", false, false},
                                         SendFailureCase{"PeerGoneAndEndHandlerFails", true, true}),
                         [](const testing::TestParamInfo<SendFailureCase>& info) { return info.param.name; });

}  // namespace
