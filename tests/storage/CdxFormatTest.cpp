// The index bytes the engine writes, against the worked example of the
// format notes (three file-log records, one FILENAME tag).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "StorageTestSupport.h"
#include "data/storage/CdxHeader.h"
#include "data/storage/CdxNode.h"
#include "data/storage/CdxTree.h"
#include "data/storage/OsFile.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

std::string key25(const std::string& s)
{
    std::string k = s;
    k.resize(25, ' ');
    return k;
}

std::vector<uint8_t> hex(const std::string& text)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size(); i += 3) out.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

bool bytesAt(const std::vector<uint8_t>& file, size_t offset, const std::vector<uint8_t>& expected)
{
    return offset + expected.size() <= file.size() && std::equal(expected.begin(), expected.end(), file.begin() + std::ptrdiff_t(offset));
}

const char* kLeafHeader = "03 00 03 00 ff ff ff ff ff ff ff ff c5 01 ff 3f 00 00 1f 1f 0e 05 05 03 02 00 48 01 c0 4a 03 c0 4a ";

TEST(CdxFormat, LeafEncodingMatchesTheWorkedExample)
{
    CdxNode leaf;
    leaf.attributes = 3;
    leaf.entries = {{key25("ABC_20240314.xml"), 2, 0}, {key25("ABC_20240315.xml"), 1, 0}, {key25("ABC_20240316.xml"), 3, 0}};
    const CdxKeyFormat format{25, ' '};
    auto page = encodeNode(leaf, format);
    ASSERT_TRUE(page);
    const std::vector<uint8_t> bytes(page->begin(), page->end());
    EXPECT_TRUE(bytesAt(bytes, 0, hex(kLeafHeader)));
    const std::string tail = "6.xml5.xmlABC_20240314.xml";
    EXPECT_EQ(std::string(bytes.end() - std::ptrdiff_t(tail.size()), bytes.end()), tail);
    // And back.
    CdxNode decoded = decodeNode(*page, format, "test", 2560);
    ASSERT_EQ(decoded.entries.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(decoded.entries[i].key, leaf.entries[i].key);
        EXPECT_EQ(decoded.entries[i].recno, leaf.entries[i].recno);
    }
}

