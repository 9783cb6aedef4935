// Damaged tables and indexes give a clear error naming the file and the
// fault, never a crash or a hang.
#include <gtest/gtest.h>

#include <functional>

#include "StorageTestSupport.h"
#include "data/storage/Bytes.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

using Bytes = std::vector<uint8_t>;

struct Damage {
    const char* what;
    bool index;                      // damage the .CDX (else the .DBF)
    std::function<void(Bytes&)> apply;
    int code;
    const char* messagePart;
};

std::ostream& operator<<(std::ostream& os, const Damage& d) { return os << d.what; }

// Offsets in the index written by the engine for the file log: directory
// header 0, directory leaf 1024, FILENAME tag header 1536, tree from 2560.
constexpr size_t kTagHeader = 1536;

uint32_t rootOf(const Bytes& cdx) { return xbase::bytes::le32(cdx.data() + kTagHeader); }

// Points the leaf at `leaf` to two empty leaves (copies of it, with no
// keys) added at the end of the file, which point at each other: a walk
// that skips empty leaves would go round them for ever.
void loopOfEmptyLeavesAfter(Bytes& b, uint32_t leaf)
{
    const uint32_t a = uint32_t(b.size()), c = a + 512;
    for (uint32_t page : {a, c}) {
        b.insert(b.end(), b.begin() + leaf, b.begin() + leaf + 512);
        b[page] = 2;   // a leaf, not a root
        b[page + 2] = b[page + 3] = 0;
        xbase::bytes::putLe32(b.data() + page + 4, page == a ? leaf : a);
        xbase::bytes::putLe32(b.data() + page + 8, page == a ? c : a);
    }
    xbase::bytes::putLe32(b.data() + leaf + 8, a);
}

const Damage kDamages[] = {
    {"table shorter than a header", false, [](Bytes& b) { b.resize(10); }, kCorruptTable, "too short"},
    {"unknown version byte", false, [](Bytes& b) { b[0] = 0x77; }, kCorruptTable, "version"},
    {"header length past the end", false, [](Bytes& b) { b[8] = 0xFF; b[9] = 0xFF; }, kCorruptTable, "header"},
    {"header length too small", false, [](Bytes& b) { b[8] = 4; b[9] = 0; }, kCorruptTable, "header length"},
    {"descriptor terminator missing", false, [](Bytes& b) { b[160] = 'X'; }, kCorruptTable, "header length"},
    {"field widths disagree with the record length", false, [](Bytes& b) { b[10] = 44; }, kCorruptTable, "record length"},
    {"zero field width", false, [](Bytes& b) { b[32 + 16] = 0; }, kCorruptTable, "width 0"},
    {"record count past the end", false, [](Bytes& b) { b[6] = 1; }, kCorruptTable, "record count"},
    {"index shorter than its header", true, [](Bytes& b) { b.resize(700); }, kCorruptIndex, "too short"},
    {"directory root outside the file", true, [](Bytes& b) { b[1] = 0x7F; }, kCorruptIndex, "root pointer"},
    {"directory root not on a page", true, [](Bytes& b) { b[0] = 3; }, kCorruptIndex, "root pointer"},
    {"tag header offset outside the file", true, [](Bytes& b) { b[1024 + 24] = 0xFF; b[1024 + 25] = 0xFF; }, kCorruptIndex, "outside the file"},
    {"tag key length zero", true, [](Bytes& b) { b[kTagHeader + 12] = 0; }, kCorruptIndex, "key length"},
    {"tag root outside the file", true, [](Bytes& b) { b[kTagHeader + 3] = 0x10; }, kCorruptIndex, "root pointer"},
    {"interior child points to itself", true,
     [](Bytes& b) {
         const uint32_t root = rootOf(b);
         xbase::bytes::putBe32(b.data() + root + 12 + 25 + 4, root);
     },
     kCorruptIndex, "loop"},
    {"interior child outside the file", true,
     [](Bytes& b) { xbase::bytes::putBe32(b.data() + rootOf(b) + 12 + 25 + 4, 0x7FFFFE00); }, kCorruptIndex, "outside the file"},
    {"interior node with too many keys", true, [](Bytes& b) { b[rootOf(b) + 2] = 200; }, kCorruptIndex, "claims"},
    {"node attributes garbage", true, [](Bytes& b) { b[rootOf(b)] = 0x55; }, kCorruptIndex, "attributes"},
    {"leaf sibling loop", true,
     [](Bytes& b) {
         // First leaf's right pointer back to itself.
         const uint32_t leaf = xbase::bytes::be32(b.data() + rootOf(b) + 12 + 25 + 4);
         xbase::bytes::putLe32(b.data() + leaf + 8, leaf);
     },
     kCorruptIndex, "loop"},
    {"two empty leaves pointing at each other", true,
     [](Bytes& b) { loopOfEmptyLeavesAfter(b, xbase::bytes::be32(b.data() + rootOf(b) + 12 + 25 + 4)); }, kCorruptIndex, "loop"},
    {"two empty leaves pointing at each other behind the tag directory", true, [](Bytes& b) { loopOfEmptyLeavesAfter(b, 1024); },
     kCorruptIndex, "loop"},
    {"leaf siblings out of order", true,
     [](Bytes& b) {
         const uint32_t first = xbase::bytes::be32(b.data() + rootOf(b) + 12 + 25 + 4);
         const uint32_t second = xbase::bytes::le32(b.data() + first + 8);
         xbase::bytes::putLe32(b.data() + second + 8, first);
     },
     kCorruptIndex, "order"},
    {"leaf entry layout garbage", true,
     [](Bytes& b) {
         const uint32_t leaf = xbase::bytes::be32(b.data() + rootOf(b) + 12 + 25 + 4);
         b[leaf + 23] = 9;
     },
     kCorruptIndex, "layout"},
    {"leaf key count too large", true,
     [](Bytes& b) {
         const uint32_t leaf = xbase::bytes::be32(b.data() + rootOf(b) + 12 + 25 + 4);
         b[leaf + 2] = 0xFF;
         b[leaf + 3] = 0x7F;
     },
     kCorruptIndex, "claims"},
    {"leaf counts larger than the key", true,
     [](Bytes& b) {
         const uint32_t leaf = xbase::bytes::be32(b.data() + rootOf(b) + 12 + 25 + 4);
         b[leaf + 24 + 2] = 0xFF;   // dup and trail of the first entry all ones
     },
     kCorruptIndex, "inconsistent"},
};

