// States, messages, seeks and editing of the table object.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>

#include "data/local/LocalTables.h"
#include "data/storage/OsFile.h"
#include "data/table/DbfTable.h"
#include "data/table/DynamicConnList.h"
#include "tests/data/FileLogTableFixture.h"
#include "tests/data/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Field;
using testsupport::FileLogTable;

// --- messages -----------------------------------------------------------------

struct MessageCase {
    const char* label;
    bool open;
    bool readOnly;
    std::function<void(TDbfTable&)> act;
    const char* message;
    int code;   // 0: a plain database error without a code
};

class Messages : public FileLogTable, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(Messages, CarryTheComponentNameAndCode) {
    const MessageCase& c = GetParam();
    Make({"A.xml"});
    log.SetReadOnly(c.readOnly);
    if (c.open) OpenLog();
    else {
        log.SetDatabaseName(dir.str());
        log.SetTableName("FILELOG.DBF");
    }
    try {
        c.act(log);
        FAIL() << "no error";
    } catch (const EDbfDatabaseError& e) {
        EXPECT_EQ(e.Message(), c.message);
        EXPECT_EQ(e.ErrorCode(), c.code);
        EXPECT_EQ(e.ComponentName(), "DbfFileLog");
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), c.message);
        EXPECT_EQ(0, c.code) << "expected an error with a code";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layer, Messages,
    ::testing::Values(
        MessageCase{"MissingTableName", false, false,
                    [](TDbfTable& t) {
                        t.SetTableName("");
                        t.Open();
                    },
                    "DbfFileLog: Missing TableName property", 5121},
        MessageCase{"MissingFolder", false, false,
                    [](TDbfTable& t) {
                        t.SetDatabaseName("");
                        t.Open();
                    },
                    "DbfFileLog: One of the DatabaseName property or the DbfConnection property must have a value.",
                    5121},
        MessageCase{"FolderOfOpenTable", true, false, [](TDbfTable& t) { t.SetDatabaseName("/tmp"); },
                    "DbfFileLog: Cannot perform this operation on an open dataset", 5121},
        MessageCase{"TableNameOfOpenTable", true, false, [](TDbfTable& t) { t.SetTableName("X.DBF"); },
                    "DbfFileLog: Cannot perform this operation on an open dataset", 5121},
        MessageCase{"TableTypeOfOpenTable", true, false, [](TDbfTable& t) { t.SetTableType(TTableType::ttNTX); },
                    "DbfFileLog: Cannot perform this operation on an open dataset", 5121},
        MessageCase{"ExclusiveOfOpenTable", true, false, [](TDbfTable& t) { t.SetExclusive(true); },
                    "DbfFileLog: Cannot perform this operation on an open dataset", 0},
        MessageCase{"OptionOfOpenTable", true, false, [](TDbfTable& t) { t.SetIndexPageSize(1024); },
                    "DbfFileLog: Table must not be Active.", 5121},
        MessageCase{"WriteWhileBrowsing", true, false, [](TDbfTable& t) { t.WriteText("COPIED", "NO"); },
                    "DbfFileLog: Dataset not in edit mode", 5121},
        MessageCase{"BadDateWhileBrowsing", true, false, [](TDbfTable& t) { t.WriteText("DATE", "not a date"); },
                    "DbfFileLog: Dataset not in edit mode", 5121},
        MessageCase{"DateWhileBrowsing", true, false, [](TDbfTable& t) { t.WriteDate("DATE", 45000); },
                    "DbfFileLog: Dataset not in edit mode", 5121},
        MessageCase{"PostWhileBrowsing", true, false, [](TDbfTable& t) { t.Post(); },
                    "DbfFileLog: Dataset not in edit or insert mode", 0},
        MessageCase{"PostWhileClosed", false, false, [](TDbfTable& t) { t.Post(); },
                    "DbfFileLog: Dataset not in edit or insert mode", 0},
        MessageCase{"EditReadOnly", true, true, [](TDbfTable& t) { t.Edit(); },
                    "DbfFileLog: Cannot modify a read-only dataset", 0},
        MessageCase{"AppendReadOnly", true, true, [](TDbfTable& t) { t.Append(); },
                    "DbfFileLog: Cannot modify a read-only dataset", 0},
        MessageCase{"InsertReadOnly", true, true, [](TDbfTable& t) { t.Insert(); },
                    "DbfFileLog: Cannot modify a read-only dataset", 0},
        MessageCase{"SeekClosed", false, false, [](TDbfTable& t) { t.Seek("A.xml", true); },
                    "DbfFileLog: Cannot perform this operation on a closed dataset", 0},
        MessageCase{"EditClosed", false, false, [](TDbfTable& t) { t.Edit(); },
                    "DbfFileLog: Cannot perform this operation on a closed dataset", 0},
        MessageCase{"AppendClosed", false, false, [](TDbfTable& t) { t.Append(); },
                    "DbfFileLog: Cannot perform this operation on a closed dataset", 0},
        MessageCase{"InsertClosed", false, false, [](TDbfTable& t) { t.Insert(); },
                    "DbfFileLog: Cannot perform this operation on a closed dataset", 0},
        MessageCase{"UnknownField", true, false, [](TDbfTable& t) { t.GetField("NoSuch"); },
                    "DbfFileLog: Field 'NoSuch' not found", 0},
        MessageCase{"FieldOfClosedTable", false, false, [](TDbfTable& t) { t.ReadText("filename"); },
                    "DbfFileLog: Field 'filename' not found", 0},
        MessageCase{"CaseInsensitiveExpression", true, false,
                    [](TDbfTable& t) { t.CreateIndexTag("X", "FILENAME", ixCaseInsensitive | ixExpression); },
                    "DbfFileLog: ixCaseInsensitive is not supported with ixExpression indexes", 5121}),
    [](const ::testing::TestParamInfo<MessageCase>& info) { return info.param.label; });

