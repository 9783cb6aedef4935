// Our header, append and index locks against another program that takes its
// locks the classic way (process-owned fcntl locks, tests/storage/classic_lock.py)
// at the FoxPro-compatible offsets: our writes wait for its locks (and give
// up after 5 seconds), and it sees ours.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "StorageTestSupport.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

const std::string kHelper = std::string(QZ_SOURCE_DIR) + "/tests/storage/classic_lock.py";

// The helper holding one lock; lines are read as it prints them.
class Holder {
public:
    Holder(const std::filesystem::path& file, uint64_t offset, char kind, int millis, const std::filesystem::path& dbf)
    {
        const std::string command = "/usr/bin/python3 " + kHelper + " hold " + quote(file) + " " + std::to_string(offset) + " " +
                                    kind + " " + std::to_string(millis) + " " + quote(dbf);
        pipe_ = ::popen(command.c_str(), "r");
        if (!pipe_) throw std::runtime_error("cannot run " + command);
    }
    ~Holder()
    {
        if (pipe_) ::pclose(pipe_);
    }
    std::string line()
    {
        char buf[256] = {};
        if (!std::fgets(buf, sizeof buf, pipe_)) return {};
        std::string s(buf);
        while (!s.empty() && s.back() == '\n') s.pop_back();
        return s;
    }

private:
    FILE* pipe_ = nullptr;
};

struct HeldLock {
    const char* what;
    bool indexed;      // a table with its structural index, or a plain one
    bool onIndex;      // the lock is in the .CDX (else the .DBF)
    uint64_t offset;
    char kind;         // 'r' shared, 'w' exclusive
};

class ClassicLocks : public ::testing::TestWithParam<HeldLock> {};

// While the other program holds the lock, our append waits: the record count
// it sees just before letting go is still the old one; then the append lands.
TEST_P(ClassicLocks, OurWriteWaitsForTheOtherProgramsLock)
{
    const HeldLock& c = GetParam();
    ScratchDir dir;
    std::filesystem::path path = dir / "FILELOG.DBF";
    if (c.indexed) path = makeFileLog(dir.path());
    else XbaseTable::create(path, fileLogFields());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    table->appendRecord(fileLogRecord(*table, "a.xml"));

    Holder holder(c.onIndex ? dir / "FILELOG.CDX" : path, c.offset, c.kind, 700, path);
    ASSERT_EQ(holder.line(), "locked 1");
    if (c.indexed && c.kind == 'r') {
        EXPECT_EQ(table->tag("FILENAME")->seek("a.xml"), 1u);   // readers share it
    }
    EXPECT_EQ(table->appendRecord(fileLogRecord(*table, "b.xml")), 2u);
    EXPECT_EQ(holder.line(), "released 1");
    EXPECT_EQ(table->recordCount(), 2u);
    if (c.indexed) {
        EXPECT_EQ(table->tag("FILENAME")->seek("b.xml"), 2u);
        table.reset();
        auto dump = xbaseDump(path, "FILENAME");
        EXPECT_EQ(dump.exitCode, 0) << dump.output;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, ClassicLocks,
    ::testing::Values(HeldLock{"HeaderLockOfAnIndexedTable", true, false, 0x7FFFFFFE, 'w'},
                      HeldLock{"IndexWriteLock", true, true, 0x7FFFFFFE, 'w'},
                      HeldLock{"IndexReadLock", true, true, 0x7FFFFFFE, 'r'},
                      HeldLock{"HeaderLockOfAPlainTable", false, false, 0x40000000, 'w'}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(ClassicLocksHeldLong, OurWriteGivesUpAfterFiveSecondsAndWritesNothing)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    table->appendRecord(fileLogRecord(*table, "a.xml"));
    const auto before = readFile(path);
    Holder holder(path, 0x7FFFFFFE, 'w', 6500, path);
    ASSERT_EQ(holder.line(), "locked 1");
    EXPECT_EQ(codeOf([&] { table->appendRecord(fileLogRecord(*table, "b.xml")); }), kAppendLocked);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(holder.line(), "released 1");
}

// While one of our processes appends, the other program finds the header
// lock of the table and the index lock taken (and sometimes free).
TEST(ClassicLocksSeeOurs, HeaderAndIndexLocksAreSeenWhileWeWrite)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    const pid_t writer = ::fork();
    if (writer == 0) {
        try {
            auto table = XbaseTable::open(path, OpenMode::Shared, false);
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(4);
            for (int i = 0; std::chrono::steady_clock::now() < end; ++i)
                table->appendRecord(fileLogRecord(*table, "f" + std::to_string(i) + ".xml"));
        } catch (...) {
            _exit(1);
        }
        _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto probe = [&](const std::filesystem::path& file) {
        return run("/usr/bin/python3 " + kHelper + " probe " + quote(file) + " " + std::to_string(0x7FFFFFFE) + " 1").output;
    };
    const std::string header = probe(path), index = probe(dir / "FILELOG.CDX");
    int status = 0;
    ::waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    int busy = 0, free = 0;
    ASSERT_EQ(std::sscanf(header.c_str(), "busy %d free %d", &busy, &free), 2) << header;
    EXPECT_GT(busy, 0) << header;
    ASSERT_EQ(std::sscanf(index.c_str(), "busy %d free %d", &busy, &free), 2) << index;
    EXPECT_GT(busy, 0) << index;
    auto dump = xbaseDump(path, "FILENAME");
    EXPECT_EQ(dump.exitCode, 0) << dump.output.substr(0, 2000);
}

}  // namespace
