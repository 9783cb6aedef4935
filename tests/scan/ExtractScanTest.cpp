// The extract scan over real tables and a real folder of extract files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ProgramFolder.h"
#include "data/table/DbfSettings.h"
#include "data/table/DbfTable.h"
#include "rtl/FileNameRules.h"
#include "scan/ExtractListing.h"
#include "scan/ExtractScan.h"
#include "scan/TransferList.h"

namespace {

using qztest::ProgramFolder;

struct RecordedMessages : TScanMessages {
    std::vector<std::string> shown;
    void PlainMessage(const std::string& text) override { shown.push_back("plain:" + text); }
    void ErrorMessage(const std::string& text) override { shown.push_back("error:" + text); }
};

TDateTime At(const char* date, int hour = 12, int minute = 0) {
    return StrToDate(date) + (hour * 60 + minute) / 1440.0;
}

struct ExtractSpec {
    std::string name;
    TDateTime modified;
};

struct LoggedSpec {
    std::string name;
    const char* date;
};

struct RowSpec {
    std::string fileName;
    std::string copied;
    const char* date;         // nullptr: today
    const char* filCreated;
};

struct ScanCase {
    const char* title;
    std::string pms = "OnQ";
    std::string lastCopy{};
    std::string mode = "1";
    std::vector<ExtractSpec> extracts{};
    std::vector<LoggedSpec> logged{};
    std::vector<RowSpec> rows{};
    std::vector<std::string> messages{};
    bool caseSensitiveFolder = false;   // the case needs two names differing only in letter case
};

std::ostream& operator<<(std::ostream& out, const ScanCase& c) { return out << c.title; }

const std::string kLongName = "VERYLONGEXTRACTNAME_061505.xml";
// 60 characters in 110 bytes of UTF-8.
const std::string kAccentedName = [] {
    std::string name;
    for (int i = 0; i < 50; ++i) name += "\xC3\xA9";
    return name + "061505.xml";
}();
// 101 characters: one more than the file log's FILENAME holds.
const std::string kTooLongName = std::string(91, 'L') + "061505.xml";

// Paths are wide on Windows, narrow on POSIX.
constexpr bool kWindows = sizeof(std::filesystem::path::value_type) == 2;

// Names Windows takes for devices: ordinary names on POSIX, listed there
// (without a date in the name); left out on Windows, each with a message,
// and the good file beside them still listed.
ScanCase DeviceNames() {
    const std::vector<std::string> devices = {"AUX.xml", "COM1.xml", "CON.xml", "NUL.xml", "lpt9.xml"};
    ScanCase c{.title = "NamesWindowsCannotOpen"};
    for (const std::string& name : devices) c.extracts.push_back({name, At("06/15/05")});
    c.extracts.push_back({"GOOD061505.xml", At("06/15/05")});
    // One scan's refusals come in one message, one line a name.
    std::string refusals;
    for (const std::string& name : devices)
        refusals += (refusals.empty() ? "" : "\n") + ("\"" + name + "\" is not listed: Windows cannot open a file of that name.");
    if (kWindows) c.messages.push_back("error:" + refusals);
    std::vector<std::string> listed = kWindows ? std::vector<std::string>{"GOOD061505.xml"}
                                               : std::vector<std::string>{"AUX.xml", "COM1.xml", "CON.xml",
                                                                          "GOOD061505.xml", "NUL.xml", "lpt9.xml"};
    for (const std::string& name : listed) c.rows.push_back({name, "No", nullptr, "06/15/05"});
    // Names without a date: "Invalid Date!" once for the scan.
    if (!kWindows) c.messages.push_back("plain:Invalid Date!");
    return c;
}

std::vector<ScanCase> Cases() {
    return {
        DeviceNames(),
        {.title = "NameTheFileLogCannotHold",
         .extracts = {{"\u6771\u4eac120926.xml", At("06/15/05")}, {"MA\u00d1ANA061505.xml", At("06/15/05")}},
         .rows = {{"MA\u00d1ANA061505.xml", "No", nullptr, "06/15/05"}},
         .messages = {"error:\"\u6771\u4eac120926.xml\" is not listed: the file log cannot hold its name "
                      "(Windows-1252 characters only)."}},
        {.title = "EmptyFolder", .messages = {"error:No Files To Copy!"}},
        {.title = "OneNewFile",
         .extracts = {{"SALES061505.xml", At("06/15/05")}},
         .rows = {{"SALES061505.xml", "No", nullptr, "06/15/05"}}},
        {.title = "HiddenFilesSubFoldersOtherExtensionsSkipped",
         .extracts = {{".SALES061505.xml", At("06/15/05")},
                      {"SALES061505.XML", At("06/15/05")},
                      {"SALES061505.txt", At("06/15/05")},
                      {"SALES061505.xmlx", At("06/15/05")}},
         .rows = {{"SALES061505.XML", "No", nullptr, "06/15/05"}}},
        {.title = "OnlySkippedEntries",
         .extracts = {{".hidden061505.xml", At("06/15/05")}},
         .messages = {"error:No Files To Copy!"}},
        {.title = "DatePositions",
         .extracts = {{"061505.xml", At("06/15/05")},
                      {"SALES061505.xml", At("06/16/05")},
                      {"Z123120.x.xml", At("06/17/05")}},
         .rows = {{"061505.xml", "No", nullptr, "06/15/05"},
                  {"SALES061505.xml", "No", nullptr, "06/16/05"},
                  {"Z123120.x.xml", "No", nullptr, "06/17/05"}}},
        {.title = "ShortNameFailsDateCheckButIsListed",
         .extracts = {{"abc.xml", At("06/15/05")}},
         .rows = {{"abc.xml", "No", nullptr, "06/15/05"}},
         .messages = {"plain:Invalid Date!"}},
        {.title = "SeveralDotsTheFirstDecides",
         .extracts = {{"copy.SALES061505.xml", At("06/15/05")}},
         .rows = {{"copy.SALES061505.xml", "No", nullptr, "06/15/05"}},
         .messages = {"plain:Invalid Date!"}},
        {.title = "DayFirstIsNoDate",
         .extracts = {{"SALES150605.xml", At("06/15/05")}},
         .rows = {{"SALES150605.xml", "No", nullptr, "06/15/05"}},
         .messages = {"plain:Invalid Date!"}},
        {.title = "OddNameInTheMiddleKeepsTheRestListed",
         .extracts = {{"A061505.xml", At("06/15/05")},
                      {"B-odd.xml", At("06/15/05")},
                      {"C061505.xml", At("06/15/05")},
                      {"D-odd-too.xml", At("06/15/05")},
                      {"E061505.xml", At("06/15/05")}},
         .rows = {{"A061505.xml", "No", nullptr, "06/15/05"},
                  {"B-odd.xml", "No", nullptr, "06/15/05"},
                  {"C061505.xml", "No", nullptr, "06/15/05"},
                  {"D-odd-too.xml", "No", nullptr, "06/15/05"},
                  {"E061505.xml", "No", nullptr, "06/15/05"}},
         .messages = {"plain:Invalid Date!"}},   // once a scan, however many
        {.title = "LongNameListedWhole",
         .extracts = {{kLongName, At("06/15/05")}},
         .rows = {{kLongName, "No", nullptr, "06/15/05"}}},
        {.title = "WidthCountsCharactersNotBytes",
         .extracts = {{kAccentedName, At("06/15/05")}},
         .rows = {{kAccentedName, "No", nullptr, "06/15/05"}}},
        {.title = "NameTheFileLogCannotHoldIsLeftOutAlone",
         .extracts = {{kTooLongName, At("06/15/05")}, {"B061505.xml", At("06/15/05")}},
         .rows = {{"B061505.xml", "No", nullptr, "06/15/05"}},
         .messages = {"error:\"" + kTooLongName +
                      "\" is not listed: its name is longer than the 100 characters the file log holds."}},
        {.title = "NamesDifferingOnlyInCaseTheLaterIsLeftOut",
         .extracts = {{"GSE_A061505.xml", At("06/15/05")}, {"gse_a061505.xml", At("06/15/05")},
                      {"H061505.xml", At("06/15/05")}},
         .rows = {{"GSE_A061505.xml", "No", nullptr, "06/15/05"}, {"H061505.xml", "No", nullptr, "06/15/05"}},
         .messages = {"error:\"gse_a061505.xml\" is not listed: its name differs from \"GSE_A061505.xml\" only "
                      "in letter case."},
         .caseSensitiveFolder = true},
        {.title = "LoggedFileAgainstLastCopy",
         .lastCopy = "06/16/05",
         .extracts = {{"DAYBEFORE061505.xml", At("06/15/05", 23, 59)},
                      {"SAMEDAYMIDNIGHT061605.xml", At("06/16/05", 0, 0)},
                      {"SAMEDAYEVENING061605.xml", At("06/16/05", 22, 0)},
                      {"DAYAFTER061705.xml", At("06/17/05")},
                      {"NEW061705.xml", At("06/10/05")}},
         .logged = {{"DAYBEFORE061505.xml", "06/15/05"},
                    {"SAMEDAYMIDNIGHT061605.xml", "06/01/05"},
                    {"SAMEDAYEVENING061605.xml", "06/02/05"},
                    {"DAYAFTER061705.xml", "06/03/05"}},
         .rows = {{"DAYAFTER061705.xml", "Yes", "06/03/05", "06/17/05"},
                  {"NEW061705.xml", "No", nullptr, "06/10/05"},
                  {"SAMEDAYEVENING061605.xml", "Yes", "06/02/05", "06/16/05"},
                  {"SAMEDAYMIDNIGHT061605.xml", "Yes", "06/01/05", "06/16/05"}}},
        {.title = "BlankLastCopyListsEveryLoggedFile",
         .extracts = {{"OLD010100.xml", At("01/01/00")}},
         .logged = {{"OLD010100.xml", "01/02/00"}},
         .rows = {{"OLD010100.xml", "Yes", "01/02/00", "01/01/00"}}},
        {.title = "OtherModeListsNoLoggedFile",
         .mode = "2",
         .extracts = {{"OLD010100.xml", At("01/01/00")}, {"NEW010100.xml", At("01/01/00")}},
         .logged = {{"OLD010100.xml", "01/02/00"}},
         .rows = {{"NEW010100.xml", "No", nullptr, "01/01/00"}}},
        {.title = "CorvaneLedger",
         .pms = "Corvane Ledger",
         .extracts = {{"GL061505.xml", At("06/15/05")}},
         .rows = {{"GL061505.xml", "No", nullptr, "06/15/05"}}},
        {.title = "PmsTrailingBlanksDoNotMatter",
         .pms = "OnQ   ",
         .extracts = {{"GL061505.xml", At("06/15/05")}},
         .rows = {{"GL061505.xml", "No", nullptr, "06/15/05"}}},
        {.title = "PmsOtherCaseListsNothing", .pms = "onq", .extracts = {{"GL061505.xml", At("06/15/05")}}},
        {.title = "PmsWithMoreCharactersListsNothing",
         .pms = "OnQ2",
         .extracts = {{"GL061505.xml", At("06/15/05")}}},
        {.title = "PmsEmptyListsNothing", .pms = "", .extracts = {{"GL061505.xml", At("06/15/05")}}},
    };
}

class ExtractScanTest : public ::testing::TestWithParam<ScanCase> {
protected:
    void SetUp() override { previousDir_ = std::filesystem::current_path(); }
    void TearDown() override { std::filesystem::current_path(previousDir_); }

