// Field encodings through the table: what each write stores in the file and
// what each read gives back.
#include <gtest/gtest.h>

#include <functional>

#include "data/table/DbfTable.h"
#include "tests/data/TestSupport.h"

namespace {

using testsupport::Field;

struct WriteCase {
    const char* label;
    const char* field;
    std::function<void(TDbfTable&)> write;
    const char* stored;       // the field's bytes in the file; nullptr when the write fails
    const char* readText;     // ReadText after the write
    const char* error;        // message of the failure
};

class FieldWrites : public ::testing::TestWithParam<WriteCase> {
protected:
    void SetUp() override {
        SetShortDateFormat("MM/DD/yy", '/');
        xbase::XbaseTable::create(dir.path() / "T.DBF",
                                  {Field("NAME6", 'C', 6), Field("C5", 'C', 5), Field("D", 'D', 8), Field("N5", 'N', 5),
                                   Field("N3", 'N', 3), Field("N102", 'N', 10, 2), Field("FLAG", 'L', 1)});
        table.SetDatabaseName(dir.str());
        table.SetTableName("T.DBF");
        table.Open();
    }
    std::string StoredBytes(const char* field) {
        const TDbfFieldDef& f = table.GetField(field);
        const auto image = testsupport::RawRecord(dir.path() / "T.DBF", 1);
        return std::string(reinterpret_cast<const char*>(image.data()) + f.Offset, f.Width);
    }
    testsupport::TempDir dir;
    TDbfTable table{"T"};
};

TEST_P(FieldWrites, StoreAndReadBack) {
    const WriteCase& c = GetParam();
    table.Append();
    if (c.stored == nullptr) {
        try {
            c.write(table);
            FAIL() << "no error";
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), c.error);
        }
        EXPECT_EQ(table.State(), TDataSetState::Inserting);
        return;
    }
    c.write(table);
    EXPECT_EQ(table.ReadText(c.field), c.readText);
    table.Post();
    EXPECT_EQ(StoredBytes(c.field), c.stored);
    EXPECT_EQ(table.ReadText(c.field), c.readText);
}

const TDateTime k20050615 = 38518;

INSTANTIATE_TEST_SUITE_P(
    Encodings, FieldWrites,
    ::testing::Values(
        WriteCase{"TextCutToWidth", "NAME6", [](TDbfTable& t) { t.WriteText("NAME6", "PQRSTUVWXY"); }, "PQRSTU",
                  "PQRSTU", ""},
        WriteCase{"EmptyTextIsBlank", "NAME6", [](TDbfTable& t) { t.WriteText("NAME6", ""); }, "      ", "", ""},
        WriteCase{"LeadingBlanksStay", "C5", [](TDbfTable& t) { t.WriteText("C5", "  A  "); }, "  A  ", "  A", ""},
        WriteCase{"EmptyDateIsBlank", "D", [](TDbfTable& t) { t.WriteText("D", ""); }, "        ", "", ""},
        WriteCase{"DateTimeDropsTheTime", "D", [](TDbfTable& t) { t.WriteDate("D", k20050615 + 17.5 / 24); },
                  "20050615", "06/15/05", ""},
        WriteCase{"DateText", "D", [](TDbfTable& t) { t.WriteText("D", "06/15/05"); }, "20050615", "06/15/05", ""},
        WriteCase{"NotADate", "D", [](TDbfTable& t) { t.WriteText("D", "15/06/05"); }, nullptr, "",
                  "'15/06/05' is not a valid date"},
        WriteCase{"DateBeyondTheCalendar", "D", [](TDbfTable& t) { t.WriteDate("D", 1e9); }, nullptr, "",
                  "T: Something's wrong with the engine's date functions"},
        WriteCase{"IntegerRightAligned", "N5", [](TDbfTable& t) { t.WriteInteger("N5", 12); }, "   12", "12", ""},
        WriteCase{"IntegerFillsTheWidth", "N5", [](TDbfTable& t) { t.WriteInteger("N5", -1234); }, "-1234", "-1234",
                  ""},
        WriteCase{"IntegerTooWide", "N5", [](TDbfTable& t) { t.WriteInteger("N5", 123456); }, nullptr, "",
                  "T: Numeric out of range."},
        WriteCase{"NegativeTooWide", "N5", [](TDbfTable& t) { t.WriteInteger("N5", -12345); }, nullptr, "",
                  "T: Numeric out of range."},
        WriteCase{"SmallintField", "N3", [](TDbfTable& t) { t.WriteInteger("N3", 999); }, "999", "999", ""},
        WriteCase{"SmallintTooWide", "N3", [](TDbfTable& t) { t.WriteInteger("N3", 1000); }, nullptr, "",
                  "T: Numeric out of range."},
        WriteCase{"DecimalsWritten", "N102", [](TDbfTable& t) { t.WriteInteger("N102", 1200); }, "   1200.00",
                  "1200.00", ""},
        WriteCase{"DecimalsTooWide", "N102", [](TDbfTable& t) { t.WriteInteger("N102", 1234567890); }, nullptr, "",
                  "T: Numeric out of range."},
        WriteCase{"LogicalTrue", "FLAG", [](TDbfTable& t) { t.WriteText("FLAG", "Y"); }, "T", "True", ""},
        WriteCase{"FieldNamesIgnoreCase", "NAME6", [](TDbfTable& t) { t.WriteText("name6", "abc"); }, "abc   ",
                  "abc", ""}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return info.param.label; });

TEST_F(FieldWrites, BlankDateReadsAsZeroAndEmptyText) {
    table.Append();
    table.WriteText("NAME6", "x");
    table.Post();
    EXPECT_EQ(table.ReadDate("D"), 0.0);
    EXPECT_EQ(table.ReadText("D"), "");
    EXPECT_EQ(table.ReadText("NAME6"), "x");
}

TEST_F(FieldWrites, NoCurrentRecordReadsEmpty) {
    EXPECT_FALSE(table.HasCurrentRecord());
    EXPECT_EQ(table.ReadText("NAME6"), "");
    EXPECT_EQ(table.ReadText("N5"), "");
    EXPECT_EQ(table.ReadDate("D"), 0.0);
}

TEST_F(FieldWrites, DateReadsBackAtMidnight) {
    table.Append();
    table.WriteDate("D", k20050615 + 17.5 / 24);
    table.Post();
    EXPECT_EQ(table.ReadDate("D"), k20050615);
}

}  // namespace
