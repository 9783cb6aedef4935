// Tables written by the engine, checked by independent readers (Perl XBase
// through xbase-dump, and Python's dbf module) and against a sorted model.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "StorageTestSupport.h"
#include "data/storage/Journal.h"
#include "data/storage/PageStore.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

std::string fileName(int i)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "ABC_%08d.xml", i);
    return buf;
}

TEST(CreateTable, EmptyTableMatchesTheDocumentedLayout)
{
    struct Case {
        uint8_t version;
        uint16_t headerLength;
    } cases[] = {{0x03, 161}, {0x30, 161 + 263}, {0x83, 161}, {0xF5, 161}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.version));
        ScratchDir dir;
        const auto path = dir / "FILELOG.DBF";
        XbaseTable::create(path, fileLogFields(), c.version);
        const auto bytes = readFile(path);
        ASSERT_EQ(bytes.size(), size_t(c.headerLength) + 1);
        EXPECT_EQ(bytes[0], c.version);
        EXPECT_EQ(bytes[8] | (bytes[9] << 8), c.headerLength);
        EXPECT_EQ(bytes[10] | (bytes[11] << 8), 45);
        EXPECT_EQ(bytes[160], 0x0D);
        EXPECT_EQ(bytes.back(), 0x1A);
        auto r = xbaseDump(path);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_THROW(XbaseTable::create(path, fileLogFields(), c.version), XbaseError);
    }
}

TEST(CreateTable, CreateTagMakesTheIndexAndSetsTheHeaderFlag)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    EXPECT_TRUE(std::filesystem::exists(dir / "FILELOG.CDX"));
    const auto bytes = readFile(path);
    EXPECT_EQ(bytes[28] & 0x01, 0x01);
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    EXPECT_EQ(table->tagNames(), std::vector<std::string>{"FILENAME"});
    EXPECT_FALSE(table->tag("filename")->first().has_value());
    auto r = xbaseDump(path, "FILENAME");
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

TEST(CreateTable, IndexIsFoundWhateverTheLetterCase)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    std::filesystem::rename(dir / "FILELOG.CDX", dir / "FileLog.CDX");
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    ASSERT_TRUE(table->hasIndex());
    table->appendRecord(fileLogRecord(*table, "A.xml"));
    EXPECT_EQ(table->tag("FILENAME")->seek("A.xml"), 1u);
}

// Appends enough records for a three-level tree, in shuffled order, then
// checks the result with both independent readers.
TEST(WriteTable, AppendsAreReadByIndependentReaders)
{
    SyncOff fast;
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    const int n = 6000;
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i) order[size_t(i)] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    {
        auto table = XbaseTable::open(path, OpenMode::Exclusive, false);
        for (int i : order) table->appendRecord(fileLogRecord(*table, fileName(i)));
        EXPECT_EQ(table->recordCount(), uint32_t(n));
        auto tag = table->tag("FILENAME");
        for (int i : {0, 1, 2999, 5999}) {
            auto r = tag->seek(fileName(i));
            ASSERT_TRUE(r);
            EXPECT_EQ(*r, uint32_t(std::find(order.begin(), order.end(), i) - order.begin()) + 1);
        }
        // A hard seek reads one page per level.
        const uint64_t before = indexPageReads();
        tag->seek(fileName(4321));
        EXPECT_LE(indexPageReads() - before, 4u);
    }
    const auto bytes = readFile(path);
    EXPECT_EQ(bytes.size(), 161u + 45u * n + 1);
    EXPECT_EQ(bytes.back(), 0x1A);
    EXPECT_EQ(bytes[4] | (bytes[5] << 8) | (bytes[6] << 16), n);
    auto dump = xbaseDump(path, "FILENAME");
    EXPECT_EQ(dump.exitCode, 0) << dump.output.substr(0, 2000);
    auto py = run("/usr/bin/python3 -c \"import dbf,sys; t=dbf.Table(sys.argv[1]); t.open(); "
                  "print(len(t)); print(t[0].filename.strip()); print(t[len(t)-1].copied.strip())\" " + quote(path));
    EXPECT_EQ(py.exitCode, 0) << py.output;
    EXPECT_EQ(py.output, std::to_string(n) + "\n" + fileName(order[0]) + "\nYES\n");
}