TEST_F(FileLogTable, EngineErrorsAreWrappedWithTheNameAndTheirCode) {
    log.SetDatabaseName(dir.str());
    log.SetTableName("MISSING.DBF");
    try {
        log.Open();
        FAIL();
    } catch (const EDbfDatabaseError& e) {
        EXPECT_EQ(e.Message().rfind("DbfFileLog: ", 0), 0u) << e.Message();
        EXPECT_EQ(e.ErrorCode(), xbase::kFileNotFound);
        EXPECT_EQ(e.TableName(), "MISSING.DBF");
    }
    EXPECT_FALSE(log.Active());
    EXPECT_EQ(log.State(), TDataSetState::Inactive);
}

TEST_F(FileLogTable, MissingTagFailsTheOpenAndLeavesItClosed) {
    Make({"A.xml"});
    try {
        OpenLog("NOSUCHTAG");
        FAIL();
    } catch (const EDbfDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode(), xbase::kTagNotFound);
    }
    EXPECT_FALSE(log.Active());
    EXPECT_TRUE(log.Fields().empty());
}

TEST_F(FileLogTable, FailedIndexChangeRestoresTheOldName) {
    Make({"B.xml", "A.xml"});
    OpenLog();
    EXPECT_EQ(log.ReadText("FILENAME"), "A.xml");
    EXPECT_THROW(log.SetIndexName("NOSUCHTAG"), EDbfDatabaseError);
    EXPECT_EQ(log.IndexName(), "FILENAME");
    EXPECT_TRUE(log.Seek("B.xml", true));
    log.SetIndexName("");
    EXPECT_EQ(log.ReadText("FILENAME"), "B.xml");   // the current record stays
    EXPECT_THROW(log.Seek("B.xml", true), EDbfDatabaseError);
}

// --- opening --------------------------------------------------------------------

