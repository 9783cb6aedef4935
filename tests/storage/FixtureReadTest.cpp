// Tables and indexes written by other xBase tools: every key of their
// character tags is found by a hard seek on a record that holds it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "StorageTestSupport.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

std::filesystem::path fixture(const std::string& name)
{
    return std::filesystem::path(QZ_SOURCE_DIR) / "tests/fixtures/xbase" / name;
}

struct TagCase {
    const char* table;
    const char* tag;
    const char* field;   // the field the key is computed from
    bool upper;
    uint32_t keys;       // entries in the tag
    bool byteOrdered;    // built in byte order (seeks reach every key)
};

std::ostream& operator<<(std::ostream& os, const TagCase& c) { return os << c.table << ":" << c.tag; }

const TagCase kTags[] = {
    {"vfp_employees.dbf", "LASTNAME", "LASTNAME", false, 3, true},
    {"vfp_employees.dbf", "EMAILNAME", "EMAILNAME", false, 3, true},
    {"vfp_employees.dbf", "POSTALCODE", "POSTALCODE", false, 3, true},
    {"vfp_employees.dbf", "DEPARTMENT", "DEPARTMENT", false, 3, true},
    {"vfp_mast.dbf", "ABC", "SO_ID", false, 9, true},
    {"vfp_mast.dbf", "CUST_ID", "CUST_ID", true, 9, true},
    {"hb_paises.dbf", "PAISES1", "ISO3166A", false, 273, true},
    {"hb_paises.dbf", "PAISES2", "ISO3166B", false, 273, true},
    {"hb_paises.dbf", "PAISES3", "NOME", false, 273, true},
    {"hb_paises.dbf", "PAISES4", "DDD", false, 273, true},
    {"hb_cepruaimp.dbf", "CEP", "CEP", false, 0, true},
    // Damaged in the source: a stale extra key (10 keys for 9 records).
    {"vfp_mast.dbf", "SO_ID", "SO_ID", true, 10, true},
    // Ordered by a code-page collation, not bytes: seeks may miss keys.
    {"hb_paises.dbf", "PAISES6", "NOMEINT", false, 273, false},
};

class FixtureTagTest : public ::testing::TestWithParam<TagCase> {};

std::string recordKey(const XbaseTable& table, const std::vector<uint8_t>& image, const TagCase& c)
{
    for (const FieldInfo& f : table.fields()) {
        if (f.name != c.field) continue;
        std::string s(reinterpret_cast<const char*>(image.data() + f.offset), f.width);
        if (c.upper)
            for (char& ch : s) ch = char(std::toupper(static_cast<unsigned char>(ch)));
        while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
        return s;
    }
    return "?";
}

TEST_P(FixtureTagTest, EveryKeyIsFoundByHardSeek)
{
    const TagCase& c = GetParam();
    auto table = XbaseTable::open(fixture(c.table), OpenMode::Shared, true);
    auto cursor = table->tag(c.tag);
    std::vector<uint8_t> image(table->recordLength());

    // Walk the tag, remembering the first record of every key.
    std::map<uint32_t, int> seen;
    std::vector<std::pair<std::string, uint32_t>> firstOfKey;
    uint32_t entries = 0;
    std::string previous;
    for (auto r = cursor->first(); r; r = cursor->next()) {
        ++entries;
        ASSERT_GE(*r, 1u);
        ASSERT_LE(*r, table->recordCount());
        table->readRecord(*r, image);
        const std::string key = recordKey(*table, image, c);
        if (firstOfKey.empty() || key != previous) firstOfKey.emplace_back(key, *r);
        previous = key;
        ++seen[*r];
    }
    EXPECT_EQ(entries, c.keys);

    // Backwards gives the same entries.
    uint32_t backwards = 0;
    for (auto r = cursor->last(); r; r = cursor->prev()) ++backwards;
    EXPECT_EQ(backwards, c.keys);

    size_t found = 0;
    for (const auto& [key, recno] : firstOfKey) {
        auto r = cursor->seek(key);
        if (!c.byteOrdered) {
            if (r) ++found;
            continue;
        }
        if (c.keys > table->recordCount() && !r) continue;   // the stale key of a damaged tag
        ASSERT_TRUE(r.has_value()) << "key '" << key << "'";
        table->readRecord(*r, image);
        EXPECT_EQ(recordKey(*table, image, c), key);
        if (c.keys == table->recordCount()) {
            EXPECT_EQ(*r, recno) << "first record of '" << key << "'";
        }
    }
    if (!c.byteOrdered) {
        EXPECT_GT(found, firstOfKey.size() / 2);
    }
    EXPECT_FALSE(cursor->seek("\x7f no such key"));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureTagTest, ::testing::ValuesIn(kTags));