TEST(WriteTable, CreateTagOverExistingRecordsAndExpressionsOfSeveralFields)
{
    struct Case {
        const char* tag;
        const char* expression;
        bool unique;
        std::vector<std::string> expectedFirstKeys;
    } cases[] = {
        {"COPIED", "copied", false, {"NO ", "NO "}},
        {"UPNAME", "UPPER(FileName)", false, {"A.XML", "B.XML"}},
        {"COMBO", "COPIED+FILENAME", false, {"NO a.xml", "NO b.xml"}},
        {"UCOPIED", "COPIED", true, {"NO ", "YES"}},
    };
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Exclusive, false);
    table->appendRecord(fileLogRecord(*table, "b.xml", "20240101", "NO"));
    table->appendRecord(fileLogRecord(*table, "a.xml", "20240101", "NO"));
    table->appendRecord(fileLogRecord(*table, "c.xml", "20240101", "YES"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        table->createTag(c.tag, c.expression, c.unique, false);
        auto cursor = table->tag(c.tag);
        std::vector<std::string> keys;
        std::vector<uint8_t> image(table->recordLength());
        for (auto r = cursor->first(); r && keys.size() < 2; r = cursor->next()) {
            table->readRecord(*r, image);
            std::string copied(reinterpret_cast<const char*>(image.data() + 42), 3);
            std::string name = fieldText(*table, image, "FILENAME");
            if (std::string(c.tag) == "UPNAME") {
                for (char& ch : name) ch = char(std::toupper(static_cast<unsigned char>(ch)));
                keys.push_back(name);
            } else if (std::string(c.tag) == "COMBO") {
                keys.push_back(copied + name);
            } else {
                keys.push_back(copied);
            }
        }
        EXPECT_EQ(keys, c.expectedFirstKeys);
    }
    // Every tag (old and new) is kept up to date by later writes.
    table->appendRecord(fileLogRecord(*table, "0.xml", "20240101", "AAA"));
    EXPECT_EQ(table->tag("FILENAME")->seek("0.xml"), 4u);
    EXPECT_EQ(table->tag("COMBO")->seek("AAA0.xml"), 4u);
    EXPECT_EQ(table->tagNames().size(), 5u);
    table.reset();
    for (const char* tag : {"FILENAME", "COPIED", "UPNAME", "COMBO", "UCOPIED"}) {
        auto r = xbaseDump(path, tag);
        EXPECT_EQ(r.exitCode, 0) << tag << "\n" << r.output;
    }
}

TEST(WriteTable, BadTagDefinitionsAreRefused)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Exclusive, false);
    struct Case {
        const char* name;
        const char* expression;
        bool descending;
    } cases[] = {{"X", "NOSUCHFIELD", false}, {"X", "DATE", false}, {"TOOLONGNAME1", "FILENAME", false},
                 {"X", "FILENAME", true}, {"X", "SUBSTR(FILENAME,1,3)", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expression);
        try {
            table->createTag(c.name, c.expression, false, c.descending);
            FAIL() << "accepted";
        } catch (const XbaseError& e) {
            EXPECT_EQ(e.code(), kBadExpression);
        }
    }
    EXPECT_THROW(table->tag("NOPE"), XbaseError);
}

TEST(WriteTable, ReadOnlyTablesRefuseWrites)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Shared, true);
    try {
        table->appendRecord(table->blankRecord());
        FAIL();
    } catch (const XbaseError& e) {
        EXPECT_EQ(e.code(), kReadOnly);
    }
    EXPECT_THROW(table->writeRecord(0, table->blankRecord()), XbaseError);
}