    void OpenTables() {
        folder_.OpenTables(settings_, fileLog_);
    }

    std::filesystem::path previousDir_;
    ProgramFolder folder_;
    TDbfTable settings_{"DbfZAVSys"};
    TDbfTable fileLog_{"DbfFileLog"};
    TTransferList list_{"MemTable_Import"};
    RecordedMessages messages_;
};

TEST_P(ExtractScanTest, ListsTheExpectedRows) {
    const ScanCase& c = GetParam();
    folder_.WriteSettings({"ABC", "ABC", c.pms, c.lastCopy, folder_.SourcePath(), ""});
    for (const LoggedSpec& l : c.logged) folder_.AddFileLog(l.name, StrToDate(l.date));
    for (const ExtractSpec& e : c.extracts) folder_.AddExtract(e.name, e.modified);
    if (c.caseSensitiveFolder &&
        static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder_.SourcePath()),
                                               std::filesystem::directory_iterator())) < c.extracts.size())
        GTEST_SKIP() << "this file system holds one file for names differing only in letter case";
    std::filesystem::create_directory(folder_.SourcePath() + "SUBFOLDER061505.xml");
    OpenTables();

    LoadGrid(c.mode, folder_.SourcePath(), settings_, fileLog_, list_, messages_);

    EXPECT_EQ(messages_.shown, c.messages);
    ASSERT_EQ(list_.Rows().size(), c.rows.size());
    for (std::size_t i = 0; i < c.rows.size(); ++i) {
        const TransferRow& row = list_.Row(i);
        const RowSpec& want = c.rows[i];
        SCOPED_TRACE(want.fileName);
        EXPECT_EQ(row.FileName, want.fileName);
        EXPECT_EQ(row.Copied, want.copied);
        EXPECT_EQ(row.Date, want.date ? StrToDate(want.date) : Today());
        EXPECT_EQ(DateToStr(row.FilCreated), want.filCreated);
    }
    if (c.rows.empty()) {
        EXPECT_FALSE(list_.Active());
        EXPECT_EQ(list_.RecNo(), -1);
        EXPECT_THROW(list_.First(), EDatabaseError);
    } else {
        EXPECT_EQ(list_.RecNo(), 1);   // the first row is current after a scan
    }
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(folder_.SourcePath()).parent_path());
}

