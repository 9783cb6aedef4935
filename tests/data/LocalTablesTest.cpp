// The write sequences of the three local tables and the file-log index rebuild.
#include <gtest/gtest.h>

#include <fstream>

#include "data/local/LocalTables.h"
#include "rtl/PathNames.h"
#include "rtl/Utf8Path.h"
#include "tests/data/TestSupport.h"

namespace {

namespace fs = std::filesystem;

class LocalTables : public ::testing::Test {
protected:
    void SetUp() override {
        SetShortDateFormat("MM/DD/yy", '/');
        xbase::XbaseTable::create(dir.path() / kSettingsTableName, testsupport::SettingsFields());
        xbase::XbaseTable::create(dir.path() / kFileLogTableName, testsupport::FileLogFields());
        xbase::XbaseTable::create(dir.path() / kUpLogTableName, testsupport::UpLogFields());
    }
    void Open(TDbfTable& t, const char* name, const std::string& tag = "") {
        t.SetDatabaseName(dir.str() + "/");
        t.SetTableName(name);
        t.SetIndexName(tag);
        t.Open();
    }
    void OpenFileLog() {
        fileLog.SetTableName(kFileLogTableName);
        if (!FileLogIndexExists(dir.str())) IndexFiles(fileLog, dir.str());
        Open(fileLog, kFileLogTableName, kFileLogTag);
    }
    std::string Text(const fs::path& dbf, uint32_t recno, size_t offset, size_t width) {
        const auto image = testsupport::RawRecord(dbf, recno);
        return std::string(reinterpret_cast<const char*>(image.data()) + offset, width);
    }

