// Recovery beside other programs: an update from the journal never writes
// over bytes another program (python3-dbf, which knows neither our journal
// nor our locks) changed after it was journalled, after a restart of the
// machine or within the same boot.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "StorageTestSupport.h"
#include "data/storage/Journal.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

std::string name(int i) { return "EXT_" + std::to_string(i) + ".xml"; }

// Collects what recovery reports while it lives.
class Reports {
public:
    Reports()
    {
        setRecoveryReporter([this](const std::string& line) { lines.push_back(line); });
    }
    ~Reports() { setRecoveryReporter(nullptr); }
    std::vector<std::string> lines;
};

void appendInChild(const std::filesystem::path& path, int from, int to)
{
    std::unique_ptr<XbaseTable> left;
    ASSERT_EQ(inChild([&] {
        // Never closed: its updates stay in the journal, as after a kill.
        left = XbaseTable::open(path, OpenMode::Shared, false);
        for (int i = from; i <= to; ++i) left->appendRecord(fileLogRecord(*left, name(i)));
        return 0;
    }), 0);
}

std::vector<std::string> ourFileNames(const std::filesystem::path& path)
{
    auto table = XbaseTable::open(path, OpenMode::Shared, true);
    std::vector<std::string> names;
    std::vector<uint8_t> image(table->recordLength());
    for (uint32_t r = 1; r <= table->recordCount(); ++r) {
        table->readRecord(r, image);
        names.push_back(fieldText(*table, image, "FILENAME"));
    }
    return names;
}

// Our writer appended and died without closing; python3-dbf appended after
// it; then the machine restarted. Recovery must not put the record count
// back, or our next append would take python's record's place.
TEST(SharedRecovery, AfterARestartAnotherProgramsLaterAppendSurvives)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    appendInChild(path, 1, 3);
    ASSERT_EQ(journalOf(path).records.size(), 3u);
    pythonAppend(path, "PY_1.xml");
    pretendRestart(path);

    Reports reports;
    {
        auto table = XbaseTable::open(path, OpenMode::Shared, false);
        EXPECT_EQ(table->recordCount(), 4u);
        table->appendRecord(fileLogRecord(*table, name(5)));
    }
    const std::vector<std::string> expected{name(1), name(2), name(3), "PY_1.xml", name(5)};
    EXPECT_EQ(ourFileNames(path), expected);
    EXPECT_EQ(pythonFileNames(path), expected);
    EXPECT_EQ(xbaseDump(path).exitCode, 0);
    // Python's append only moved the header's date and count on and wrote
    // its end marker where our record's count now reaches: the header is
    // merged, the marker is no longer ours, nothing of ours was left out,
    // so there is nothing to report.
    EXPECT_TRUE(reports.lines.empty()) << reports.lines.front();
}

// Our writer synced its append to the journal and was killed before it
// wrote it in place (never confirmed); python3-dbf then appended into the
// same place. The next open must keep python's record, not finish ours.
TEST(SharedRecovery, InTheSameBootAnotherProgramsWriteAfterAKilledWriterSurvives)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto cdx = path;
    cdx.replace_extension(".CDX");
    appendInChild(path, 1, 2);
    const auto dbfBefore = readFile(path), cdxBefore = readFile(cdx);
    appendInChild(path, 3, 3);
    // As if the kill came right after the journal's sync.
    writeFile(path, dbfBefore);
    writeFile(cdx, cdxBefore);
    const size_t records = journalOf(path).records.size();
    ASSERT_EQ(records, 3u);
    size_t seen = 0;
    editRecords(path, [&](JournalRecordHeader& r) {
        if (++seen == records) r.applied = false;
    });
    pythonAppend(path, "PY_1.xml");

    Reports reports;
    {
        auto table = XbaseTable::open(path, OpenMode::Shared, false);
        EXPECT_EQ(table->recordCount(), 3u);
        table->appendRecord(fileLogRecord(*table, name(4)));
        // The unconfirmed update left nothing behind: not its key either.
        EXPECT_FALSE(table->tag("FILENAME")->seek(name(3)).has_value());
        EXPECT_TRUE(table->tag("FILENAME")->seek(name(4)).has_value());
    }
    const std::vector<std::string> expected{name(1), name(2), "PY_1.xml", name(4)};
    EXPECT_EQ(ourFileNames(path), expected);
    EXPECT_EQ(pythonFileNames(path), expected);
    EXPECT_EQ(xbaseDump(path).exitCode, 0);
    EXPECT_FALSE(reports.lines.empty());
}

// Writable tables in a folder where new files cannot be made (a read-only
// install folder): no journal can be made beside them, and the table still
// works, each update written in place and synced.
TEST(SharedRecovery, ATableWhoseJournalCannotBeMadeStillWorks)
{
    ScratchDir dir;
    const auto folder = dir.path() / "program";
    std::filesystem::create_directory(folder);
    const auto path = makeFileLog(folder);
    std::filesystem::remove(Journal::pathFor(path));
    auto cdx = path;
    cdx.replace_extension(".CDX");
    for (const auto& p : {path, cdx}) ASSERT_EQ(::chmod(p.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    constexpr uid_t kNobody = 65534;
    std::unique_ptr<XbaseTable> left;
    ASSERT_EQ(inChild([&] {
        // Root may create files anywhere: the writer runs as nobody.
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return 10;
        {
            auto table = XbaseTable::open(path, OpenMode::Shared, false);
            for (int i = 1; i <= 3; ++i) table->appendRecord(fileLogRecord(*table, name(i)));
            table->writeRecord(2, fileLogRecord(*table, "MOVED_2"));
        }
        // And one left open, as after a kill: nothing waits in a journal.
        left = XbaseTable::open(path, OpenMode::Shared, false);
        left->appendRecord(fileLogRecord(*left, name(4)));
        return 0;
    }), 0);
    ::chmod(folder.c_str(), 0755);
    EXPECT_FALSE(std::filesystem::exists(Journal::pathFor(path)));
    const std::vector<std::string> expected{name(1), "MOVED_2", name(3), name(4)};
    EXPECT_EQ(ourFileNames(path), expected);
    EXPECT_EQ(pythonFileNames(path), expected);
    EXPECT_EQ(xbaseDump(path, "FILENAME").exitCode, 0);
    auto table = XbaseTable::open(path, OpenMode::Shared, true);
    EXPECT_TRUE(table->tag("FILENAME")->seek("MOVED_2").has_value());
    EXPECT_FALSE(table->tag("FILENAME")->seek(name(2)).has_value());
}

}  // namespace
