// A disk that refuses every write to the table and index (no space left)
// while a Post writes in place, so that putting back what was written fails
// too: the Post is reported as failed, and once there is room again the
// repeated Post appends its record once, at every point the disk fills up.
#include <gtest/gtest.h>

#include <string>

#include "StorageTestSupport.h"
#include "data/storage/OsFile.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

// From the `failFrom`-th write to the table or index on, every one fails.
class FullDisk : public FileEventRecorder {
public:
    explicit FullDisk(int failFrom) : failFrom_(failFrom) { setFileEventRecorder(this); }
    ~FullDisk() override { setFileEventRecorder(nullptr); }
    void writing(const std::filesystem::path& path, uint64_t, size_t) override
    {
        const std::string ext = path.extension().string();
        if (ext != ".DBF" && ext != ".CDX") return;
        if (++seen_ >= failFrom_) throw XbaseError(kIoError, path.filename().string() + ": write failed: No space left on device");
    }
    void wrote(const std::filesystem::path&, uint64_t, std::span<const uint8_t>) override {}
    void synced(const std::filesystem::path&) override {}
    int seen() const { return seen_; }

private:
    int failFrom_;
    int seen_ = 0;
};

int copiesOf(XbaseTable& t, const std::string& name)
{
    int n = 0;
    std::vector<uint8_t> image(t.recordLength());
    for (uint32_t r = 1; r <= t.recordCount(); ++r) {
        t.readRecord(r, image);
        n += fieldText(t, image, "FILENAME") == name;
    }
    return n;
}

TEST(DiskFull, ARepeatedPostAfterAFailedUndoAppendsOneCopy)
{
    // How many table and index writes one append makes.
    int writesPerAppend = 0;
    {
        ScratchDir dir;
        const auto path = makeFileLog(dir.path());
        auto t = XbaseTable::open(path, OpenMode::Shared, false);
        FullDisk counting(1 << 30);
        t->appendRecord(fileLogRecord(*t, "COUNT.xml"));
        writesPerAppend = counting.seen();
    }
    ASSERT_GE(writesPerAppend, 4);
    for (int failFrom = 1; failFrom <= writesPerAppend; ++failFrom) {
        SCOPED_TRACE("the disk fills up at write " + std::to_string(failFrom));
        ScratchDir dir;
        const auto path = makeFileLog(dir.path());
        auto t = XbaseTable::open(path, OpenMode::Shared, false);
        t->appendRecord(fileLogRecord(*t, "BEFORE.xml"));
        {
            FullDisk full(failFrom);
            EXPECT_THROW(t->appendRecord(fileLogRecord(*t, "FULL.xml")), XbaseError);
        }
        // Room again: the user repeats the Post.
        t->appendRecord(fileLogRecord(*t, "FULL.xml"));
        EXPECT_EQ(copiesOf(*t, "FULL.xml"), 1);
        EXPECT_EQ(copiesOf(*t, "BEFORE.xml"), 1);
        EXPECT_EQ(t->recordCount(), 2u);
        EXPECT_TRUE(t->tag("FILENAME")->seek("FULL.xml").has_value());
        t.reset();
        auto again = XbaseTable::open(path, OpenMode::Shared, true);
        EXPECT_EQ(copiesOf(*again, "FULL.xml"), 1) << "after a reopen";
    }
}

}  // namespace
