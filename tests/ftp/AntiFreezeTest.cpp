// The anti-freeze step: when the waits call it, with what, and on which thread.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ftp/NetExceptions.h"
#include "ftp/commands/NetFTP.h"
#include "ftp/iohandler/NetAntiFreeze.h"
#include "tests/ftp/FtpTestHelpers.h"
#include "tests/support/ScriptedFtpServer.h"

using namespace qz::test;
using Action = ScriptStep::Action;

namespace {

TEST(AntiFreezeTest, AtMostOneIsInForce) {
    EXPECT_EQ(TNetAntiFreezeBase::InForce(), nullptr);
    {
        TNetAntiFreeze first;
        EXPECT_EQ(TNetAntiFreezeBase::InForce(), &first);
        EXPECT_TRUE(first.Active);
        EXPECT_TRUE(first.ApplicationHasPriority);
        EXPECT_EQ(first.IdleTimeOut, 250);
        EXPECT_TRUE(first.OnlyWhenIdle);
        {
            TNetAntiFreeze second;
            EXPECT_EQ(TNetAntiFreezeBase::InForce(), &second);
        }
        EXPECT_EQ(TNetAntiFreezeBase::InForce(), nullptr);
    }
    EXPECT_EQ(TNetAntiFreezeBase::InForce(), nullptr);
}

struct StepCase {
    const char* name;
    bool active, onlyWhenIdle, idle, override;
    bool acts;
};

class AntiFreezeStepTest : public testing::TestWithParam<StepCase> {};

TEST_P(AntiFreezeStepTest, ActsOnlyWhenAskedTo) {
    const StepCase& c = GetParam();
    TNetAntiFreeze af;
    af.Active = c.active;
    af.OnlyWhenIdle = c.onlyWhenIdle;
    int calls = 0;
    af.ProcessMessages = [&](bool) { ++calls; };
    TNetAntiFreezeBase::DoProcess(c.idle, c.override);
    EXPECT_EQ(calls, c.acts ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Steps, AntiFreezeStepTest,
                         testing::Values(StepCase{"Idle", true, true, true, false, true},
                                         StepCase{"NotIdle", true, true, false, false, false},
                                         StepCase{"NotIdleAlways", true, false, false, false, true},
                                         StepCase{"NotIdleOverride", true, true, false, true, true},
                                         StepCase{"Inactive", false, true, true, true, false}),
                         [](const testing::TestParamInfo<StepCase>& info) { return info.param.name; });

TEST(AntiFreezeTest, ActsOnlyOnTheThreadThatCreatedIt) {
    TNetAntiFreeze af;
    int calls = 0;
    af.ProcessMessages = [&](bool) { ++calls; };
    std::thread other([] { TNetAntiFreezeBase::DoProcess(true, true); });
    other.join();
    EXPECT_EQ(calls, 0);
    TNetAntiFreezeBase::DoProcess(true, true);
    EXPECT_EQ(calls, 1);
}

class WaitForReplyTest : public testing::TestWithParam<bool> {};

// The server answers only after the window has been served three times, so
// the reply can only arrive if the wait runs the step.
TEST_P(WaitForReplyTest, RunsTheStepAfterEverySliceOfAWait) {
    ScriptedFtpServer server({ScriptStep{false, "220 awake\r\n", Action::WaitForSignal}});
    TNetAntiFreeze af;
    af.IdleTimeOut = 20;
    af.ApplicationHasPriority = GetParam();
    int calls = 0;
    bool handleAllSeen = !GetParam();
    af.ProcessMessages = [&](bool handleAll) {
        handleAllSeen = handleAll;
        if (++calls == 3) server.Signal();
    };
    TNetFTP ftp;
    ftp.SetHost("127.0.0.1");
    ftp.SetPort(server.Port());
    ftp.SetReadTimeout(100000);
    ftp.ConnectToServer(false);
    EXPECT_GE(calls, 3);
    EXPECT_EQ(handleAllSeen, GetParam());
    int before = calls;
    ftp.SendLine("NOOP");  // sends are not idle: nothing with OnlyWhenIdle
    EXPECT_EQ(calls, before);
    af.OnlyWhenIdle = false;
    ftp.SendLine("NOOP");
    EXPECT_EQ(calls, before + 1);
    ftp.CloseConnection();
}

INSTANTIATE_TEST_SUITE_P(Priority, WaitForReplyTest, testing::Bool());

TEST(AntiFreezeTest, ConnectWaitRunsTheStepAtEveryStep) {
    LoopbackPort silent(LoopbackPort::Mode::FullBacklog);
    TNetAntiFreeze af;
    af.IdleTimeOut = 50;  // steps of min(IdleTimeOut, 125)
    int calls = 0;
    af.ProcessMessages = [&](bool) { ++calls; };
    TNetTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = silent.Port();
    client.ConnectTimeout = 600;
    EXPECT_THROW(client.OpenConnection(), ENetConnectTimeout);
    EXPECT_EQ(calls, 11);  // 600 ms: 11 full steps of 50, then the remaining 50
}

// A connect that ends at once serves the window only when it has waited a
// while: often enough to repaint during a fast run, not once for every file.
TEST(AntiFreezeTest, ConnectsThatEndAtOnceServeTheWindowAtMostEvery40Ms) {
    LoopbackPort listening(LoopbackPort::Mode::Listening);
    TNetAntiFreeze af;
    int calls = 0;
    af.ProcessMessages = [&](bool) { ++calls; };
    auto connectOnce = [&] {
        TNetTCPClient client;
        client.Host = "127.0.0.1";
        client.Port = listening.Port();
        client.OpenConnection();
        client.CloseConnection();
    };
    connectOnce();
    EXPECT_EQ(calls, 1);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) connectOnce();
    if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(40)) {
        EXPECT_EQ(calls, 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(45));
    const int before = calls;
    connectOnce();
    EXPECT_EQ(calls, before + 1);
}

TEST(AntiFreezeTest, ReadTimeoutIsSlicedWithTheRemainderFirst) {
    ScriptedFtpServer server({ScriptStep{false, "", Action::Silent}});
    TNetAntiFreeze af;
    af.IdleTimeOut = 40;
    int calls = 0;
    af.ProcessMessages = [&](bool) { ++calls; };
    TNetTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.ReadTimeout = 130;  // 10 + 40 + 40 + 40
    client.OpenConnection();
    int afterConnect = calls;
    EXPECT_THROW(client.ReadReply({}), ENetReadTimeout);
    EXPECT_EQ(calls - afterConnect, 4);
    client.CloseConnection();
}

// A peer that never reads: the send waits in slices, serving the window
// between them, and fails once no byte has moved for the read time-out.
TEST(AntiFreezeTest, StalledSendIsSlicedAndTimesOut) {
    LoopbackPort listening(LoopbackPort::Mode::Listening);
    TNetAntiFreeze af;
    af.IdleTimeOut = 40;
    int idleCalls = 0;
    af.ProcessMessages = [&](bool) { ++idleCalls; };
    TNetTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = listening.Port();
    client.ReadTimeout = 130;  // 10 + 40 + 40 + 40 once nothing moves
    client.OpenConnection();
    const int afterConnect = idleCalls;
    TNetMemoryStream big(std::string(32 << 20, 'd'));
    try {
        client.SendStream(big);
        FAIL() << "no error";
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10060);
        EXPECT_EQ(std::string(e.what()), "Socket Error # 10060\r\nConnection timed out.");
    }
    EXPECT_GE(idleCalls - afterConnect, 4);
    EXPECT_FALSE(client.IsOpen());  // part of a block may have gone: the socket is dropped
}

TEST(AntiFreezeTest, WaitsOfAnotherThreadAreNotSliced) {
    ScriptedFtpServer server({ScriptStep{false, "", Action::Silent}});
    TNetAntiFreeze af;
    af.IdleTimeOut = 10;
    int calls = 0;
    af.ProcessMessages = [&](bool) { ++calls; };
    std::thread worker([&] {
        TNetTCPClient client;
        client.Host = "127.0.0.1";
        client.Port = server.Port();
        client.ReadTimeout = 100;
        client.OpenConnection();
        EXPECT_THROW(client.ReadReply({}), ENetReadTimeout);
        client.CloseConnection();
    });
    worker.join();
    EXPECT_EQ(calls, 0);
}

}  // namespace
