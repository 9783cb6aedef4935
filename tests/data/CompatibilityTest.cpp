// What the table layer writes is read back identically by two independent
// readers (python3-dbf and Perl XBase), and what other tools wrote opens and
// seeks through the table layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "data/local/LocalTables.h"
#include "data/table/DbfKeyExpression.h"
#include "data/values/TextCase.h"
#include "tests/data/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Quote;
using testsupport::RunCommand;

std::string PythonDump(const fs::path& dbf) {
    const auto r = RunCommand("/usr/bin/python3 " + Quote(testsupport::SourceDir() + "/tests/data/dbf_read.py") + " " +
                       Quote(dbf.string()));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.output;
}

// The record lines of xbase-dump: deletion mark and values, tab-separated.
std::string PerlDump(const fs::path& dbf) {
    const auto r = RunCommand(testsupport::XbaseDump() + " " + Quote(dbf.string()));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::istringstream in(r.output);
    std::string line, records;
    while (std::getline(in, line))
        if (!line.empty() && (line[0] == ' ' || line[0] == '*') && line.size() > 1 && line[1] == '\t')
            records += line + "\n";
    return records;
}

int PerlTagCheck(const fs::path& dbf, const fs::path& cdx, const std::string& tag, std::string* output = nullptr) {
    const auto r = RunCommand(testsupport::XbaseDump() + " --cdx " + Quote(cdx.string()) + " --tag " + tag + " " +
                       Quote(dbf.string()));
    if (output) *output = r.output;
    return r.exitCode;
}

fs::path IndexOf(const fs::path& dbf) {
    for (const auto& e : fs::directory_iterator(dbf.parent_path()))
        if (SameTextIgnoringCase(e.path().stem().string(), dbf.stem().string()) &&
            SameTextIgnoringCase(e.path().extension().string(), ".cdx"))
            return e.path();
    return {};
}

TEST(Compatibility, FileLogWrittenByManyUpdatesReadsTheSameEverywhere) {
    SetShortDateFormat("MM/DD/yy", '/');
    testsupport::TempDir dir;
    xbase::XbaseTable::create(dir.path() / kFileLogTableName, testsupport::FileLogFields());
    TDbfTable fileLog("DbfFileLog");
    fileLog.SetTableName(kFileLogTableName);
    IndexFiles(fileLog, dir.str());
    fileLog.SetIndexName(kFileLogTag);
    fileLog.Open();

    // Enough names for several index levels, sent in scattered order, some twice.
    std::map<std::string, std::pair<TDateTime, std::string>> expected;
    std::map<std::string, uint32_t> firstSeen;
    for (int i = 0; i < 1500; ++i) {
        const int n = (i * 7919) % 1200;
        char name[32], created[16];
        std::snprintf(name, sizeof name, "%02d%02d%02d_%04d.xml", 1 + n % 12, 1 + n % 28, n % 100, n);
        const TDateTime date = EncodeDate(2000 + n % 20, 1 + n % 12, 1 + n % 28);
        std::snprintf(created, sizeof created, "%02d/%02d/%02d", 1 + i % 12, 1 + i % 28, i % 100);
        UpdateFileLog(fileLog, {date, name, created});
        expected[name] = {date, created};
        firstSeen.emplace(name, static_cast<uint32_t>(firstSeen.size() + 1));
    }
    fileLog.Close();
    const fs::path dbf = dir.path() / kFileLogTableName;
    ASSERT_EQ(testsupport::RecordCount(dbf), expected.size());

    // Record order is the order of first sending.
    std::vector<std::string> lines(expected.size());
    for (const auto& [name, value] : expected) {
        int y = 0, m = 0, d = 0;
        DecodeDate(value.first, y, m, d);
        char date[16];
        std::snprintf(date, sizeof date, "%04d%02d%02d", y, m, d);
        const TDateTime created = StrToDate(value.second);
        DecodeDate(created, y, m, d);
        char createdText[16];
        std::snprintf(createdText, sizeof createdText, "%04d%02d%02d", y, m, d);
        lines[firstSeen[name] - 1] = std::string(" \t") + date + "\t" + name + "\t" + createdText + "\tYES";
    }
    std::string want;
    for (const auto& l : lines) want += l + "\n";
    EXPECT_EQ(PythonDump(dbf), want);
    EXPECT_EQ(PerlDump(dbf), want);
    std::string report;
    EXPECT_EQ(PerlTagCheck(dbf, IndexOf(dbf), "FILENAME", &report), 0) << report;
}

// --- tables written by other tools ------------------------------------------------

struct FixtureTag {
    const char* table;   // base name under tests/fixtures/xbase
    const char* tag;
};

class FixtureSeeks : public ::testing::TestWithParam<FixtureTag> {};