TEST_F(FileLogTable, OpenStandsOnTheFirstVisibleRecordOfTheOrder) {
    Make({"C.xml", "A.xml", "B.xml"});
    MarkDeleted(2);
    OpenLog("");
    EXPECT_EQ(log.State(), TDataSetState::Browsing);
    EXPECT_EQ(log.RecNo(), 1u);
    log.Close();
    OpenLog("FILENAME");
    EXPECT_EQ(log.ReadText("FILENAME"), "B.xml");   // A.xml is deleted
    EXPECT_EQ(log.RecNo(), 3u);
    ASSERT_EQ(log.Fields().size(), 4u);
    EXPECT_EQ(log.Fields()[0].Kind, TFieldType::ftDate);
    EXPECT_EQ(log.Fields()[1].Kind, TFieldType::ftString);
    EXPECT_EQ(log.Fields()[1].Width, 25);
    EXPECT_EQ(log.GetField("filename").FieldNo, 2);
    EXPECT_EQ(log.GetField("Filename").Offset, 9);
}

TEST_F(FileLogTable, FolderKeepsNoTrailingSeparator) {
    log.SetDatabaseName("/x/y/");
    EXPECT_EQ(log.DatabaseName(), "/x/y");
    log.SetDatabaseName("C:\\X\\");
    EXPECT_EQ(log.DatabaseName(), "C:\\X");
    log.SetDatabaseName("/x/y");
    EXPECT_EQ(log.DatabaseName(), "/x/y");
    EXPECT_EQ(TDynamicConnList::Instance().Connect("C:\\X"), TDynamicConnList::Instance().Connect("c:\\x"));
    EXPECT_NE(TDynamicConnList::Instance().Connect("C:\\X"), TDynamicConnList::Instance().Connect("C:\\Y"));
}

TEST_F(FileLogTable, FolderChangeOnOpenTableKeepsTheOldFolder) {
    Make({"A.xml"});
    OpenLog();
    EXPECT_THROW(log.SetDatabaseName("/elsewhere"), EDbfDatabaseError);
    EXPECT_TRUE(log.Active());
    EXPECT_EQ(log.DatabaseName(), dir.str());
    EXPECT_TRUE(log.Seek("A.xml", true));
}

TEST_F(FileLogTable, TableFileNameIgnoresCase) {
    Make({"A.xml"});
    log.SetDatabaseName(dir.str());
    log.SetTableName("filelog.dbf");
    log.SetIndexName("filename");
    log.Open();
    EXPECT_TRUE(log.Seek("A.xml", true));
}

// --- seeks ------------------------------------------------------------------------

struct SeekCase {
    const char* key;
    bool found;
    const char* current;   // FILENAME of the current record afterwards, "" for none
};

class Seeks : public FileLogTable, public ::testing::WithParamInterface<SeekCase> {};

