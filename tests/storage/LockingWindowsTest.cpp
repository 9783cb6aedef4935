// Sharing on Windows: share modes, record locks at the offsets other xBase
// tools use (LockFileEx, as FoxPro on Windows), and what another program
// sees of them. Its POSIX twin is LockingTest.cpp; the checks between two
// processes are in scripts/test-windows (table_probe.exe).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

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

// Another program's handle on the file, with the sharing it asks for.
struct OtherHandle {
    OtherHandle(const std::filesystem::path& path, DWORD share)
        : h(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~OtherHandle()
    {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    HANDLE h;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// 1 when another program's exclusive LockFileEx on the byte at `offset` is
// refused (someone holds it), 0 when it is had.
int lockSeenByOthers(const std::filesystem::path& path, uint64_t offset)
{
    OtherHandle other(path, kShareAll);
    if (other.h == INVALID_HANDLE_VALUE) return 97;
    OVERLAPPED o {};
    o.Offset = DWORD(offset);
    o.OffsetHigh = DWORD(offset >> 32);
    if (!::LockFileEx(other.h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o)) return 1;
    OVERLAPPED u = o;
    ::UnlockFileEx(other.h, 0, 1, 0, &u);
    return 0;
}

TEST(LockingWindows, ShareModesBetweenHandles)
{
    struct ShareCase {
        OpenMode first, second;
        int expected;
    };
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
        EXPECT_EQ(inChild([&] { return codeOf([&] { XbaseTable::open(path, c.second, false); }); }), c.expected)
            << int(c.first) << "/" << int(c.second);
    }
    EXPECT_EQ(codeOf([&] { XbaseTable::open(path, OpenMode::Exclusive, false); }), kOk);
}

TEST(LockingWindows, ExclusiveOpensMeetOtherProgramsShareModes)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    {
        // Another xBase program opened the table exclusively: no sharing.
        OtherHandle exclusive(path, 0);
        ASSERT_NE(exclusive.h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(codeOf([&] { XbaseTable::open(path, OpenMode::Shared, false); }), kFileInUse);
        EXPECT_EQ(codeOf([&] { XbaseTable::open(path, OpenMode::Shared, true); }), kFileInUse);
    }
    {
        auto ours = XbaseTable::open(path, OpenMode::Exclusive, false);
        OtherHandle shared(path, kShareAll);
        EXPECT_EQ(shared.h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(::GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    }
    {
        auto ours = XbaseTable::open(path, OpenMode::Shared, false);
        OtherHandle shared(path, kShareAll);
        EXPECT_NE(shared.h, INVALID_HANDLE_VALUE);
        OtherHandle exclusive(path, 0);
        EXPECT_EQ(exclusive.h, INVALID_HANDLE_VALUE);
    }
}

TEST(LockingWindows, RecordLocksAreSeenByOtherProgramsAtTheFoxProOffsets)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    for (int i = 0; i < 3; ++i) table->appendRecord(fileLogRecord(*table, std::string("f") + std::to_string(i)));
    table->lockRecord(2);
    EXPECT_EQ(lockSeenByOthers(path, 0x7FFFFFFE - 2), 1);
    EXPECT_EQ(lockSeenByOthers(path, 0x7FFFFFFE - 1), 0);
    EXPECT_EQ(inChild([&] {
                  auto other = XbaseTable::open(path, OpenMode::Shared, false);
                  if (codeOf([&] { other->lockRecord(2); }) != kRecordLocked) return 1;
                  if (codeOf([&] { other->lockRecord(1); }) != kOk) return 2;
                  return 0;
              }),
              0);
    table->unlockRecord(2);
    EXPECT_EQ(lockSeenByOthers(path, 0x7FFFFFFE - 2), 0);
    // Locking a record again and unlocking it once leaves it free, as on POSIX.
    table->lockRecord(2);
    table->lockRecord(2);
    table->unlockRecord(2);
    EXPECT_EQ(lockSeenByOthers(path, 0x7FFFFFFE - 2), 0);
    // Appends and writes still go through while a record is locked.
    table->lockRecord(1);
    EXPECT_NO_THROW(table->appendRecord(fileLogRecord(*table, "f3")));
    EXPECT_EQ(table->recordCount(), 4u);
}

TEST(LockingWindows, TableWithoutIndexUsesTheRecordOffsetScheme)
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

TEST(LockingWindows, CreateTagNeedsTheTableToItself)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    EXPECT_EQ(inChild([&] {
                  auto other = XbaseTable::open(path, OpenMode::Shared, false);
                  return codeOf([&] { other->createTag("COPIED", "COPIED", false, false); });
              }),
              kFileInUse);
    // The refused upgrade leaves both handles usable.
    EXPECT_NO_THROW(table->appendRecord(fileLogRecord(*table, "after")));
}

TEST(LockingWindows, TablesInFoldersWithNonAsciiNamesAndUncPaths)
{
    ScratchDir dir;
    const std::filesystem::path folder = dir.path() / L"H\u00f4tel \u00dcmit";
    std::filesystem::create_directories(folder);
    const auto path = makeFileLog(folder);
    {
        auto table = XbaseTable::open(path, OpenMode::Shared, false);
        table->appendRecord(fileLogRecord(*table, "caf\xE9.xml"));
    }
    EXPECT_EQ(XbaseTable::open(path, OpenMode::Shared, true)->recordCount(), 1u);
    // The same table through the administrative share of its drive.
    const std::wstring full = std::filesystem::absolute(path).wstring();
    if (full.size() > 2 && full[1] == L':') {
        const std::filesystem::path unc = L"\\\\localhost\\" + std::wstring(1, full[0]) + L"$" + full.substr(2);
        if (std::filesystem::exists(unc))
            EXPECT_EQ(XbaseTable::open(unc, OpenMode::Shared, true)->recordCount(), 1u);
        else
            std::printf("(no administrative share here: %ls)\n", unc.c_str());
    }
}

}  // namespace
