// The extract folder as something outside the program writes it: names with
// control characters, FIFOs, symbolic links, and a folder given relative to
// the current directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ProgramFolder.h"
#include "data/table/DbfTable.h"
#include "scan/ExtractListing.h"
#include "scan/ExtractScan.h"
#include "scan/TransferList.h"

namespace fs = std::filesystem;
using qztest::ProgramFolder;
using Strings = std::vector<std::string>;

namespace {

struct RecordedMessages : TScanMessages {
    Strings shown;
    void PlainMessage(const std::string& text) override { shown.push_back("plain:" + text); }
    void ErrorMessage(const std::string& text) override { shown.push_back("error:" + text); }
};

// A program folder with usual settings and its tables open; the current
// directory is put back afterwards (the scan changes it).
class HostileFolder : public ::testing::Test {
protected:
    void SetUp() override {
        previousDir_ = fs::current_path();
        folder_.WriteSettings({"ABC", "ABC", "OnQ", "", folder_.SourcePath(), ""});
        folder_.OpenTables(settings_, fileLog_);
    }
    void TearDown() override { fs::current_path(previousDir_); }

    void Add(const std::string& name) { folder_.AddExtract(name, StrToDate("01/01/26")); }
    void Scan(const std::string& sourceFolder) {
        LoadGrid("1", sourceFolder, settings_, fileLog_, list_, messages_);
    }
    Strings Listed() const {
        Strings names;
        for (const TransferRow& row : list_.Rows()) names.push_back(row.FileName);
        return names;
    }

    fs::path previousDir_;
    ProgramFolder folder_;
    TDbfTable settings_{"DbfZAVSys"}, fileLog_{"DbfFileLog"};
    TTransferList list_;
    RecordedMessages messages_;
};

TEST_F(HostileFolder, NamesWithControlCharactersAreLeftOutAndNamed) {
    Add("A010126.xml");
    Add("a\r\nDELE victim 010126.xml");
    Add("B\x01\x7f" "010126.xml");
    Add("C\t010126.xml");
    Add("Z010126.xml");

    Scan(folder_.SourcePath());

    EXPECT_EQ(Listed(), (Strings{"A010126.xml", "Z010126.xml"}));
    // One message for the scan, a line a name.
    EXPECT_EQ(messages_.shown,
              (Strings{"error:\"B\\x01\\x7F010126.xml\" is not listed: its name holds control characters.\n"
                       "\"C\\t010126.xml\" is not listed: its name holds control characters.\n"
                       "\"a\\r\\nDELE victim 010126.xml\" is not listed: its name holds control characters."}));
}

TEST_F(HostileFolder, FiftyRefusedNamesGiveOneMessageWithTheFirstFewAndHowManyMore) {
    Add("A010126.xml");
    for (int i = 10; i < 60; ++i) Add("B" + std::to_string(i) + "\x01" "010126.xml");

    Scan(folder_.SourcePath());

    EXPECT_EQ(Listed(), (Strings{"A010126.xml"}));
    std::string expected = "error:";
    for (int i = 10; i < 15; ++i)
        expected += "\"B" + std::to_string(i) + "\\x01010126.xml\" is not listed: its name holds control characters.\n";
    EXPECT_EQ(messages_.shown, (Strings{expected + "... and 45 more files are not listed."}));
}

TEST_F(HostileFolder, OnlyAFileWithAControlCharacterMeansNoFilesToCopy) {
    Add("a\r\nDELE victim 010126.xml");
    Scan(folder_.SourcePath());
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(messages_.shown,
              (Strings{"error:\"a\\r\\nDELE victim 010126.xml\" is not listed: its name holds control characters.",
                       "error:No Files To Copy!"}));
    EXPECT_EQ(list_.RecNo(), -1);
}

TEST_F(HostileFolder, FifosAndSymbolicLinksAreNotListed) {
    const fs::path source = folder_.SourcePath();
    Add("GOOD010126.xml");
    ASSERT_EQ(::mkfifo((source / "PIPE010126.xml").c_str(), 0600), 0);
    const fs::path outside = folder_.Root() / "secret.txt";
    std::ofstream(outside) << "not for the server\n";
    fs::create_symlink("GOOD010126.xml", source / "LINKIN010126.xml");
    fs::create_symlink(outside, source / "LINKOUT010126.xml");
    fs::create_symlink(source / "PIPE010126.xml", source / "LINKPIPE010126.xml");
    fs::create_symlink(source / "missing.xml", source / "DANGLING010126.xml");
    fs::create_directory_symlink(folder_.Root(), source / "LINKDIR010126.xml");

    // A FIFO opened for reading would block here for ever.
    Scan(folder_.SourcePath());

    EXPECT_EQ(Listed(), Strings{"GOOD010126.xml"});
    EXPECT_TRUE(messages_.shown.empty()) << messages_.shown.front();
    const auto files = ListExtractFiles(folder_.SourcePath());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].Name, "GOOD010126.xml");
}

TEST_F(HostileFolder, RelativeSourceFolderListsItsFiles) {
    Add("SALES010126.xml");
    fs::current_path(folder_.Root());
    const std::string relative = fs::path(folder_.SourcePath()).parent_path().filename().string() + "/";
    ASSERT_EQ(relative, "extracts/");

    Scan(relative);

    EXPECT_EQ(Listed(), Strings{"SALES010126.xml"});
    EXPECT_TRUE(messages_.shown.empty()) << messages_.shown.front();
    EXPECT_EQ(fs::current_path(), fs::path(folder_.SourcePath()).parent_path());   // left in the folder
}

struct EscapeCase {
    const char* name;
    const char* shown;
};

class NameEscapes : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(NameEscapes, ShowControlCharactersVisibly) {
    EXPECT_EQ(EscapedFileName(GetParam().name), GetParam().shown);
    EXPECT_EQ(HasControlCharacter(GetParam().name), std::string(GetParam().name) != GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Names, NameEscapes,
                         ::testing::Values(EscapeCase{"SALES010126.xml", "SALES010126.xml"},
                                           EscapeCase{"a:b\\c 010126.xml", "a:b\\c 010126.xml"},
                                           EscapeCase{"caf\xc3\xa9" "010126.xml", "caf\xc3\xa9" "010126.xml"},
                                           EscapeCase{"a\r\nb", "a\\r\\nb"}, EscapeCase{"\t", "\\t"},
                                           EscapeCase{"\x1b[31m", "\\x1B[31m"}, EscapeCase{"\x7f", "\\x7F"},
                                           EscapeCase{"\x1f", "\\x1F"}));

}  // namespace