TEST_P(Seeks, HardSeekFindsExactKeysOrStandsAtTheEnd) {
    Make({"B.xml", "D.xml", "A.xml", "C.xml", "D.xml"});
    OpenLog();
    const SeekCase& c = GetParam();
    EXPECT_EQ(log.Seek(c.key, true), c.found);
    EXPECT_EQ(log.ReadText("FILENAME"), c.current);
    EXPECT_EQ(log.Eof(), !c.found);
    if (std::string(c.key) == "D.xml") {
        EXPECT_EQ(log.RecNo(), 2u);   // first in index order
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, Seeks,
                         ::testing::Values(SeekCase{"A.xml", true, "A.xml"}, SeekCase{"D.xml", true, "D.xml"},
                                           SeekCase{"A.xml   ", true, "A.xml"}, SeekCase{"B.xm", false, "D.xml"},
                                           SeekCase{"0.xml", false, "D.xml"}, SeekCase{"Z.xml", false, "D.xml"},
                                           SeekCase{"a.xml", false, "D.xml"}));

TEST_F(FileLogTable, SeekOnAnEmptyTableLeavesNoRecord) {
    Make({});
    OpenLog();
    EXPECT_FALSE(log.Seek("A.xml", true));
    EXPECT_FALSE(log.HasCurrentRecord());
    EXPECT_EQ(log.ReadText("FILENAME"), "");
}

TEST_F(FileLogTable, KeyIsCutTo256Characters) {
    Make({"A.xml"});
    OpenLog();
    const std::string padded = "A.xml" + std::string(251, ' ');
    EXPECT_TRUE(log.Seek(padded + std::string(44, 'X'), true));
    EXPECT_FALSE(log.Seek("A.xml" + std::string(250, ' ') + std::string(45, 'X'), true));
}

TEST_F(FileLogTable, DeletedRecordsAreNotFound) {
    Make({"A.xml", "B.xml", "A.xml"});
    MarkDeleted(1);
    MarkDeleted(2);
    OpenLog();
    EXPECT_TRUE(log.Seek("A.xml", true));
    EXPECT_EQ(log.RecNo(), 3u);
    EXPECT_FALSE(log.Seek("B.xml", true));
}

TEST_F(FileLogTable, SoftSeekStandsOnTheNextKey) {
    Make({"B.xml", "D.xml"});
    OpenLog();
    EXPECT_FALSE(log.Seek("C", false));
    EXPECT_EQ(log.ReadText("FILENAME"), "D.xml");
    EXPECT_TRUE(log.Seek("B.xml", false));
}

// --- editing ------------------------------------------------------------------------

TEST_F(FileLogTable, EditWithoutARecordInsertsAndPostAppends) {
    Make({});
    OpenLog();
    log.Edit();
    EXPECT_EQ(log.State(), TDataSetState::Inserting);
    log.WriteText("FILENAME", "N.xml");
    log.Post();
    EXPECT_EQ(log.State(), TDataSetState::Browsing);
    EXPECT_EQ(Count(), 1u);
    EXPECT_EQ(log.RecNo(), 1u);
    EXPECT_TRUE(log.Seek("N.xml", true));
}

TEST_F(FileLogTable, EditRewritesInPlace) {
    Make({"A.xml", "B.xml"});
    OpenLog();
    ASSERT_TRUE(log.Seek("B.xml", true));
    log.Edit();
    EXPECT_EQ(log.State(), TDataSetState::Editing);
    log.Edit();   // no effect while editing
    log.WriteText("FILENAME", "Z.xml");
    log.Post();
    EXPECT_EQ(Count(), 2u);
    EXPECT_FALSE(log.Seek("B.xml", true));
    EXPECT_TRUE(log.Seek("Z.xml", true));
    EXPECT_EQ(log.RecNo(), 2u);
}

TEST_F(FileLogTable, CancelInBrowsingDoesNothing) {
    Make({"A.xml"});
    OpenLog();
    log.Cancel();
    EXPECT_EQ(log.State(), TDataSetState::Browsing);
    EXPECT_EQ(log.RecNo(), 1u);
}

TEST_F(FileLogTable, SeekPostsAChangedRecordAndCancelsAnUnchangedOne) {
    Make({"A.xml"});
    OpenLog();
    log.Append();
    log.WriteText("FILENAME", "P.xml");
    EXPECT_TRUE(log.Seek("P.xml", true));   // posted first
    EXPECT_EQ(Count(), 2u);
    log.Append();
    EXPECT_FALSE(log.Seek("Q.xml", true));  // nothing written: cancelled
    EXPECT_EQ(log.State(), TDataSetState::Browsing);
    EXPECT_EQ(Count(), 2u);
    ASSERT_TRUE(log.Seek("A.xml", true));
    log.Edit();
    EXPECT_TRUE(log.Seek("P.xml", true));
    EXPECT_EQ(log.State(), TDataSetState::Browsing);
}

TEST_F(FileLogTable, CloseWhileEditingWritesNothing) {
    Make({"A.xml"});
    OpenLog();
    log.Edit();
    log.WriteText("FILENAME", "CHANGED");
    log.Close();
    EXPECT_EQ(log.State(), TDataSetState::Inactive);
    OpenLog();
    EXPECT_TRUE(log.Seek("A.xml", true));
    log.Append();
    log.WriteText("FILENAME", "NEW");
    log.Close();
    EXPECT_EQ(Count(), 1u);
}

TEST_F(FileLogTable, CancelOfAnAppendGoesToTheLastRecordAndOfAnInsertBack) {
    Make({"C.xml", "A.xml", "B.xml"});
    OpenLog();
    ASSERT_TRUE(log.Seek("A.xml", true));
    log.Append();
    log.Cancel();
    EXPECT_EQ(log.ReadText("FILENAME"), "C.xml");   // last in tag order
    ASSERT_TRUE(log.Seek("A.xml", true));
    log.Insert();
    EXPECT_EQ(log.ReadText("FILENAME"), "");
    log.Cancel();
    EXPECT_EQ(log.ReadText("FILENAME"), "A.xml");
    EXPECT_EQ(Count(), 3u);
}

TEST_F(FileLogTable, PostingTwiceAppendsOnce) {
    Make({});
    OpenLog();
    log.Append();
    log.WriteText("FILENAME", "A.xml");
    log.Post();
    EXPECT_THROW(log.Post(), EDatabaseError);
    EXPECT_EQ(Count(), 1u);
}

TEST_F(FileLogTable, ListenersAndTheUpdateHookAreTold) {
    Make({"A.xml"});
    std::vector<TDbfTable::Change> seen;
    const int id = log.AddListener([&](TDbfTable::Change c) { seen.push_back(c); });
    int hookCalls = 0;
    log.SetUpdateRecordHook([&] {
        ++hookCalls;
        log.WriteText("COPIED", "NO");   // text a bound control still held
    });
    OpenLog();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), TDbfTable::Change::Opened);
    log.Edit();
    EXPECT_EQ(log.State(), TDataSetState::Editing);
    log.Post();
    EXPECT_EQ(hookCalls, 1);
    EXPECT_EQ(log.ReadText("COPIED"), "NO");
    log.Edit();
    log.Seek("A.xml", true);   // the hook's change makes the seek post
    EXPECT_GE(hookCalls, 2);
    EXPECT_EQ(log.State(), TDataSetState::Browsing);
    const int calls = hookCalls;
    log.Seek("A.xml", true);   // nothing pending: no hook
    EXPECT_EQ(hookCalls, calls);
    const auto count = [&](TDbfTable::Change c) { return std::count(seen.begin(), seen.end(), c); };
    EXPECT_GE(count(TDbfTable::Change::StateChanged), 4);
    EXPECT_GE(count(TDbfTable::Change::FieldChanged), 2);
    EXPECT_GE(count(TDbfTable::Change::RecordMoved), 2);
    log.Close();
    EXPECT_EQ(seen.back(), TDbfTable::Change::Closed);
    log.RemoveListener(id);
    const size_t before = seen.size();
    OpenLog();
    EXPECT_EQ(seen.size(), before);
}

