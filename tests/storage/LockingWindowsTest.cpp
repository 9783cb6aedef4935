// Sharing that only Windows has: the share modes another program's handle
// asks for, and tables in folders named beyond ASCII or reached by a UNC
// path. The cases every system shares are in LockingTest.cpp.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

#include "StorageTestSupport.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

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