    testsupport::TempDir dir;
    TDbfTable settings{"DbfZAVSys"}, fileLog{"DbfFileLog"}, upLog{"DbfUpLog"};
};

TEST_F(LocalTables, FileLogUpdateAppendsOnceAndRewritesAfterwards) {
    OpenFileLog();
    const TDateTime june15 = EncodeDate(2005, 6, 15), june20 = EncodeDate(2005, 6, 20);
    UpdateFileLog(fileLog, {june15, "061505.xml", "06/14/05"});
    UpdateFileLog(fileLog, {june15, "061605.xml", "06/16/05"});
    UpdateFileLog(fileLog, {june15, "061505.xml", "06/15/05"});   // the same file twice in one list
    EXPECT_EQ(testsupport::RecordCount(dir.path() / kFileLogTableName), 2u);
    UpdateFileLog(fileLog, {june15, "061605.xml", "06/20/05"});   // sent again later
    (void)june20;
    ASSERT_TRUE(fileLog.Seek("061505.xml", true));
    EXPECT_EQ(fileLog.ReadText("FILCREATED"), "06/15/05");
    EXPECT_EQ(fileLog.ReadDate("DATE"), june15);
    EXPECT_EQ(fileLog.ReadText("COPIED"), "YES");
    ASSERT_TRUE(fileLog.Seek("061605.xml", true));
    EXPECT_EQ(fileLog.ReadText("FILCREATED"), "06/20/05");
    const fs::path dbf = dir.path() / kFileLogTableName;
    EXPECT_EQ(Text(dbf, 1, 1, 45 - 1), "20050615061505.xml               20050615YES");
    EXPECT_EQ(fileLog.State(), TDataSetState::Browsing);
}

TEST_F(LocalTables, LastCopyStampStartsTheSettingsRecordWhenThereIsNone) {
    Open(settings, kSettingsTableName);
    EXPECT_EQ(settings.ReadText("LOCCODE"), "");
    StampLastCopy(settings, EncodeDate(2005, 6, 15));
    EXPECT_EQ(testsupport::RecordCount(dir.path() / kSettingsTableName), 1u);
    EXPECT_EQ(settings.ReadText("lastcopy"), "06/15/05");
}

TEST_F(LocalTables, FirstRunEditingWritesNothingUntilPosted) {
    Open(settings, kSettingsTableName);
    for (const char* f : {"LOCCODE", "COPYFROM", "COPYTO"}) EXPECT_EQ(settings.ReadText(f), "") << f;
    settings.Edit();
    EXPECT_EQ(settings.State(), TDataSetState::Inserting);
    settings.WriteText("COPYTO", "A:\\");
    EXPECT_EQ(testsupport::RecordCount(dir.path() / kSettingsTableName), 0u);
    settings.WriteText("LOCCODE", "ABC12");
    settings.Post();
    EXPECT_EQ(testsupport::RecordCount(dir.path() / kSettingsTableName), 1u);
    settings.Close();
    Open(settings, kSettingsTableName);
    EXPECT_EQ(settings.ReadText("COPYTO"), "A:\\");
    EXPECT_EQ(settings.ReadText("LOCCODE"), "ABC12");
}

TEST_F(LocalTables, LastCopyStampEditsOnlyTheFirstVisibleRecord) {
    Open(settings, kSettingsTableName);
    for (const char* code : {"FIRST", "SECOND"}) {
        settings.Append();
        settings.WriteText("LOCCODE", code);
        settings.Post();
    }
    settings.Close();
    Open(settings, kSettingsTableName);
    EXPECT_EQ(settings.ReadText("Loccode"), "FIRST");
    StampLastCopy(settings, EncodeDate(2006, 1, 2));
    StampLastCopy(settings);
    const fs::path dbf = dir.path() / kSettingsTableName;
    EXPECT_EQ(Text(dbf, 1, 1, 5), "FIRST");
    EXPECT_EQ(DateToStr(settings.ReadDate("LASTCOPY")), DateToStr(Today()));
    EXPECT_EQ(Text(dbf, 2, 41, 8), "        ");   // second record untouched
}

TEST_F(LocalTables, UpLogRowsOnlyGrow) {
    Open(upLog, kUpLogTableName);
    UpLogRow first = MakeUpLogRow("ftp.example.com", "", 0);
    EXPECT_EQ(first.fileName, "");
    EXPECT_EQ(first.uploadedBy, "XXX");
    EXPECT_EQ(first.date, Today());
    WriteUpLogRow(upLog, first);
    WriteUpLogRow(upLog, {EncodeDate(2005, 6, 15), "ftp.example.com", "061505.xml", "14:05:09", 3, "XXX"});
    EXPECT_EQ(testsupport::RecordCount(dir.path() / kUpLogTableName), 2u);
    const fs::path dbf = dir.path() / kUpLogTableName;
    const auto image = testsupport::RawRecord(dbf, 2);
    const std::string rec(image.begin(), image.end());
    EXPECT_EQ(rec.substr(1, 8), "20050615");
    EXPECT_EQ(rec.substr(9, 15), "ftp.example.com");
    EXPECT_EQ(rec.substr(69, 10), "061505.xml");
    EXPECT_EQ(rec.substr(94, 8), "14:05:09");
    EXPECT_EQ(rec.substr(106, 10), "         3");
    EXPECT_EQ(rec.substr(116, 3), "XXX");
}

struct NameCase {
    const char* path;
    const char* posix;     // only "/" separates
    const char* windows;   // "\\", "/" and ":" separate
};

class NameParts : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameParts, AreTheTextAfterTheLastSeparator) {
    const bool windows = IsNameSeparator('\\');
    EXPECT_EQ(NamePart(GetParam().path), windows ? GetParam().windows : GetParam().posix);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, NameParts,
    ::testing::Values(NameCase{"C:\\Trans\\061505.xml", "C:\\Trans\\061505.xml", "061505.xml"},
                      NameCase{"/srv/trans/061505.xml", "061505.xml", "061505.xml"},
                      NameCase{"C:061505.xml", "C:061505.xml", "061505.xml"},
                      NameCase{"061505.xml", "061505.xml", "061505.xml"}, NameCase{"", "", ""},
                      NameCase{"/srv/trans/", "", ""},
                      NameCase{"\\\\SERVER\\a/b\\c.xml", "b\\c.xml", "c.xml"},
                      NameCase{"a:b", "a:b", "b"}, NameCase{"a\\b", "a\\b", "b"},
                      NameCase{"/srv/trans/a:SALES010126.xml", "a:SALES010126.xml", "SALES010126.xml"},
                      NameCase{"/srv/trans/b:SALES010126.xml", "b:SALES010126.xml", "SALES010126.xml"}));

TEST(NameSeparators, FollowThePlatform) {
    EXPECT_TRUE(IsNameSeparator('/'));
    for (char c : {'a', '.', ' ', '\0', '*'}) EXPECT_FALSE(IsNameSeparator(c)) << c;
    EXPECT_EQ(IsNameSeparator('\\'), IsNameSeparator(':'));
}

// Paths from the program's UTF-8 text and back. Where paths are bytes (POSIX)
// every text comes back as it was; where they are UTF-16 (Windows), an
// ill-formed sequence becomes U+FFFD, as at the Windows API, and never an
// exception: a folder read from a table may hold any bytes.
struct Utf8PathCase {
    const char* title;
    std::string text;
    std::string wide;   // what comes back where paths are UTF-16
};
std::ostream& operator<<(std::ostream& out, const Utf8PathCase& c) { return out << c.title; }

class Utf8Paths : public ::testing::TestWithParam<Utf8PathCase> {};

TEST_P(Utf8Paths, ComeBackAsTheyWentOrWithReplacementCharacters) {
    const Utf8PathCase& c = GetParam();
    const std::filesystem::path path = PathFromUtf8(c.text);
    EXPECT_EQ(Utf8FromPath(path), utf8path::kNarrowPaths ? c.text : c.wide);
    if constexpr (utf8path::kNarrowPaths) {
        EXPECT_EQ(path.native(), c.text);   // the bytes, untouched
    }
}