// Another process editing the same record is refused until the lock goes.
TEST_F(FileLogTable, EditHoldsARecordLockInSharedMode) {
    Make({"A.xml", "B.xml"});
    OpenLog();
    ASSERT_TRUE(log.Seek("A.xml", true));
    log.Edit();
    auto otherProcessEdits = [&](const char* name) -> int {
        return testsupport::InChild([&] {
            int code = 0;
            try {
                TDbfTable other("DbfOther");
                OpenOther(other);
                if (!other.Seek(name, true)) return 3;
                try {
                    other.Edit();
                    other.Cancel();
                } catch (const EDbfDatabaseError& e) {
                    code = e.ErrorCode() == xbase::kRecordLocked && other.State() == TDataSetState::Browsing &&
                                   e.Message().rfind("DbfOther: ", 0) == 0
                               ? 1
                               : 4;
                }
            } catch (...) {
                code = 5;
            }
            return code;
        });
    };
    EXPECT_EQ(otherProcessEdits("A.xml"), 1);   // locked
    EXPECT_EQ(otherProcessEdits("B.xml"), 0);   // another record is free
    log.Post();
    EXPECT_EQ(otherProcessEdits("A.xml"), 0);   // unlocked by Post
    log.Edit();
    log.Cancel();
    EXPECT_EQ(otherProcessEdits("A.xml"), 0);   // and by Cancel
}

