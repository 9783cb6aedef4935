// The in-memory transfer list: closed and open, cutting, current row, deletes.
#include <gtest/gtest.h>

#include "data/table/DbfTable.h"
#include "scan/TransferList.h"

namespace {

TransferRow Row(const std::string& name, const std::string& copied = "No") {
    return {StrToDate("06/15/05") + 0.75, name, StrToDate("06/14/05") + 0.5, copied};
}

TEST(TransferList, ClosedListRefusesFirstAndCount) {
    TTransferList list;
    EXPECT_FALSE(list.Active());
    EXPECT_EQ(list.RecNo(), -1);
    EXPECT_TRUE(list.Eof());
    try {
        list.First();
        ADD_FAILURE() << "First on a closed list";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "MemTable_Import: Cannot perform this operation on a closed dataset");
    }
    EXPECT_THROW(list.RecordCount(), EDatabaseError);
}

TEST(TransferList, AppendOpensKeepsTheWholeNameAndMakesTheRowCurrent) {
    TTransferList list;
    list.Append(Row("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123.xml", "Yesterday"));
    ASSERT_TRUE(list.Active());
    EXPECT_EQ(list.RecordCount(), 1u);
    EXPECT_EQ(list.RecNo(), 1);
    EXPECT_EQ(list.ReadText("filename"), "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123.xml");   // the file to send, never a cut name
    EXPECT_EQ(list.ReadText("COPIED"), "Yes");
    EXPECT_EQ(list.ReadText("DATE"), "06/15/05");
    EXPECT_EQ(list.ReadDate("DATE"), StrToDate("06/15/05"));   // the time of day is dropped
    EXPECT_EQ(list.FilCreatedText(), "06/14/05");
    EXPECT_THROW(list.ReadText("NOPE"), EDatabaseError);
}

TEST(TransferList, WalkFromFirstToEnd) {
    TTransferList list;
    for (const char* name : {"a.xml", "b.xml", "c.xml"}) list.Append(Row(name));
    EXPECT_EQ(list.RecNo(), 3);
    list.First();
    std::vector<std::string> walked;
    for (; !list.Eof(); list.Next()) walked.push_back(list.FileNameText());
    EXPECT_EQ(walked, (std::vector<std::string>{"a.xml", "b.xml", "c.xml"}));
}

struct DeleteCase {
    const char* title;
    std::vector<std::size_t> deleted;
    std::vector<std::string> left;
    int recNo;
};

class TransferListDelete : public ::testing::TestWithParam<DeleteCase> {};

TEST_P(TransferListDelete, RemovesRowsAndMovesTheCurrentRow) {
    TTransferList list;
    for (const char* name : {"a", "b", "c", "d"}) list.Append(Row(name));
    list.Delete(GetParam().deleted);
    std::vector<std::string> left;
    for (const auto& row : list.Rows()) left.push_back(row.FileName);
    EXPECT_EQ(left, GetParam().left);
    EXPECT_EQ(list.RecNo(), GetParam().recNo);
    EXPECT_TRUE(list.Active());
}

INSTANTIATE_TEST_SUITE_P(Cases, TransferListDelete,
                         ::testing::Values(DeleteCase{"Middle", {1}, {"a", "c", "d"}, 2},
                                           DeleteCase{"Last", {3}, {"a", "b", "c"}, 3},
                                           DeleteCase{"Several", {2, 0}, {"b", "d"}, 2},
                                           DeleteCase{"All", {0, 1, 2, 3}, {}, -1},
                                           DeleteCase{"OutOfRangeIgnored", {9}, {"a", "b", "c", "d"}, 4}),
                         [](const auto& info) { return std::string(info.param.title); });

TEST(TransferList, EmptiedListStaysOpen) {
    TTransferList list;
    list.Append(Row("a"));
    list.DeleteCurrent();
    EXPECT_TRUE(list.Active());
    EXPECT_EQ(list.RecordCount(), 0u);
    EXPECT_EQ(list.RecNo(), -1);
    list.First();
    EXPECT_TRUE(list.Eof());
    list.Close();
    EXPECT_THROW(list.First(), EDatabaseError);
}

TEST(TransferList, ListenerHearsChanges) {
    TTransferList list;
    std::vector<TTransferList::Change> heard;
    list.SetOnChanged([&](TTransferList::Change c) { heard.push_back(c); });
    list.Append(Row("a"));
    list.Delete({0});
    list.Close();
    using C = TTransferList::Change;
    EXPECT_EQ(heard, (std::vector<C>{C::Reset, C::RowAppended, C::RowsRemoved, C::Reset}));
}

}  // namespace
