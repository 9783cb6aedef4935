// Sharing between processes: share modes, record locks at the offsets other
// xBase tools use, and appends from several processes at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "StorageTestSupport.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

int codeOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const XbaseError& e) {
        return e.code();
    }
    return kOk;
}

// What a classic POSIX-lock user (another xBase program) sees at `offset`.
short lockSeenByOthers(const std::filesystem::path& path, off_t offset)
{
    return short(inChild([&] {
        int fd = ::open(path.c_str(), O_RDWR);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = offset;
        fl.l_len = 1;
        if (::fcntl(fd, F_GETLK, &fl) != 0) return 97;
        return fl.l_type == F_UNLCK ? 0 : 1;
    }));
}

struct ShareCase {
    OpenMode first;
    OpenMode second;
    int expected;
};

TEST(Locking, ShareModesBetweenProcesses)
{
    const ShareCase cases[] = {
        {OpenMode::Shared, OpenMode::Shared, kOk},
        {OpenMode::Shared, OpenMode::Exclusive, kFileInUse},
        {OpenMode::Exclusive, OpenMode::Shared, kFileInUse},
        {OpenMode::Exclusive, OpenMode::Exclusive, kFileInUse},
    };
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    for (const ShareCase& c : cases) {
        auto held = XbaseTable::open(path, c.first, false);
        const int rc = inChild([&] { return codeOf([&] { XbaseTable::open(path, c.second, false); }) == c.expected ? 0 : 1; });
        EXPECT_EQ(rc, 0) << int(c.first) << "/" << int(c.second);
    }
    // Once closed, an exclusive open succeeds.
    EXPECT_EQ(inChild([&] { return codeOf([&] { XbaseTable::open(path, OpenMode::Exclusive, false); }); }), kOk);
}

TEST(Locking, RecordLocksAreSeenByOtherProcessesAtTheFoxProOffsets)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    for (int i = 0; i < 3; ++i) table->appendRecord(fileLogRecord(*table, std::string("f") + std::to_string(i)));
    table->lockRecord(2);
    EXPECT_EQ(lockSeenByOthers(path, 0x7FFFFFFE - 2), 1);
    EXPECT_EQ(lockSeenByOthers(path, 0x7FFFFFFE - 1), 0);
    const int rc = inChild([&] {
        auto other = XbaseTable::open(path, OpenMode::Shared, false);
        if (codeOf([&] { other->lockRecord(2); }) != kRecordLocked) return 1;
        if (codeOf([&] { other->lockRecord(1); }) != kOk) return 2;
        return 0;
    });
    EXPECT_EQ(rc, 0);
    table->unlockRecord(2);
    EXPECT_EQ(lockSeenByOthers(path, 0x7FFFFFFE - 2), 0);
    // Two handles in one process exclude each other as two processes would.
    auto second = XbaseTable::open(path, OpenMode::Shared, false);
    second->lockRecord(3);
    EXPECT_EQ(codeOf([&] { table->lockRecord(3); }), kRecordLocked);
}

TEST(Locking, TableWithoutIndexUsesTheRecordOffsetScheme)
{
    ScratchDir dir;
    const auto path = dir / "PLAIN.DBF";
    XbaseTable::create(path, fileLogFields());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    table->appendRecord(table->blankRecord());
    table->appendRecord(table->blankRecord());
    table->lockRecord(2);
    EXPECT_EQ(lockSeenByOthers(path, 0x40000000 + 161 + 45), 1);
}

TEST(Locking, ConcurrentAppendsFromSeveralProcessesAreAllKept)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    const int writers = 3, each = 40;
    std::vector<pid_t> pids;
    for (int w = 0; w < writers; ++w) {
        pid_t pid = ::fork();
        if (pid == 0) {
            int rc = 0;
            try {
                auto table = XbaseTable::open(path, OpenMode::Shared, false);
                auto tag = table->tag("FILENAME");
                for (int i = 0; i < each; ++i) {
                    table->appendRecord(fileLogRecord(*table, std::string("W") + std::to_string(w) + "_" + std::to_string(i)));
                    tag->seek("W0_0");
                }
            } catch (...) {
                rc = 1;
            }
            ::_exit(rc);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto table = XbaseTable::open(path, OpenMode::Exclusive, true);
    EXPECT_EQ(table->recordCount(), uint32_t(writers * each));
    auto tag = table->tag("FILENAME");
    for (int w = 0; w < writers; ++w)
        for (int i = 0; i < each; ++i) EXPECT_TRUE(tag->seek(std::string("W") + std::to_string(w) + "_" + std::to_string(i)).has_value());
    table.reset();
    auto r = xbaseDump(path, "FILENAME");
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

TEST(Locking, CreateTagNeedsTheTableToItself)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    const int rc = inChild([&] {
        auto other = XbaseTable::open(path, OpenMode::Shared, false);
        return codeOf([&] { other->createTag("COPIED", "COPIED", false, false); }) == kFileInUse ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
}

}  // namespace
