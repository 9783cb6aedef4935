// Building a tag on a shared table upgrades the table's flock to exclusive,
// and flock() lets go of the shared lock to do that. When another process
// opens the table exclusively in that moment, the table must not carry on
// as if it still held its share.
//
// This file replaces flock() for the test program, so that "another process
// slips in now" happens at the one moment it matters: just before the
// engine takes its shared lock back. Everything else passes straight to the
// kernel.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "StorageTestSupport.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

std::function<void()> g_beforeShareRetake;
pid_t g_hookPid = 0;

}  // namespace

extern "C" int flock(int fd, int operation) noexcept
{
    if (g_hookPid == ::getpid() && (operation & LOCK_SH) && g_beforeShareRetake) {
        auto hook = std::move(g_beforeShareRetake);
        g_beforeShareRetake = nullptr;
        hook();
    }
    return int(::syscall(SYS_flock, fd, operation));
}

namespace {

// Another program holding a whole-file lock on `path` until `holdMs` have
// passed (or it is killed); returns once the lock is held.
pid_t holdFlock(const std::filesystem::path& path, int operation, int holdMs)
{
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        const int fd = ::open(path.c_str(), O_RDWR);
        const char ok = fd >= 0 && ::syscall(SYS_flock, fd, operation | LOCK_NB) == 0 ? 'y' : 'n';
        if (::write(ready[1], &ok, 1) != 1) _exit(2);
        ::usleep(useconds_t(holdMs) * 1000);
        _exit(0);
    }
    ::close(ready[1]);
    char ok = 'n';
    const bool got = ::read(ready[0], &ok, 1) == 1 && ok == 'y';
    ::close(ready[0]);
    if (!got) throw std::runtime_error("the other process could not lock " + path.string());
    return pid;
}

void stop(pid_t pid)
{
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

struct ShareCase {
    const char* what;
    int exclusiveHoldMs;   // how long the other process keeps the table to itself
    bool keepsShare;
};

class ShareRetake : public ::testing::TestWithParam<ShareCase> {};

TEST_P(ShareRetake, TagBuildNeverLeavesTheTableOpenWithoutItsShare)
{
    const ShareCase& c = GetParam();
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    table->appendRecord(fileLogRecord(*table, "a.xml"));
    auto tag = table->tag("FILENAME");

    // A second user keeps the upgrade from succeeding; as the engine takes
    // its share back, that user leaves and a third opens the table exclusively.
    pid_t sharer = holdFlock(path, LOCK_SH, 60000);
    pid_t exclusive = 0;
    g_hookPid = ::getpid();
    g_beforeShareRetake = [&] {
        stop(sharer);
        sharer = 0;
        exclusive = holdFlock(path, LOCK_EX, c.exclusiveHoldMs);
    };
    std::string message;
    EXPECT_EQ(codeOf([&] { table->createTag("COPIED", "COPIED", false, false); }, &message), kFileInUse);
    g_beforeShareRetake = nullptr;
    ASSERT_NE(exclusive, 0) << "the engine never took its share back";
    stop(exclusive);

    if (c.keepsShare) {
        EXPECT_NE(message.find("used by no other process"), std::string::npos) << message;
        // The share is held again: no one else gets the table to itself.
        EXPECT_EQ(inChild([&] {
            const int fd = ::open(path.c_str(), O_RDWR);
            return ::syscall(SYS_flock, fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK ? 0 : 1;
        }), 0);
        EXPECT_EQ(inChild([&] { return codeOf([&] { XbaseTable::open(path, OpenMode::Exclusive, false); }) == kFileInUse ? 0 : 1; }), 0);
        EXPECT_EQ(table->appendRecord(fileLogRecord(*table, "b.xml")), 2u);
        EXPECT_EQ(tag->seek("b.xml"), 2u);
        return;
    }
    EXPECT_NE(message.find("open it again"), std::string::npos) << message;
    // Nothing more is read or written through this table; it says why.
    const auto before = readFile(path);
    std::string again;
    EXPECT_EQ(codeOf([&] { table->appendRecord(fileLogRecord(*table, "b.xml")); }, &again), kFileInUse);
    EXPECT_EQ(again, message);
    EXPECT_EQ(codeOf([&] { table->writeRecord(1, fileLogRecord(*table, "c.xml")); }), kFileInUse);
    EXPECT_EQ(codeOf([&] { table->recordCount(); }), kFileInUse);
    EXPECT_EQ(codeOf([&] { tag->seek("a.xml"); }), kFileInUse);
    std::vector<uint8_t> image(table->recordLength());
    EXPECT_EQ(codeOf([&] { table->readRecord(1, image); }), kFileInUse);
    EXPECT_EQ(readFile(path), before);
    tag.reset();
    table.reset();
    // Opened again, the table is whole.
    auto reopened = XbaseTable::open(path, OpenMode::Shared, false);
    EXPECT_EQ(reopened->recordCount(), 1u);
    EXPECT_EQ(reopened->tag("FILENAME")->seek("a.xml"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, ShareRetake,
                         ::testing::Values(ShareCase{"BriefExclusiveOpen", 300, true}, ShareCase{"LongExclusiveUse", 60000, false}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
