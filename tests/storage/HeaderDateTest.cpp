// The table header's last-update date is the local date, as other xBase
// tools stamp it and as the users' clocks show it, also where the local and
// the UTC date differ.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "StorageTestSupport.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

// Sets TZ while it lives.
class TimeZone {
public:
    explicit TimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone()
    {
        if (old_) ::setenv("TZ", old_->c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};

std::string dateOf(const std::tm& tm) { return std::to_string(tm.tm_year) + "-" + std::to_string(tm.tm_mon + 1) + "-" + std::to_string(tm.tm_mday); }

std::string headerDate(const std::filesystem::path& path)
{
    const auto bytes = readFile(path);
    return std::to_string(bytes.at(1)) + "-" + std::to_string(bytes.at(2)) + "-" + std::to_string(bytes.at(3));
}

}  // namespace

TEST(HeaderDate, IsTheLocalDateWhereItDiffersFromUtc)
{
    const std::time_t now = std::time(nullptr);
    std::tm utc {};
    gmtime_r(&now, &utc);
    // Fourteen hours ahead late in the UTC day, twelve behind early in it:
    // either way the local date is another day than UTC's.
    TimeZone zone(utc.tm_hour >= 12 ? "QZT-14" : "QZT+12");
    std::tm local {};
    localtime_r(&now, &local);
    ASSERT_NE(dateOf(local), dateOf(utc));

    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    EXPECT_EQ(headerDate(path), dateOf(local)) << "made";
    // An update stamps it again: put an old date there first.
    auto bytes = readFile(path);
    bytes[1] = 99;
    bytes[2] = 1;
    bytes[3] = 1;
    writeFile(path, bytes);
    {
        auto table = XbaseTable::open(path, OpenMode::Shared, false);
        table->appendRecord(fileLogRecord(*table, "a.xml"));
    }
    EXPECT_EQ(headerDate(path), dateOf(local)) << "updated";
}