INSTANTIATE_TEST_SUITE_P(Cases, ExtractScanTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.title); });

TEST(ExtractScanFolder, MissingFolderIsReportedAndNothingListed) {
    const auto previous = std::filesystem::current_path();
    ProgramFolder folder;
    folder.WriteSettings({"ABC", "ABC", "OnQ", "", "/no/such/folder/", ""});
    TDbfTable settings("DbfZAVSys"), fileLog("DbfFileLog");
    settings.SetTableName("ZAVSYS.DBF");
    settings.SetDatabaseName(folder.Path());
    settings.Open();
    fileLog.SetTableName("FILELOG.DBF");
    fileLog.SetDatabaseName(folder.Path());
    fileLog.SetIndexName("FILENAME");
    fileLog.Open();
    TTransferList list;
    RecordedMessages messages;
    LoadGrid("1", "/no/such/folder/", settings, fileLog, list, messages);
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"plain:Invalid Directory Path!", "error:No Files To Copy!"}));
    EXPECT_EQ(list.RecNo(), -1);
    EXPECT_EQ(std::filesystem::current_path(), previous);
}

TEST(ExtractScanFolder, ClosedFileLogEndsTheScanWithItsError) {
    const auto previous = std::filesystem::current_path();
    ProgramFolder folder;
    folder.WriteSettings({"ABC", "ABC", "OnQ", "", folder.SourcePath(), ""});
    folder.AddExtract("A061505.xml", At("06/15/05"));
    TDbfTable settings("DbfZAVSys"), fileLog("DbfFileLog");
    settings.SetTableName("ZAVSYS.DBF");
    settings.SetDatabaseName(folder.Path());
    settings.Open();
    TTransferList list;
    RecordedMessages messages;
    try {
        LoadGrid("1", folder.SourcePath(), settings, fileLog, list, messages);
        ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), "DbfFileLog: Cannot perform this operation on a closed dataset");
    }
    std::filesystem::current_path(previous);
}