TEST(CdxFormat, NodesRoundTripAcrossKeyShapes)
{
    struct Case {
        uint16_t keyLength;
        std::vector<std::pair<std::string, uint32_t>> entries;
    } cases[] = {
        {8, {{"        ", 1}, {"        ", 2}, {"A       ", 70000}, {"AAAAAAAA", 3}}},
        {10, {{"FILENAME  ", 1536}}},
        {25, {{key25(""), 1}, {key25("x"), 4000000}}},
        {240, {{std::string(240, 'a'), 1}, {std::string(239, 'a') + "b", 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyLength);
        for (uint16_t attributes : {uint16_t(2), uint16_t(0)}) {
            CdxNode node;
            node.attributes = attributes;
            node.left = 512 * 7;
            for (const auto& [key, recno] : c.entries) node.entries.push_back({key, recno, 1024});
            const CdxKeyFormat format{c.keyLength, ' '};
            auto page = encodeNode(node, format);
            ASSERT_TRUE(page);
            CdxNode back = decodeNode(*page, format, "test", 4096);
            EXPECT_EQ(back.attributes, attributes);
            EXPECT_EQ(back.left, 512u * 7);
            EXPECT_EQ(back.right, kNoPage);
            ASSERT_EQ(back.entries.size(), node.entries.size());
            for (size_t i = 0; i < node.entries.size(); ++i) {
                EXPECT_EQ(back.entries[i].key, node.entries[i].key);
                EXPECT_EQ(back.entries[i].recno, node.entries[i].recno);
                if (attributes == 0) {
                    EXPECT_EQ(back.entries[i].child, 1024u);
                }
            }
        }
    }
}

TEST(CdxFormat, EngineWritesTheWorkedExampleFile)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    {
        auto table = XbaseTable::open(path, OpenMode::Exclusive, false);
        table->appendRecord(fileLogRecord(*table, "ABC_20240315.xml"));
        table->appendRecord(fileLogRecord(*table, "ABC_20240314.xml"));
        table->appendRecord(fileLogRecord(*table, "ABC_20240316.xml"));
    }
    const auto dbf = readFile(path);
    EXPECT_TRUE(bytesAt(dbf, 4, hex("03 00 00 00 a1 00 2d 00 ")));
    EXPECT_EQ(dbf[28], 0x01);
    EXPECT_TRUE(bytesAt(dbf, 32, hex("44 41 54 45 00 00 00 00 00 00 00 44 01 00 00 00 08 ")));
    EXPECT_TRUE(bytesAt(dbf, 64, hex("46 49 4c 45 4e 41 4d 45 00 00 00 43 09 00 00 00 19 ")));
    EXPECT_EQ(dbf[160], 0x0D);
    EXPECT_EQ(dbf.size(), 297u);
    EXPECT_EQ(dbf[296], 0x1A);

    const auto cdx = readFile(dir / "FILELOG.CDX");
    ASSERT_GE(cdx.size(), 3072u);
    // Directory header: root 1024, key length 10, options 0xE0, signature 1.
    EXPECT_TRUE(bytesAt(cdx, 0, hex("00 04 00 00 00 00 00 00 ")));
    EXPECT_TRUE(bytesAt(cdx, 12, hex("0a 00 e0 01 ")));
    EXPECT_TRUE(bytesAt(cdx, 502, hex("00 00 01 00 01 00 00 00 01 00 ")));
    // Directory leaf: one entry 0x200600 for the tag header at 1536.
    EXPECT_TRUE(bytesAt(cdx, 1024, hex("03 00 01 00 ff ff ff ff ff ff ff ff dd 01 ff ff 00 00 0f 0f 10 04 04 03 00 06 20 ")));
    EXPECT_EQ(std::string(cdx.begin() + 1024 + 504, cdx.begin() + 1024 + 512), "FILENAME");
    // Tag header: key length 25, options 0x60, expression FILENAME.
    EXPECT_TRUE(bytesAt(cdx, 1536 + 12, hex("19 00 60 01 ")));
    EXPECT_TRUE(bytesAt(cdx, 1536 + 502, hex("00 00 09 00 01 00 00 00 09 00 ")));
    EXPECT_EQ(std::string(cdx.begin() + 1536 + 512, cdx.begin() + 1536 + 521), std::string("FILENAME\0", 9));
    // The tag's root leaf, wherever the updates placed it, holds the example's bytes.
    const uint32_t root = cdx[1536] | (cdx[1537] << 8) | (cdx[1538] << 16) | (uint32_t(cdx[1539]) << 24);
    EXPECT_TRUE(bytesAt(cdx, root, hex(kLeafHeader)));
    auto r = xbaseDump(path, "FILENAME");
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

// The depth of a tag's tree, read from the file.
int treeLevels(const std::filesystem::path& cdxPath, const std::string& tag, uint16_t keyLength)
{
    OsFile cdx = OsFile::open(cdxPath, false, kFileNotFound);
    CdxHeader dir;
    cdx.readExact(0, dir.raw, kCorruptIndex, "header");
    FilePageStore store(cdx);
    CdxTree directory(store, CdxKeyFormat{10, 0x20}, dir.root());
    uint32_t headerOffset = 0;
    for (auto pos = directory.first(); pos;) {
        if (pos->entry().key.rfind(tag, 0) == 0) headerOffset = pos->entry().recno;
        if (!directory.next(*pos)) break;
    }
    CdxHeader header;
    cdx.readExact(headerOffset, header.raw, kCorruptIndex, "tag header");
    int levels = 1;
    for (uint32_t offset = header.root();; ++levels) {
        const CdxNode node = decodeNode(store.readPage(offset), CdxKeyFormat{keyLength, 0x20}, "index", offset);
        if (node.isLeaf()) return levels;
        offset = node.entries.front().child;
    }
}

}  // namespace

// Tags built in bulk over many records: several tree levels, runs of equal
// keys longer than a leaf, blank keys, keys filling the whole width, keys
// differing only past the sixteenth byte, bytes below the blank; a unique
// tag and an UPPER() tag; tags already there copied when another is added.
TEST(CdxFormat, BulkBuiltTagsAreReadByEveryReader)
{
    SyncOff fast;
    ScratchDir dir;
    const auto path = dir / "FILELOG.DBF";
    XbaseTable::create(path, fileLogFields());
    const int n = 8000;
    std::vector<std::string> names;
    std::mt19937 rng(11);
    for (int i = 0; i < n; ++i) {
        char buf[32];
        if (i % 9 == 0) names.push_back("");                                          // blank
        else if (i % 7 == 0) names.push_back("same.xml");                             // long run of one key
        else if (i % 5 == 0) names.push_back("dup_" + std::to_string(i % 13));        // short runs
        else if (i % 11 == 0) names.push_back(std::string(25, char('A' + i % 26)));   // full width
        else if (i % 13 == 0) {
            std::snprintf(buf, sizeof buf, "PMS_EXPORT_2024_%06d\x01", i);            // tail past 16 bytes
            names.push_back(buf);
        } else {
            std::snprintf(buf, sizeof buf, "%s%06u.xml", i % 2 ? "f" : "F", unsigned(rng() % 1000000));
            names.push_back(buf);
        }
    }
    {
        auto table = XbaseTable::open(path, OpenMode::Exclusive, false);
        for (const auto& name : names) table->appendRecord(fileLogRecord(*table, name));
        table->createTag("FILENAME", "FILENAME", false, false);
        table->createTag("UNIQ", "FILENAME", true, false);
        table->createTag("UPNAME", "UPPER(FILENAME)", false, false);
    }
    for (const char* tag : {"FILENAME", "UNIQ", "UPNAME"}) {
        auto r = xbaseDump(path, tag);
        EXPECT_EQ(r.exitCode, 0) << tag << ": " << r.output.substr(r.output.size() > 3000 ? r.output.size() - 3000 : 0);
    }
    EXPECT_GE(treeLevels(dir / "FILELOG.CDX", "FILENAME", 25), 3);

    // Our own cursor walks the same order, and every key is found by a hard seek.
    std::vector<std::pair<std::string, uint32_t>> expected;
    for (int i = 0; i < n; ++i) expected.emplace_back(key25(names[size_t(i)]), uint32_t(i + 1));
    std::sort(expected.begin(), expected.end());
    auto table = XbaseTable::open(path, OpenMode::Shared, true);
    auto tag = table->tag("FILENAME");
    std::vector<uint32_t> walked;
    for (auto r = tag->first(); r; r = tag->next()) walked.push_back(*r);
    ASSERT_EQ(walked.size(), expected.size());
    for (size_t i = 0; i < walked.size(); ++i) ASSERT_EQ(walked[i], expected[i].second) << "position " << i;
    std::vector<uint32_t> backwards;
    for (auto r = tag->last(); r; r = tag->prev()) backwards.push_back(*r);
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_EQ(backwards, walked);
    auto unique = table->tag("UNIQ");
    size_t distinct = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (i > 0 && expected[i].first == expected[i - 1].first) continue;
        ++distinct;
        ASSERT_EQ(tag->seek(expected[i].first), expected[i].second) << expected[i].first;
        ASSERT_EQ(unique->seek(expected[i].first), expected[i].second) << expected[i].first;
    }
    size_t uniqueKeys = 0;
    for (auto r = unique->first(); r; r = unique->next()) ++uniqueKeys;
    EXPECT_EQ(uniqueKeys, distinct);
}