const std::string kReplacement = "\xEF\xBF\xBD";
INSTANTIATE_TEST_SUITE_P(
    Texts, Utf8Paths,
    ::testing::Values(Utf8PathCase{"Ascii", "C:/Trans/061505.xml", "C:/Trans/061505.xml"},
                      Utf8PathCase{"LatinAndGreek", "Z\xC3\xBCrich-\xCE\xA9/MA\xC3\x91" "ANA.xml",
                                   "Z\xC3\xBCrich-\xCE\xA9/MA\xC3\x91" "ANA.xml"},
                      Utf8PathCase{"BeyondTheBasicPlane", "\xE6\x9D\xB1-\xF0\x9D\x84\x9E", "\xE6\x9D\xB1-\xF0\x9D\x84\x9E"},
                      Utf8PathCase{"Latin1Byte", "Z\xFCrich", "Z" + kReplacement + "rich"},
                      Utf8PathCase{"CutSequence", "A\xE6\x9D", "A" + kReplacement},
                      Utf8PathCase{"EncodedSurrogate", "\xED\xA0\x80x", kReplacement + kReplacement + kReplacement + "x"},
                      Utf8PathCase{"Overlong", "\xC0\xAF", kReplacement + kReplacement}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(Utf8Paths, NameThatIsNotUtf16ComesBackWithReplacementCharacters) {
    if constexpr (!utf8path::kNarrowPaths) {
        using Unit = std::filesystem::path::value_type;
        const std::filesystem::path::string_type lone{Unit('A'), static_cast<Unit>(0xD800), Unit('B')};
        EXPECT_EQ(Utf8FromPath(std::filesystem::path(lone)), "A" + kReplacement + "B");
    } else {
        GTEST_SKIP() << "paths are bytes here";
    }
}

// --- the index rebuild ----------------------------------------------------------------

class IndexRebuild : public LocalTables, public ::testing::WithParamInterface<const char*> {};

TEST_P(IndexRebuild, ReplacesTheProgramFoldersIndexWhateverItsCaseAndCurrentDirectory) {
    // A file log with records but an index that lost its tag.
    Open(fileLog, kFileLogTableName);
    for (const char* n : {"C.xml", "A.xml", "B.xml"}) {
        fileLog.Append();
        fileLog.WriteText("FILENAME", n);
        fileLog.Post();
    }
    fileLog.Close();
    fileLog.CreateIndexTag("OTHER", "COPIED", 0);
    const fs::path index = dir.path() / GetParam();
    for (const auto& p : std::filesystem::directory_iterator(dir.path()))
        if (p.path().extension() == ".CDX" || p.path().extension() == ".cdx") fs::rename(p.path(), index);
    EXPECT_TRUE(FileLogIndexExists(dir.str()));

    // An unrelated filelog.cdx in the current directory must survive.
    testsupport::TempDir elsewhere;
    { std::ofstream(elsewhere.path() / "filelog.cdx") << "not ours"; }
    testsupport::CurrentDir cwd(elsewhere.path());

    fileLog.SetIndexName(kFileLogTag);   // the tag is missing until rebuilt
    IndexFiles(fileLog, dir.str() + "/");
    EXPECT_TRUE(fs::exists(elsewhere.path() / "filelog.cdx"));
    EXPECT_FALSE(fileLog.Active());
    EXPECT_FALSE(fileLog.Exclusive());
    EXPECT_EQ(fileLog.IndexName(), kFileLogTag);
    EXPECT_TRUE(FileLogIndexExists(dir.str()));

    fileLog.Open();
    for (const char* n : {"A.xml", "B.xml", "C.xml"}) EXPECT_TRUE(fileLog.Seek(n, true)) << n;
    EXPECT_THROW(fileLog.SetIndexName("OTHER"), EDbfDatabaseError);   // the old index is gone
}

INSTANTIATE_TEST_SUITE_P(NameSpellings, IndexRebuild, ::testing::Values("FileLog.CDX", "filelog.cdx", "FILELOG.CDX"));

TEST_F(LocalTables, RebuildWithoutAnyIndex) {
    Open(fileLog, kFileLogTableName);
    fileLog.Append();
    fileLog.WriteText("FILENAME", "A.xml");
    fileLog.Post();
    fileLog.Close();
    EXPECT_FALSE(FileLogIndexExists(dir.str()));
    OpenFileLog();
    EXPECT_TRUE(FileLogIndexExists(dir.str()));
    EXPECT_TRUE(fileLog.Seek("A.xml", true));
}

TEST_F(LocalTables, FailedRebuildLeavesTheFileLogClosedAndShared) {
    fs::remove(dir.path() / kFileLogTableName);
    fileLog.SetTableName(kFileLogTableName);
    EXPECT_THROW(IndexFiles(fileLog, dir.str()), EDbfDatabaseError);
    EXPECT_FALSE(fileLog.Active());
    EXPECT_FALSE(fileLog.Exclusive());
}

}  // namespace
