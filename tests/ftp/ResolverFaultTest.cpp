// A name server that never answers: this program stands in for the C
// library's getaddrinfo() with one that blocks until the test lets it go. The
// lookup must neither freeze the window (its step runs while the lookup
// waits) nor outlast the connect time-out.
#include <gtest/gtest.h>
#include <netdb.h>

#include <condition_variable>
#include <mutex>
#include <string>

#include "ftp/iohandler/NetAntiFreeze.h"
#include "ftp/NetExceptions.h"
#include "ftp/commands/NetFTP.h"

namespace {
std::mutex mutex;
std::condition_variable released;
bool answer = false;
int lookups = 0;
}  // namespace

extern "C" int getaddrinfo(const char*, const char*, const addrinfo*, addrinfo** res) {
    std::unique_lock lock(mutex);
    ++lookups;
    // "Never" within the test: a fault-free run ends the wait long before.
    released.wait_for(lock, std::chrono::seconds(20), [] { return answer; });
    *res = nullptr;
    return EAI_AGAIN;
}

TEST(SilentResolver, KeepsTheWindowAliveAndEndsWithinTheConnectTimeOut) {
    int windowSteps = 0;
    TNetAntiFreeze antiFreeze;
    antiFreeze.OnlyWhenIdle = false;
    antiFreeze.ProcessMessages = [&](bool) { ++windowSteps; };
    TNetFTP ftp;
    ftp.SetHost("ftp.central.example");
    ftp.SetConnectTimeout(400);
    std::string error;
    try {
        ftp.ConnectToServer(false);
    } catch (const std::exception& e) {
        error = e.what();
    }
    {
        std::lock_guard lock(mutex);
        answer = true;
    }
    released.notify_all();

    EXPECT_EQ(error, "Connect timed out.");
    EXPECT_EQ(lookups, 1);
    EXPECT_GT(windowSteps, 0);
    EXPECT_FALSE(ftp.IsOpen());
}