struct DateTextCase {
    const char* name;
    const char* dateText;
    bool valid;
};

class ExtractDateTextTest : public ::testing::TestWithParam<DateTextCase> {};

TEST_P(ExtractDateTextTest, CutsAndChecks) {
    EXPECT_EQ(ExtractDateText(GetParam().name), GetParam().dateText);
    EXPECT_EQ(TryStrToDate(ExtractDateText(GetParam().name)).has_value(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(Names, ExtractDateTextTest,
                         ::testing::Values(DateTextCase{"SALES061505.xml", "06/15/05", true},
                                           DateTextCase{"061505.xml", "06/15/05", true},
                                           DateTextCase{"abc.xml", "ab/c./xm", false},
                                           DateTextCase{"a.xml", "a./xm/l", false},
                                           DateTextCase{"copy.SALES061505.xml", "co/py/.S", false},
                                           DateTextCase{"SALES150605.xml", "15/06/05", false},
                                           DateTextCase{"X022905.xml", "02/29/05", false},
                                           DateTextCase{"X022904.xml", "02/29/04", true},
                                           DateTextCase{"noDot", "no/Do/t", false}));

// Names a share written from another system can hold: Windows cannot open
// them (a device, or a character its names never hold); POSIX can.
TEST(FileNameRules, WhatThisSystemCanOpen) {
    const std::vector<std::pair<std::string, bool>> onWindows = {
        {"SALES061505.xml", true}, {"AUX.xml", false}, {"aux.XML", false}, {"CON.tar.xml", false},
        {"NUL .xml", false}, {"PRN.xml", false}, {"COM1.xml", false}, {"LPT9.xml", false},
        {"COM0.xml", true}, {"COM10.xml", true}, {"AUXILIARY.xml", true}, {"CONSOLE061505.xml", true},
        {"a?b.xml", false}, {"a*b.xml", false}, {"a|b.xml", false}, {"a<b.xml", false},
        {"a>b.xml", false}, {"a\"b.xml", false}, {"MA\u00d1ANA.xml", true}};
    for (const auto& [name, openable] : onWindows) EXPECT_EQ(IsOpenableName(name), openable || !kWindows) << name;
}

TEST(ExtractListing, SortedPlainXmlFilesOnly) {
    ProgramFolder folder;
    folder.AddExtract("b.xml", At("06/15/05"));
    folder.AddExtract("A.Xml", At("06/15/05"));
    folder.AddExtract(".c.xml", At("06/15/05"));
    std::filesystem::create_directory(folder.SourcePath() + "d.xml");
    const auto files = ListExtractFiles(folder.SourcePath());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].Name, "A.Xml");
    EXPECT_EQ(files[1].Name, "b.xml");
    EXPECT_EQ(files[0].Modified, At("06/15/05"));
}

}  // namespace