TEST(FixtureTables, HeaderFactsAreRead)
{
    struct Case {
        const char* table;
        uint32_t records;
        size_t fields;
        uint32_t recordLength;
        size_t tags;
    } cases[] = {
        {"vfp_employees.dbf", 3, 16, 0, 5},
        {"vfp_mast.dbf", 9, 3, 38, 3},
        {"hb_paises.dbf", 273, 31, 0, 6},
        {"hb_cepruaimp.dbf", 0, 17, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        auto table = XbaseTable::open(fixture(c.table), OpenMode::Shared, true);
        EXPECT_EQ(table->recordCount(), c.records);
        EXPECT_EQ(table->fields().size(), c.fields);
        if (c.recordLength) {
            EXPECT_EQ(table->recordLength(), c.recordLength);
        }
        EXPECT_EQ(table->tagNames().size(), c.tags);
        EXPECT_TRUE(table->hasIndex());
        EXPECT_EQ(table->indexPageSize(), 512u);
        uint32_t sum = 1;
        for (const FieldInfo& f : table->fields()) {
            EXPECT_EQ(f.offset, sum);
            sum += f.width;
        }
        EXPECT_EQ(sum, table->recordLength());
    }
}

TEST(FixtureTables, SeekOfAStaleKeyInADamagedTagFindsABlankRecord)
{
    // vfp_mast SO_ID holds a key SO005 for record 5, whose SO_ID is blank.
    auto table = XbaseTable::open(fixture("vfp_mast.dbf"), OpenMode::Shared, true);
    auto good = table->tag("ABC");
    auto damaged = table->tag("SO_ID");
    std::vector<uint8_t> image(table->recordLength());
    int stale = 0;
    for (auto r = damaged->first(); r; r = damaged->next()) {
        table->readRecord(*r, image);
        std::string value(reinterpret_cast<const char*>(image.data() + 1), 20);
        while (!value.empty() && value.back() == ' ') value.pop_back();
        if (value.empty()) ++stale;
    }
    EXPECT_GE(stale, 1);
    EXPECT_TRUE(good->first().has_value());
}

TEST(FixtureTables, WritesAreRefusedBeforeAnythingIsWrittenWhenATagCannotBeEvaluated)
{
    // DEPARTMENT uses a database long name; PAISES5 is a numeric key.
    for (const char* name : {"vfp_employees", "hb_paises"}) {
        SCOPED_TRACE(name);
        ScratchDir dir;
        std::filesystem::copy_file(fixture(std::string(name) + ".dbf"), dir / (std::string(name) + ".dbf"));
        std::filesystem::copy_file(fixture(std::string(name) + ".cdx"), dir / (std::string(name) + ".cdx"));
        for (auto& p : std::filesystem::directory_iterator(dir.path()))
            std::filesystem::permissions(p.path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
        const auto dbfBefore = readFile(dir / (std::string(name) + ".dbf"));
        const auto cdxBefore = readFile(dir / (std::string(name) + ".cdx"));
        auto table = XbaseTable::open(dir / (std::string(name) + ".dbf"), OpenMode::Shared, false);
        std::vector<uint8_t> image(table->recordLength());
        table->readRecord(1, image);
        try {
            table->writeRecord(1, image);
            FAIL() << "write accepted";
        } catch (const XbaseError& e) {
            EXPECT_EQ(e.code(), kBadExpression);
        }
        try {
            table->appendRecord(image);
            FAIL() << "append accepted";
        } catch (const XbaseError& e) {
            EXPECT_EQ(e.code(), kBadExpression);
        }
        EXPECT_EQ(readFile(dir / (std::string(name) + ".dbf")), dbfBefore);
        EXPECT_EQ(readFile(dir / (std::string(name) + ".cdx")), cdxBefore);
    }
}

TEST(FixtureTables, WritingAForeignTableKeepsItsTagsValid)
{
    // vfp_mast: a VFP table whose tags are all character expressions.
    ScratchDir dir;
    for (const char* ext : {".dbf", ".cdx"}) {
        std::filesystem::copy_file(fixture(std::string("vfp_mast") + ext), dir / (std::string("vfp_mast") + ext));
        std::filesystem::permissions(dir / (std::string("vfp_mast") + ext), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
    const auto path = dir / "vfp_mast.dbf";
    {
        auto table = XbaseTable::open(path, OpenMode::Shared, false);
        std::vector<uint8_t> image(table->recordLength());
        table->readRecord(2, image);
        const char* newId = "SO999";
        for (size_t i = 0; i < 20; ++i) image[1 + i] = i < 5 ? uint8_t(newId[i]) : ' ';
        table->writeRecord(2, image);
        for (int i = 0; i < 40; ++i) {
            std::string id = "NEW" + std::to_string(100 + i);
            for (size_t k = 0; k < 20; ++k) image[1 + k] = k < id.size() ? uint8_t(id[k]) : ' ';
            for (size_t k = 0; k < 10; ++k) image[21 + k] = k < 4 ? uint8_t("cust"[k]) : ' ';
            table->appendRecord(image);
        }
        auto abc = table->tag("ABC");
        EXPECT_EQ(abc->seek("SO999"), 2u);
        EXPECT_EQ(table->tag("CUST_ID")->seek("CUST"), 10u);
        EXPECT_EQ(table->recordCount(), 49u);
    }
    for (const char* tag : {"ABC", "CUST_ID"}) {
        auto r = xbaseDump(path, tag);
        EXPECT_EQ(r.exitCode, 0) << tag << "\n" << r.output;
    }
    // The VFP header layout (backlink) is kept.
    const auto bytes = readFile(path);
    EXPECT_EQ(bytes[0], 0x30);
    EXPECT_EQ(bytes[8] | (bytes[9] << 8), 32 + 3 * 32 + 1 + 263);
    EXPECT_EQ(bytes.back(), 0x1A);
}

}  // namespace

namespace {

TEST(FixtureTables, AppendingToAHarbourTableKeepsItsIndexReadable)
{
    ScratchDir dir;
    for (const char* ext : {".dbf", ".cdx"}) {
        const auto target = dir / (std::string("hb_cepruaimp") + ext);
        std::filesystem::copy_file(fixture(std::string("hb_cepruaimp") + ext), target);
        std::filesystem::permissions(target, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    }
    const auto path = dir / "hb_cepruaimp.dbf";
    const auto before = readFile(dir / "hb_cepruaimp.cdx");
    {
        auto table = XbaseTable::open(path, OpenMode::Shared, false);
        for (const char* cep : {"01310100", "20040002", "01001000", "99999999"}) {
            auto image = table->blankRecord();
            std::copy(cep, cep + 8, image.begin() + 1);
            table->appendRecord(image);
        }
        EXPECT_EQ(table->tag("CEP")->seek("01001000"), 3u);
    }
    auto r = xbaseDump(path, "CEP");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    // The writer's own header marks stay; only the change counter moved.
    const auto after = readFile(dir / "hb_cepruaimp.cdx");
    EXPECT_TRUE(std::equal(before.begin() + 12, before.begin() + 1024, after.begin() + 12));
    EXPECT_EQ(std::string(after.begin() + 20, after.begin() + 24), "RCHB");
    EXPECT_NE(std::vector<uint8_t>(before.begin() + 8, before.begin() + 12), std::vector<uint8_t>(after.begin() + 8, after.begin() + 12));
}

}  // namespace
