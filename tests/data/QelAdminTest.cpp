// qeladmin init and dump, run as the built program.
#include <gtest/gtest.h>

#include <fstream>

#include "data/local/LocalTables.h"
#include "data/values/FileNames.h"
#include "tests/data/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Quote;
using testsupport::RunCommand;

std::string Qeladmin(const std::string& args) { return Quote(QZ_QELADMIN) + " " + args; }

// The program's file-log update works on the folder's FILELOG: the row it
// stores is found by its index.
void ExpectFileLogTakesARow(const std::string& folder) {
    TDbfTable fileLog("DbfFileLog");
    fileLog.SetDatabaseName(folder);
    fileLog.SetTableName(kFileLogTableName);
    fileLog.SetIndexName(kFileLogTag);
    fileLog.Open();
    UpdateFileLog(fileLog, {EncodeDate(2005, 6, 15), "061505.xml", "06/15/05"});
    EXPECT_TRUE(fileLog.Seek("061505.xml", true));
}

TEST(QelAdminInit, WritesTheThreeTablesAndTheFileLogIndex) {
    testsupport::TempDir dir;
    const auto init = RunCommand(Qeladmin("init " + Quote(dir.str())));
    ASSERT_EQ(init.exitCode, 0) << init.output;
    for (const char* name : {"ZAVSYS.DBF", "FILELOG.DBF", "UPLOG.DBF", "FileLog.CDX"})
        EXPECT_TRUE(fs::exists(dir.path() / name)) << name;
    for (const char* name : {"ZAVSYS.DBF", "FILELOG.DBF", "UPLOG.DBF"}) {
        const auto check = RunCommand(testsupport::XbaseDump() + " " + Quote((dir.path() / name).string()));
        EXPECT_EQ(check.exitCode, 0) << name << "\n" << check.output;
    }
    const auto tag = RunCommand(testsupport::XbaseDump() + " --cdx " + Quote((dir.path() / "FileLog.CDX").string()) +
                         " --tag FILENAME " + Quote((dir.path() / "FILELOG.DBF").string()));
    EXPECT_EQ(tag.exitCode, 0) << tag.output;

    // The program's own sequences work on what init wrote.
    ExpectFileLogTakesARow(dir.str());
    TDbfTable settings("DbfZAVSys");
    settings.SetDatabaseName(dir.str());
    settings.SetTableName(kSettingsTableName);
    settings.Open();
    settings.Edit();
    settings.WriteText("PMS", "Corvane Ledger");
    settings.WriteText("COPYTO", "A:\\");
    settings.Post();
    EXPECT_EQ(settings.ReadText("PMS"), "Corvane Ledger");
}

// Every table gets its journal, so that the program need not make files in
// the folder; an install that keeps the tables makes the missing ones.
TEST(QelAdminInit, MakesTheJournalsBesideTheTables) {
    testsupport::TempDir dir;
    ASSERT_EQ(RunCommand(Qeladmin("init " + Quote(dir.str()))).exitCode, 0);
    const std::vector<std::string> tables{"ZAVSYS.DBF", "FILELOG.DBF", "UPLOG.DBF"};
    for (const auto& name : tables) EXPECT_TRUE(fs::exists(dir.path() / (name + ".qzj"))) << name;
    fs::remove(dir.path() / "FILELOG.DBF.qzj");
    fs::remove(dir.path() / "UPLOG.DBF.qzj");
    const auto kept = RunCommand(Qeladmin("init --journals " + Quote(dir.str())));
    ASSERT_EQ(kept.exitCode, 0) << kept.output;
    for (const auto& name : tables) EXPECT_TRUE(fs::exists(dir.path() / (name + ".qzj"))) << name;
    ExpectFileLogTakesARow(dir.str());
}

TEST(QelAdminInit, RefusesToOverwriteExistingTables) {
    testsupport::TempDir dir;
    { std::ofstream(dir.path() / "uplog.dbf") << "keep me"; }
    const auto init = RunCommand(Qeladmin("init " + Quote(dir.str())));
    EXPECT_NE(init.exitCode, 0);
    EXPECT_NE(init.output.find("already exists"), std::string::npos) << init.output;
    EXPECT_FALSE(fs::exists(dir.path() / "FILELOG.DBF"));
    std::ifstream in(dir.path() / "uplog.dbf");
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "keep me");
    EXPECT_NE(RunCommand(Qeladmin("init")).exitCode, 0);
}