TEST_P(FixtureSeeks, FindEveryRecordByItsKey) {
    testsupport::TempDir dir;
    const std::string base = GetParam().table;
    for (const char* ext : {".dbf", ".cdx", ".fpt"}) {
        const fs::path from = fs::path(testsupport::SourceDir()) / "tests/fixtures/xbase" / (base + ext);
        if (fs::exists(from)) fs::copy_file(from, dir.path() / (base + ext));
    }
    TDbfTable table("DbfFixture");
    table.SetDatabaseName(dir.str());
    table.SetTableName(base + ".dbf");
    table.SetReadOnly(true);
    table.SetIndexName(GetParam().tag);
    table.Open();

    auto raw = xbase::XbaseTable::open(dir.path() / (base + ".dbf"), xbase::OpenMode::Shared, true);
    const auto key = DbfKeyExpression::Parse(raw->tag(GetParam().tag)->expression(), table.Fields());
    ASSERT_TRUE(key.has_value());
    std::vector<uint8_t> image(raw->recordLength());
    const uint32_t count = raw->recordCount();
    int sought = 0;
    for (uint32_t r = 1; r <= count; ++r) {
        raw->readRecord(r, image);
        if (xbase::XbaseTable::isDeleted(image)) continue;
        const std::string k = key->Evaluate(image);
        ASSERT_TRUE(table.Seek(k, true)) << base << " record " << r << " key '" << k << "'";
        ASSERT_FALSE(table.Eof());
        ++sought;
    }
    EXPECT_FALSE(table.Seek(std::string("\x01no such key"), true));
    if (count == 0) {
        EXPECT_FALSE(table.HasCurrentRecord());
    }
    EXPECT_EQ(sought > 0, count > 0);
}

INSTANTIATE_TEST_SUITE_P(OtherWriters, FixtureSeeks,
                         ::testing::Values(FixtureTag{"vfp_employees", "LASTNAME"},
                                           FixtureTag{"vfp_employees", "EMAILNAME"},
                                           FixtureTag{"vfp_employees", "POSTALCODE"}, FixtureTag{"vfp_mast", "ABC"},
                                           FixtureTag{"vfp_mast", "CUST_ID"}, FixtureTag{"hb_paises", "PAISES1"},
                                           FixtureTag{"hb_paises", "PAISES2"}, FixtureTag{"hb_paises", "PAISES3"},
                                           FixtureTag{"hb_paises", "PAISES4"}, FixtureTag{"hb_cepruaimp", "CEP"}),
                         [](const ::testing::TestParamInfo<FixtureTag>& info) {
                             return std::string(info.param.table) + "_" + info.param.tag;
                         });

// python3-dbf writes tables but no index: the layer builds the tag, seeks
// through it, writes a record, and both readers agree with the result.
class PythonWritten : public ::testing::TestWithParam<const char*> {};

TEST_P(PythonWritten, TagBuiltByTheLayerFindsEveryName) {
    testsupport::TempDir dir;
    const fs::path dbf = dir.path() / "PEOPLE.DBF";
    const auto made = RunCommand("/usr/bin/python3 " + Quote(testsupport::SourceDir() + "/tests/data/dbf_make.py") + " " +
                          Quote(dbf.string()) + " " + GetParam());
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const std::string before = PythonDump(dbf);
    EXPECT_EQ(PerlDump(dbf), before);

    TDbfTable people("DbfPeople");
    people.SetDatabaseName(dir.str());
    people.SetTableName("PEOPLE.DBF");
    people.SetExclusive(true);
    people.Open();
    people.CreateIndexTag("NAME", "NAME", 0);
    people.CreateIndexTag("UNAME", "NAME", ixCaseInsensitive);
    people.Close();
    people.SetExclusive(false);
    people.SetIndexName("NAME");
    people.Open();

    std::istringstream lines(before);
    std::string line;
    int rows = 0;
    while (std::getline(lines, line)) {
        const std::string name = line.substr(2, line.find('\t', 2) - 2);
        ASSERT_TRUE(people.Seek(name, true)) << name;
        EXPECT_EQ(people.ReadText("name"), name);
        ++rows;
    }
    EXPECT_EQ(rows, 206);
    people.SetIndexName("UNAME");
    ASSERT_TRUE(people.Seek("ABBOT", true));
    EXPECT_EQ(people.ReadText("NAME"), "Abbot");   // the first of Abbot/abbot in record order

    people.SetIndexName("NAME");
    people.Append();
    people.WriteText("NAME", "Added By Layer");
    people.WriteDate("BORN", EncodeDate(2005, 6, 15));
    people.WriteInteger("QTY", -42);
    people.Post();
    people.Close();

    const std::string after = PythonDump(dbf);
    EXPECT_EQ(after, before + " \tAdded By Layer\t20050615\t-42\n");
    EXPECT_EQ(PerlDump(dbf), after);
    std::string report;
    EXPECT_EQ(PerlTagCheck(dbf, IndexOf(dbf), "NAME", &report), 0) << report;
    EXPECT_EQ(PerlTagCheck(dbf, IndexOf(dbf), "UNAME", &report), 0) << report;
}

INSTANTIATE_TEST_SUITE_P(TableTypes, PythonWritten, ::testing::Values("db3", "clp", "vfp"));

}  // namespace