// Random appends and key changes compared with a sorted model.
TEST(WriteTable, RandomUpdatesMatchASortedModel)
{
    SyncOff fast;
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    std::mt19937 rng(12345);
    std::vector<std::string> values;   // by record number - 1
    auto randomName = [&] {
        // Few distinct prefixes so that keys repeat and share prefixes.
        std::string s = "F" + std::to_string(rng() % 7) + "_" + std::to_string(rng() % 400);
        if (rng() % 10 == 0) s.clear();
        if (rng() % 20 == 0) s = std::string(25, 'Z');
        return s;
    };
    {
        auto table = XbaseTable::open(path, OpenMode::Shared, false);
        for (int step = 0; step < 3000; ++step) {
            if (values.empty() || rng() % 3 == 0) {
                values.push_back(randomName());
                EXPECT_EQ(table->appendRecord(fileLogRecord(*table, values.back())), values.size());
            } else {
                const uint32_t recno = uint32_t(rng() % values.size()) + 1;
                values[recno - 1] = randomName();
                table->writeRecord(recno, fileLogRecord(*table, values[recno - 1]));
            }
        }
        std::vector<std::pair<std::string, uint32_t>> model;
        for (size_t i = 0; i < values.size(); ++i) {
            std::string key = values[i];
            key.resize(25, ' ');
            model.emplace_back(key, uint32_t(i + 1));
        }
        std::sort(model.begin(), model.end());
        auto cursor = table->tag("FILENAME");
        size_t at = 0;
        std::vector<uint8_t> image(table->recordLength());
        for (auto r = cursor->first(); r; r = cursor->next(), ++at) {
            ASSERT_LT(at, model.size());
            ASSERT_EQ(*r, model[at].second) << "position " << at;
        }
        EXPECT_EQ(at, model.size());
        at = model.size();
        for (auto r = cursor->last(); r; r = cursor->prev()) ASSERT_EQ(*r, model[--at].second);
        EXPECT_EQ(at, 0u);
        std::set<std::string> seen;
        for (const auto& [key, recno] : model) {
            if (!seen.insert(key).second) continue;
            std::string trimmed = key;
            while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
            EXPECT_EQ(cursor->seek(trimmed), recno) << "'" << trimmed << "'";
        }
    }
    auto r = xbaseDump(path, "FILENAME");
    EXPECT_EQ(r.exitCode, 0) << r.output.substr(0, 2000);
}

// A cursor keeps its place while the same table is written through it.
TEST(WriteTable, CursorSeesWritesMadeAfterItWasPositioned)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto writer = XbaseTable::open(path, OpenMode::Shared, false);
    auto reader = XbaseTable::open(path, OpenMode::Shared, true);
    for (int i = 0; i < 10; ++i) writer->appendRecord(fileLogRecord(*writer, fileName(i * 2)));
    auto cursor = reader->tag("FILENAME");
    EXPECT_EQ(cursor->seek(fileName(4)), 3u);
    writer->appendRecord(fileLogRecord(*writer, fileName(5)));   // lands right after the cursor
    EXPECT_EQ(cursor->next(), 11u);
    EXPECT_EQ(reader->recordCount(), 11u);
    writer->writeRecord(4, fileLogRecord(*writer, "zzz"));       // fileName(6) moves to the end
    EXPECT_EQ(cursor->next(), 5u);
    EXPECT_EQ(cursor->seek("zzz"), 4u);
}

TEST(WriteTable, SeekCompareRulesForShortAndLongKeys)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    table->appendRecord(fileLogRecord(*table, "ABC"));
    table->appendRecord(fileLogRecord(*table, "ABCD"));
    auto tag = table->tag("FILENAME");
    struct Case {
        std::string key;
        std::optional<uint32_t> expected;
    } cases[] = {{"ABC", 1u}, {"ABC   ", 1u}, {"ABCD", 2u}, {"AB", std::nullopt}, {"abc", std::nullopt},
                 {"ABC" + std::string(40, ' '), 1u}, {std::string(25, 'A') + "X", std::nullopt}, {"", std::nullopt}};
    for (const Case& c : cases) EXPECT_EQ(tag->seek(c.key), c.expected) << "'" << c.key << "'";
}

}  // namespace

namespace {

// A unique tag holds the first record of every key, also after key changes.
TEST(WriteTable, UniqueTagKeepsTheFirstRecordOfEveryKey)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    auto table = XbaseTable::open(path, OpenMode::Exclusive, false);
    for (const char* copied : {"NO", "NO", "YES", "NO"}) table->appendRecord(fileLogRecord(*table, "f", "20240101", copied));
    table->createTag("UCOPIED", "COPIED", true, false);
    struct Step {
        uint32_t recno;
        const char* copied;
        std::vector<std::pair<std::string, uint32_t>> expected;
    } steps[] = {
        {1, "YES", {{"NO ", 2}, {"YES", 1}}},
        {2, "MAY", {{"MAY", 2}, {"NO ", 4}, {"YES", 1}}},
        {4, "MAY", {{"MAY", 2}, {"YES", 1}}},
        {3, "NO", {{"MAY", 2}, {"NO ", 3}, {"YES", 1}}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.recno);
        table->writeRecord(step.recno, fileLogRecord(*table, "f", "20240101", step.copied));
        auto tag = table->tag("UCOPIED");
        std::vector<std::pair<std::string, uint32_t>> walk;
        std::vector<uint8_t> image(table->recordLength());
        for (auto r = tag->first(); r; r = tag->next()) {
            table->readRecord(*r, image);
            walk.emplace_back(std::string(reinterpret_cast<const char*>(image.data() + 42), 3), *r);
        }
        EXPECT_EQ(walk, step.expected);
    }
    table.reset();
    auto r = xbaseDump(path, "UCOPIED");
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

}  // namespace

