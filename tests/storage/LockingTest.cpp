// Sharing between processes, on every system: share modes, record locks at
// the offsets other xBase tools use and what another program sees of them
// (lockSeenByOthers: a classic POSIX-lock user, or a LockFileEx user as
// FoxPro on Windows). What only one system has is in LockingPosixTest.cpp
// and LockingWindowsTest.cpp; the checks between two Windows processes are
// in scripts/test-windows (table_probe.exe).
#include <gtest/gtest.h>

#include "StorageTestSupport.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

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
        // A process's status holds 0..255 only: the child answers whether it saw the code.
        EXPECT_EQ(inChild([&] { return codeOf([&] { XbaseTable::open(path, c.second, false); }) == c.expected ? 0 : 1; }), 0)
            << int(c.first) << "/" << int(c.second);
    }
    // Once closed, an exclusive open succeeds.
    EXPECT_EQ(inChild([&] { return codeOf([&] { XbaseTable::open(path, OpenMode::Exclusive, false); }); }), kOk);
}

// Where another program finds the lock of a record: the FoxPro offsets.
struct OffsetCase {
    const char* what;
    bool indexed;       // a table with its structural index, or a plain one
    uint64_t offset;    // probed while record 2 is locked
    int seen;           // 1: the byte is held
};

class RecordLockOffsets : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(RecordLockOffsets, AreWhereOtherProgramsLook)
{
    const OffsetCase& c = GetParam();
    ScratchDir dir;
    auto path = dir / "PLAIN.DBF";
    if (c.indexed) path = makeFileLog(dir.path());
    else XbaseTable::create(path, fileLogFields());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    for (int i = 0; i < 3; ++i) table->appendRecord(fileLogRecord(*table, std::string("f") + std::to_string(i)));
    table->lockRecord(2);
    EXPECT_EQ(lockSeenByOthers(path, c.offset), c.seen);
    table->unlockRecord(2);
    EXPECT_EQ(lockSeenByOthers(path, c.offset), 0);
}

INSTANTIATE_TEST_SUITE_P(
    FoxPro, RecordLockOffsets,
    ::testing::Values(OffsetCase{"IndexedTableRecord", true, 0x7FFFFFFE - 2, 1},
                      OffsetCase{"IndexedTableNextRecord", true, 0x7FFFFFFE - 1, 0},
                      OffsetCase{"PlainTableRecord", false, 0x40000000 + 161 + 45, 1}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(Locking, RecordLocksExcludeOtherHandlesAndProcesses)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    for (int i = 0; i < 3; ++i) table->appendRecord(fileLogRecord(*table, std::string("f") + std::to_string(i)));
    table->lockRecord(2);
    EXPECT_EQ(inChild([&] {
                  auto other = XbaseTable::open(path, OpenMode::Shared, false);
                  if (codeOf([&] { other->lockRecord(2); }) != kRecordLocked) return 1;
                  if (codeOf([&] { other->lockRecord(1); }) != kOk) return 2;
                  return 0;
              }),
              0);
    table->unlockRecord(2);
    // Locking a record again and unlocking it once leaves it free.
    table->lockRecord(2);
    table->lockRecord(2);
    table->unlockRecord(2);
    EXPECT_EQ(lockSeenByOthers(path, 0x7FFFFFFE - 2), 0);
    // Appends and writes still go through while a record is locked.
    table->lockRecord(1);
    EXPECT_NO_THROW(table->appendRecord(fileLogRecord(*table, "f3")));
    EXPECT_EQ(table->recordCount(), 4u);
    // Two handles in one process exclude each other as two processes would.
    auto second = XbaseTable::open(path, OpenMode::Shared, false);
    second->lockRecord(3);
    EXPECT_EQ(codeOf([&] { table->lockRecord(3); }), kRecordLocked);
}

TEST(Locking, CreateTagNeedsTheTableToItself)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    EXPECT_EQ(inChild([&] {
                  auto other = XbaseTable::open(path, OpenMode::Shared, false);
                  return codeOf([&] { other->createTag("COPIED", "COPIED", false, false); }) == kFileInUse ? 0 : 1;
              }),
              0);
    // The refused upgrade leaves both handles usable.
    EXPECT_NO_THROW(table->appendRecord(fileLogRecord(*table, "after")));
}

}  // namespace