TEST(QelAdminDump, RefusesATagThatListsARecordTwice) {
    const std::string damaged = Quote(testsupport::SourceDir() + "/tests/fixtures/xbase/vfp_mast.dbf");
    const auto bad = RunCommand(Qeladmin("dump " + damaged + " --tag SO_ID"));
    EXPECT_EQ(bad.exitCode, 1) << bad.output;
    EXPECT_NE(bad.output.find("lists record 5 twice"), std::string::npos) << bad.output;
    EXPECT_EQ(RunCommand(Qeladmin("dump " + damaged + " --tag CUST_ID")).exitCode, 0);
}

TEST(QelAdminDump, PrintsHeaderFieldsAndRecordsInTagOrder) {
    testsupport::TempDir dir;
    ASSERT_EQ(RunCommand(Qeladmin("init " + Quote(dir.str()))).exitCode, 0);
    {
        TDbfTable fileLog("DbfFileLog");
        fileLog.SetDatabaseName(dir.str());
        fileLog.SetTableName(kFileLogTableName);
        fileLog.SetIndexName(kFileLogTag);
        fileLog.Open();
        for (const char* n : {"C.xml", "A.xml", "B.xml"}) UpdateFileLog(fileLog, {EncodeDate(2005, 6, 15), n, "06/15/05"});
        ASSERT_TRUE(fileLog.Seek("B.xml", true));
        fileLog.Close();
        auto raw = xbase::XbaseTable::open(dir.path() / kFileLogTableName, xbase::OpenMode::Shared, false);
        std::vector<uint8_t> image(raw->recordLength());
        raw->readRecord(3, image);
        image[0] = '*';
        raw->writeRecord(3, image);
    }
    const std::string dbf = Quote((dir.path() / "FILELOG.DBF").string());
    const auto plain = RunCommand(Qeladmin("dump " + dbf));
    ASSERT_EQ(plain.exitCode, 0) << plain.output;
    for (const char* part : {"version: 0x03", "records: 3", "header length: 161", "record length: 120", "FILENAME   C 100",
                             "tag: FILENAME", "  1\t20050615\tC.xml\t20050615\tYES", "* 3\t20050615\tB.xml"})
        EXPECT_NE(plain.output.find(part), std::string::npos) << part << "\n" << plain.output;
    const auto ordered = RunCommand(Qeladmin("dump " + dbf + " --tag filename"));
    ASSERT_EQ(ordered.exitCode, 0) << ordered.output;
    const size_t a = ordered.output.find("A.xml"), b = ordered.output.find("B.xml"), c = ordered.output.find("C.xml");
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
}

struct BadInput {
    const char* label;
    const char* bytes;   // file content, nullptr: no file
    const char* args;
};

class QelAdminDumpErrors : public ::testing::TestWithParam<BadInput> {};

TEST_P(QelAdminDumpErrors, AreClearAndNonZero) {
    testsupport::TempDir dir;
    const fs::path file = dir.path() / "T.DBF";
    const bool unknownTag = std::string(GetParam().label) == "UnknownTag";
    if (GetParam().bytes != nullptr) {
        std::ofstream(file, std::ios::binary) << GetParam().bytes;
    } else if (unknownTag) {
        ASSERT_EQ(RunCommand(Qeladmin("init " + Quote(dir.str()))).exitCode, 0);
    }
    const std::string target = unknownTag ? (dir.path() / "FILELOG.DBF").string() : file.string();
    const auto r = RunCommand(Qeladmin("dump " + Quote(target) + " " + GetParam().args));
    EXPECT_NE(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("qeladmin dump"), std::string::npos) << r.output;
}

INSTANTIATE_TEST_SUITE_P(Inputs, QelAdminDumpErrors,
                         ::testing::Values(BadInput{"MissingFile", nullptr, ""},
                                           BadInput{"NotATable", "this is not a table at all, just text......", ""},
                                           BadInput{"ShortFile", "\x03", ""},
                                           BadInput{"UnknownTag", nullptr, "--tag NOSUCH"}),
                         [](const ::testing::TestParamInfo<BadInput>& info) { return info.param.label; });

}  // namespace
