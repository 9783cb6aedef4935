// Another xBase program writing beside us, the way such programs do it:
// straight into the files, holding the classic locks, but without bumping
// the index's change counter (many tools leave it at 0). Nothing this
// engine kept from earlier calls may hide its change.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "StorageTestSupport.h"
#include "data/storage/Bytes.h"
#include "data/storage/CdxHeader.h"
#include "data/storage/CdxTree.h"
#include "data/storage/OsFile.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

constexpr off_t kLockOffset = 0x7FFFFFFE;

std::string name(int i)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "F%05d.xml", i);
    return buf;
}

std::string padded(std::string s, size_t width = 25)
{
    s.resize(width, ' ');
    return s;
}

// A classic (process-owned) POSIX write lock on one byte, waited for.
void classicLock(int fd, off_t offset, short type)
{
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = offset;
    fl.l_len = 1;
    if (::fcntl(fd, F_SETLKW, &fl) != 0) throw std::runtime_error("lock failed");
}

uint32_t tagHeaderOffset(const OsFile& cdx, const std::string& tag)
{
    CdxHeader dir;
    cdx.readExact(0, dir.raw, kCorruptIndex, "header");
    FilePageStore store(cdx);
    CdxTree directory(store, CdxKeyFormat{10, 0x20}, dir.root());
    for (auto pos = directory.first(); pos; ) {
        if (pos->entry().key == padded(tag, 10)) return pos->entry().recno;
        if (!directory.next(*pos)) break;
    }
    throw std::runtime_error("no tag " + tag);
}

// In another process: appends a record named `fileName` to the table and
// puts its key into the leaf where it belongs, as another program would,
// leaving the index header (change counter included) untouched. The key
// must fit in its leaf and not be the leaf's greatest.
int foreignAppend(const std::filesystem::path& dbfPath, const std::string& fileName)
{
    return inChild([&] {
        auto cdxPath = dbfPath;
        cdxPath.replace_extension(".CDX");
        OsFile dbf = OsFile::open(dbfPath, true, kFileNotFound);
        OsFile cdx = OsFile::open(cdxPath, true, kFileNotFound);
        const int dfd = ::open(dbfPath.c_str(), O_RDWR), cfd = ::open(cdxPath.c_str(), O_RDWR);
        classicLock(dfd, kLockOffset, F_WRLCK);
        classicLock(cfd, kLockOffset, F_WRLCK);
        const uint32_t before = [&] {
            CdxHeader h;
            cdx.readExact(0, h.raw, kCorruptIndex, "header");
            return h.changeCounter();
        }();

        uint8_t head[12];
        dbf.readExact(0, head, kCorruptTable, "header");
        const uint32_t count = bytes::le32(head + 4);
        const uint16_t headerLength = bytes::le16(head + 8), recordLength = bytes::le16(head + 10);
        std::vector<uint8_t> record(recordLength, ' ');
        const std::string text = " 20240315" + padded(fileName) + "20240314YES";
        std::copy(text.begin(), text.end(), record.begin());
        record.push_back(0x1A);
        dbf.writeAt(headerLength + uint64_t(count) * recordLength, record);
        uint8_t newCount[4];
        bytes::putLe32(newCount, count + 1);
        dbf.writeAt(4, newCount);

        CdxHeader tag;
        cdx.readExact(tagHeaderOffset(cdx, "FILENAME"), tag.raw, kCorruptIndex, "tag header");
        const CdxKeyFormat format{25, 0x20};
        FilePageStore store(cdx);
        CdxTree tree(store, format, tag.root());
        auto at = tree.lowerBound(padded(fileName), 0);
        if (!at || at->index == 0) return 10;   // the test wants a key inside a leaf
        CdxNode leaf = at->node;
        leaf.entries.insert(leaf.entries.begin() + std::ptrdiff_t(at->index), CdxEntry{padded(fileName), count + 1, 0});
        auto page = encodeNode(leaf, format);
        if (!page) return 11;
        cdx.writeAt(at->leaf, *page);

        CdxHeader after;
        cdx.readExact(0, after.raw, kCorruptIndex, "header");
        return after.changeCounter() == before ? 0 : 12;
    });
}

}  // namespace

TEST(ForeignWriter, KeysAddedWithoutBumpingTheCounterAreSeenAndKept)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    // Enough keys for a tree of two levels, so interior pages and leaves
    // have both been read (and could be kept) before the other writer comes.
    const int n = 400;
    for (int i = 0; i < n; ++i) table->appendRecord(fileLogRecord(*table, name(i * 10)));
    auto tag = table->tag("FILENAME");
    auto walker = table->tag("FILENAME");
    for (int i = 0; i < n; i += 7) ASSERT_EQ(tag->seek(name(i * 10)), uint32_t(i + 1));
    ASSERT_EQ(walker->seek(name(2000)), 201u);

    ASSERT_EQ(foreignAppend(path, name(2001)), 0);
    // A seek finds the other program's key, a cursor standing just before it steps onto it.
    EXPECT_EQ(tag->seek(name(2001)), uint32_t(n + 1));
    EXPECT_EQ(walker->next(), uint32_t(n + 1));
    EXPECT_EQ(walker->next(), 202u);

    // Our next update lands in the same leaf and keeps the other key.
    ASSERT_EQ(foreignAppend(path, name(2003)), 0);
    EXPECT_EQ(table->appendRecord(fileLogRecord(*table, name(2002))), uint32_t(n + 3));
    EXPECT_EQ(tag->seek(name(2001)), uint32_t(n + 1));
    EXPECT_EQ(tag->seek(name(2002)), uint32_t(n + 3));
    EXPECT_EQ(tag->seek(name(2003)), uint32_t(n + 2));
    table.reset();
    tag.reset();
    walker.reset();
    auto dump = xbaseDump(path, "FILENAME");
    EXPECT_EQ(dump.exitCode, 0) << dump.output.substr(0, 2000);
}
