// Batches: many updates committed with one journal record and one sync,
// all of them or none, whether the batch is dropped or its writer dies.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "StorageTestSupport.h"
#include "data/storage/Journal.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

std::string name(int i) { return "EXT_" + std::to_string(i) + ".xml"; }

struct Files {
    std::vector<uint8_t> dbf, cdx;
    bool operator==(const Files&) const = default;
};

Files filesOf(const std::filesystem::path& path)
{
    auto cdx = path;
    cdx.replace_extension(".CDX");
    return {readFile(path), readFile(cdx)};
}

// The table with records 1-3, closed (so its journal is empty).
std::filesystem::path threeRecords(const ScratchDir& dir)
{
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    for (int i = 1; i <= 3; ++i) table->appendRecord(fileLogRecord(*table, name(i)));
    return path;
}

void batchOfFive(XbaseTable& table)
{
    table.beginBatch();
    for (int i = 4; i <= 7; ++i) table.appendRecord(fileLogRecord(table, name(i)));
    table.writeRecord(2, fileLogRecord(table, "MOVED_2"));
}

TEST(Batch, IsCommittedWithOneJournalRecord)
{
    ScratchDir dir;
    const auto path = threeRecords(dir);
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    batchOfFive(*table);
    // This table sees its batch, through the tag too.
    EXPECT_EQ(table->recordCount(), 7u);
    EXPECT_TRUE(table->tag("FILENAME")->seek(name(6)).has_value());
    EXPECT_FALSE(table->tag("FILENAME")->seek(name(2)).has_value());
    table->commitBatch();
    EXPECT_EQ(journalOf(path).records.size(), 1u);
    table->appendRecord(fileLogRecord(*table, name(8)));
    table.reset();
    const std::vector<std::string> expected{name(1), "MOVED_2", name(3), name(4), name(5), name(6), name(7), name(8)};
    EXPECT_EQ(pythonFileNames(path), expected);
    EXPECT_EQ(xbaseDump(path, "FILENAME").exitCode, 0);
}

TEST(Batch, DroppedLeavesTheFilesAsTheyWere)
{
    ScratchDir dir;
    const auto path = threeRecords(dir);
    const Files before = filesOf(path);
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    batchOfFive(*table);
    table->abortBatch();
    EXPECT_EQ(filesOf(path), before);
    EXPECT_EQ(table->recordCount(), 3u);
    EXPECT_FALSE(table->tag("FILENAME")->seek(name(4)).has_value());
    EXPECT_TRUE(table->tag("FILENAME")->seek(name(2)).has_value());
    // And the table goes on as before.
    table->appendRecord(fileLogRecord(*table, name(9)));
    table.reset();
    EXPECT_EQ(pythonFileNames(path), (std::vector<std::string>{name(1), name(2), name(3), name(9)}));
    EXPECT_EQ(xbaseDump(path, "FILENAME").exitCode, 0);
}

// A writer that dies in the middle of its batch (or before the commit
// returned) leaves none of it, also after a restart of the machine.
TEST(Batch, AWriterKilledMidBatchLeavesNoneOfIt)
{
    ScratchDir dir;
    const auto path = threeRecords(dir);
    const Files before = filesOf(path);
    std::unique_ptr<XbaseTable> left;
    ASSERT_EQ(inChild([&] {
        left = XbaseTable::open(path, OpenMode::Shared, false);
        batchOfFive(*left);
        return 0;   // ends with the batch open, as if killed
    }), 0);
    EXPECT_EQ(filesOf(path), before);
    EXPECT_TRUE(journalOf(path).records.empty());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    EXPECT_EQ(table->recordCount(), 3u);
    table.reset();
    EXPECT_EQ(pythonFileNames(path), (std::vector<std::string>{name(1), name(2), name(3)}));
}

}  // namespace