namespace {

// Each handle keeps the index pages it read while the change counter stays
// put; a write through the other handle must make it read afresh, also
// across root splits and when only a leaf in the middle changes.
TEST(WriteTable, TwoWritersSharingATableAlwaysSeeEachOthersWrites)
{
    SyncOff fast;
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    std::unique_ptr<XbaseTable> tables[2] = {XbaseTable::open(path, OpenMode::Shared, false),
                                             XbaseTable::open(path, OpenMode::Shared, false)};
    std::unique_ptr<TagCursor> cursors[2] = {tables[0]->tag("FILENAME"), tables[1]->tag("FILENAME")};
    std::mt19937 rng(777);
    std::vector<std::string> values;   // by record number - 1
    std::map<std::string, uint32_t> firstHolder;
    auto rebuildModel = [&] {
        firstHolder.clear();
        for (size_t i = 0; i < values.size(); ++i) firstHolder.emplace(values[i], uint32_t(i + 1));
    };
    auto expectSeek = [&](int who, const std::string& key) {
        auto it = firstHolder.find(key);
        const std::optional<uint32_t> expected = it == firstHolder.end() ? std::nullopt : std::optional<uint32_t>(it->second);
        ASSERT_EQ(cursors[who]->seek(key), expected) << "handle " << who << " key " << key;
    };
    for (int step = 0; step < 2500; ++step) {
        const int writer = int(rng() % 2), reader = 1 - writer;
        // Warm the reader's pages before the other handle writes.
        if (!values.empty()) expectSeek(reader, values[rng() % values.size()]);
        std::string changed, previous;
        if (values.empty() || rng() % 3 != 0) {
            changed = fileName(int(rng() % 100000));
            values.push_back(changed);
            ASSERT_EQ(tables[writer]->appendRecord(fileLogRecord(*tables[writer], changed)), values.size());
        } else {
            const uint32_t recno = uint32_t(rng() % values.size()) + 1;
            previous = values[recno - 1];
            changed = fileName(int(rng() % 100000));
            values[recno - 1] = changed;
            tables[writer]->lockRecord(recno);
            tables[writer]->writeRecord(recno, fileLogRecord(*tables[writer], changed));
            tables[writer]->unlockRecord(recno);
        }
        rebuildModel();
        expectSeek(reader, changed);
        if (!previous.empty()) expectSeek(reader, previous);
        ASSERT_EQ(tables[reader]->recordCount(), values.size());
    }
    for (int who : {0, 1}) {
        size_t seen = 0;
        for (auto r = cursors[who]->first(); r; r = cursors[who]->next()) ++seen;
        EXPECT_EQ(seen, values.size()) << "handle " << who;
    }
    EXPECT_EQ(xbaseDump(path, "FILENAME").exitCode, 0);
}

// The journal's checksum is the usual CRC-32 (as zlib computes it).
TEST(Journal, ChecksumIsTheStandardCrc32)
{
    std::vector<uint8_t> pattern(1000);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = uint8_t(i * 7 + 3);
    const std::string digits = "123456789";
    struct Case {
        const uint8_t* data;
        size_t length;
        uint32_t expected;
    } cases[] = {{nullptr, 0, 0},
                 {reinterpret_cast<const uint8_t*>(digits.data()), digits.size(), 0xCBF43926u},
                 {pattern.data(), 13, 0xA97AD5C1u},
                 {pattern.data(), pattern.size(), 0x17BC2A46u}};
    for (const Case& c : cases) EXPECT_EQ(crc32(c.data, c.length), c.expected) << c.length << " bytes";
    // Continuing a checksum over a split buffer gives the same result.
    EXPECT_EQ(crc32(pattern.data() + 501, 499, crc32(pattern.data(), 501)), 0x17BC2A46u);
}

}  // namespace