class CorruptInputTest : public ::testing::TestWithParam<Damage> {};

// A file log with enough records for a two-level tree.
std::filesystem::path makeSample(const ScratchDir& dir)
{
    SyncOff fast;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Exclusive, false);
    for (int i = 0; i < 300; ++i) table->appendRecord(fileLogRecord(*table, "FILE_" + std::to_string(1000 + i) + ".xml"));
    return path;
}

void useEverything(const std::filesystem::path& path)
{
    auto table = XbaseTable::open(path, OpenMode::Shared, true);
    std::vector<uint8_t> image(table->recordLength());
    for (uint32_t r = 1; r <= table->recordCount(); ++r) table->readRecord(r, image);
    for (const auto& name : table->tagNames()) {
        auto tag = table->tag(name);
        for (auto r = tag->first(); r; r = tag->next()) {}
        for (auto r = tag->last(); r; r = tag->prev()) {}
        tag->seek("FILE_1030.xml");
    }
}

TEST_P(CorruptInputTest, GivesAClearError)
{
    const Damage& d = GetParam();
    ScratchDir dir;
    const auto path = makeSample(dir);
    const auto target = d.index ? dir / "FILELOG.CDX" : path;
    auto bytes = readFile(target);
    d.apply(bytes);
    writeFile(target, bytes);
    try {
        useEverything(path);
        FAIL() << "no error";
    } catch (const XbaseError& e) {
        EXPECT_EQ(e.code(), d.code) << e.what();
        const std::string message = e.what();
        EXPECT_NE(message.find(target.filename().string()), std::string::npos) << message;
        EXPECT_NE(message.find(d.messagePart), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(Damages, CorruptInputTest, ::testing::ValuesIn(kDamages));

TEST(CorruptInput, MissingTableIsReported)
{
    ScratchDir dir;
    try {
        XbaseTable::open(dir / "NONE.DBF", OpenMode::Shared, false);
        FAIL();
    } catch (const XbaseError& e) {
        EXPECT_EQ(e.code(), kFileNotFound);
    }
}

TEST(CorruptInput, SampleIsValidBeforeDamage)
{
    ScratchDir dir;
    const auto path = makeSample(dir);
    EXPECT_NO_THROW(useEverything(path));
    // The sample really has an interior root with leaves below it.
    const auto cdx = readFile(dir / "FILELOG.CDX");
    EXPECT_EQ(cdx[rootOf(cdx)] & 2, 0);
}

}  // namespace