// A table whose index has a tag the engine cannot evaluate refuses every
// write; the failed Post keeps the state and the values, and a retry neither
// appends nor loses anything.
TEST(FailedPost, KeepsTheStateAndTheValues) {
    testsupport::TempDir dir;
    for (const char* ext : {".dbf", ".cdx", ".fpt"})
        fs::copy_file(fs::path(testsupport::SourceDir()) / "tests/fixtures/xbase" / (std::string("vfp_employees") + ext),
                      dir.path() / (std::string("vfp_employees") + ext));
    TDbfTable t("DbfEmployees");
    t.SetDatabaseName(dir.str());
    t.SetTableName("vfp_employees.dbf");
    t.SetIndexName("LASTNAME");
    t.Open();
    const uint32_t before = testsupport::RecordCount(dir.path() / "vfp_employees.dbf");
    t.Append();
    t.WriteText("LASTNAME", "Newcomer");
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            t.Post();
            FAIL();
        } catch (const EDbfDatabaseError& e) {
            EXPECT_EQ(e.ErrorCode(), xbase::kBadExpression);
            EXPECT_EQ(e.Message().rfind("DbfEmployees: ", 0), 0u);
        }
        EXPECT_EQ(t.State(), TDataSetState::Inserting);
        EXPECT_EQ(t.ReadText("lastname"), "Newcomer");
    }
    EXPECT_EQ(testsupport::RecordCount(dir.path() / "vfp_employees.dbf"), before);
    t.Cancel();
    EXPECT_EQ(t.State(), TDataSetState::Browsing);

    const std::string first = t.ReadText("LASTNAME");
    t.Edit();
    t.WriteText("LASTNAME", "Changed");
    EXPECT_THROW(t.Post(), EDbfDatabaseError);
    EXPECT_EQ(t.State(), TDataSetState::Editing);
    t.Cancel();
    EXPECT_EQ(t.ReadText("LASTNAME"), first);
}

// --- index tags ------------------------------------------------------------------------

struct TagCase {
    const char* expression;
    TIndexOptions options;
    const char* stored;
};

class TagExpressions : public FileLogTable, public ::testing::WithParamInterface<TagCase> {};

TEST_P(TagExpressions, AreRewrittenForCompoundIndexes) {
    Make({"b.xml", "A.xml"}, false);
    log.SetDatabaseName(dir.str());
    log.SetTableName("FILELOG.DBF");
    log.CreateIndexTag("T2", GetParam().expression, GetParam().options);   // closed: opened for the call
    EXPECT_FALSE(log.Active());
    auto t = xbase::XbaseTable::open(dbf(), xbase::OpenMode::Shared, true);
    EXPECT_EQ(t->tag("T2")->expression(), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Options, TagExpressions,
                         ::testing::Values(TagCase{"FILENAME", 0, "FILENAME"},
                                           TagCase{"FILENAME;COPIED", 0, "FILENAME+COPIED"},
                                           TagCase{"FILENAME", ixCaseInsensitive, "UPPER(FILENAME)"},
                                           TagCase{"FILENAME;COPIED", ixCaseInsensitive, "UPPER(FILENAME)+UPPER(COPIED)"}));

TEST_F(FileLogTable, CaseInsensitiveTagFindsUpperCaseKeys) {
    Make({"b.xml", "A.xml"});
    OpenLog();
    log.CreateIndexTag("UNAME", "FILENAME", ixCaseInsensitive);
    log.SetIndexName("UNAME");
    EXPECT_TRUE(log.Seek("B.XML", true));
    EXPECT_EQ(log.ReadText("FILENAME"), "b.xml");
}

TEST_F(FileLogTable, NewTagCoversEveryRecord) {
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) names.push_back("F" + std::to_string(1000 - i) + ".xml");
    Make(names);
    OpenLog();
    for (const std::string& n : names) ASSERT_TRUE(log.Seek(n, true)) << n;
}

}  // namespace
