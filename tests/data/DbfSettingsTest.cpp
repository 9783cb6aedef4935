#include <gtest/gtest.h>

#include "data/table/DbfSettings.h"
#include "data/values/DateTime.h"

namespace {

TEST(DbfSettings, OnlyOnePerProcess) {
    TDbfSettings first;
    try {
        TDbfSettings second;
        FAIL();
    } catch (const DbfSettingsError& e) {
        EXPECT_STREQ(e.what(), "Only one DbfSettings component is allowed per application");
    }
}

TEST(DbfSettings, StoredValuesInstallTheProgramWideDateFormat) {
    SetShortDateFormat("dd.mm.yyyy", '.');
    TDbfSettings settings;
    settings.ApplyStoredValues();
    EXPECT_EQ(settings.DateFormat(), "MM/DD/yy");
    EXPECT_EQ(ShortDateFormat(), "MM/DD/yy");
    EXPECT_EQ(DateSeparator(), '/');
    EXPECT_EQ(settings.NumDecimals(), 2);
    EXPECT_TRUE(settings.SetHostDate());
    EXPECT_FALSE(settings.ShowDeleted());
    EXPECT_FALSE(EngineShowsDeleted());
    EXPECT_EQ(settings.DbfServerTypes(), static_cast<unsigned>(stLocal));
    EXPECT_EQ(settings.NumCachedTables(), 0);
    EXPECT_EQ(settings.NumCachedCursors(), 25);
    EXPECT_EQ(DateToStr(EncodeDate(2005, 6, 15)), "06/15/05");
}

struct FormatCase {
    const char* format;
    const char* hostFormat;
    char separator;
};

class DateFormatCases : public ::testing::TestWithParam<FormatCase> {};

TEST_P(DateFormatCases, CenturyLettersBecomeYAndTheLastOtherCharacterSeparates) {
    TDbfSettings settings;
    settings.SetDateFormat(GetParam().format);
    EXPECT_EQ(ShortDateFormat(), GetParam().hostFormat);
    EXPECT_EQ(DateSeparator(), GetParam().separator);
    settings.SetDateFormat("MM/DD/yy");
}

INSTANTIATE_TEST_SUITE_P(Formats, DateFormatCases,
                         ::testing::Values(FormatCase{"MM/DD/yy", "MM/DD/yy", '/'},
                                           FormatCase{"MM/dd/ccyy", "MM/dd/yyyy", '/'},
                                           FormatCase{"DD.MM.CCYY", "DD.MM.yyyy", '.'},
                                           FormatCase{"yy-MM/DD", "yy-MM/DD", '/'},
                                           FormatCase{"", "MM/dd/yyyy", '/'}));

struct RefusalCase {
    void (*apply)(TDbfSettings&);
    const char* message;
};

class RefusedValues : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusedValues, KeepThePreviousValue) {
    TDbfSettings settings;
    settings.ApplyStoredValues();
    try {
        GetParam().apply(settings);
        FAIL();
    } catch (const DbfSettingsError& e) {
        EXPECT_STREQ(e.what(), GetParam().message);
    }
    EXPECT_EQ(settings.DbfServerTypes(), static_cast<unsigned>(stLocal));
    EXPECT_EQ(settings.NumCachedTables(), 0);
    EXPECT_EQ(settings.NumCachedCursors(), 25);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RefusedValues,
    ::testing::Values(
        RefusalCase{[](TDbfSettings& s) { s.SetDbfServerTypes(0); }, "At least one server type must be selected."},
        RefusalCase{[](TDbfSettings& s) { s.SetNumCachedTables(-1); },
                    "NumCachedTables value must be greater than zero."},
        RefusalCase{[](TDbfSettings& s) { s.SetNumCachedCursors(-5); },
                    "NumCachedCursors value must be greater than zero."}));

TEST(DbfSettings, HostDateOffPutsBackThePreviousFormat) {
    SetShortDateFormat("dd.mm.yyyy", '.');
    TDbfSettings settings;
    settings.SetDateFormat("MM/DD/yy");
    EXPECT_EQ(ShortDateFormat(), "MM/DD/yy");
    settings.SetSetHostDate(false);
    EXPECT_EQ(ShortDateFormat(), "dd.mm.yyyy");
    SetShortDateFormat("MM/DD/yy", '/');
}

}  // namespace
