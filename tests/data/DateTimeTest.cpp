#include <gtest/gtest.h>

#include <ctime>

#include "data/values/DateTime.h"
#include "rtl/Exceptions.h"

namespace {

int ThisYear() {
    int y = 0, m = 0, d = 0;
    DecodeDate(Today(), y, m, d);
    return y;
}

TEST(DateTime, DayZeroIsThe30thOfDecember1899) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(2005, 6, 15), 38518.0);
    EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
    int y = 0, m = 0, d = 0;
    DecodeDate(38518.729, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 20050615);
    EXPECT_EQ(DateOf(38518.729), 38518.0);
}

TEST(DateTime, BadDatesAreRefused) {
    EXPECT_THROW(EncodeDate(2005, 2, 29), EConvertError);
    EXPECT_THROW(EncodeDate(2005, 13, 1), EConvertError);
    EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
    EXPECT_NO_THROW(EncodeDate(2004, 2, 29));
}

struct TextCase {
    const char* text;
    int year, month, day;   // 0: not a date
};

class StrToDateCases : public ::testing::TestWithParam<TextCase> {};

TEST_P(StrToDateCases, ReadsMonthDayYear) {
    SetShortDateFormat("MM/DD/yy", '/');
    const TextCase& c = GetParam();
    const auto value = TryStrToDate(c.text);
    if (c.year == 0) {
        EXPECT_FALSE(value.has_value()) << c.text;
        return;
    }
    ASSERT_TRUE(value.has_value()) << c.text;
    EXPECT_EQ(*value, EncodeDate(c.year, c.month, c.day)) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Texts, StrToDateCases,
                         ::testing::Values(TextCase{"06/15/05", 2005, 6, 15}, TextCase{"6/5/2005", 2005, 6, 5},
                                           TextCase{" 06/15/05 ", 2005, 6, 15}, TextCase{"12/31/1999", 1999, 12, 31},
                                           TextCase{"01/02/0123", 123, 1, 2}, TextCase{"15/06/05", 0, 0, 0},
                                           TextCase{"02/30/05", 0, 0, 0}, TextCase{"06-15-05", 0, 0, 0},
                                           TextCase{"", 0, 0, 0}, TextCase{"06/15/05/01", 0, 0, 0},
                                           TextCase{"ab/cd/ef", 0, 0, 0}, TextCase{"06/15/", 0, 0, 0},
                                           TextCase{"99999/1/1", 0, 0, 0}));

TEST(DateTime, TwoDigitYearsFallInTheHundredYearsFrom50YearsAgo) {
    SetShortDateFormat("MM/DD/yy", '/');
    const int pivot = ThisYear() - 50;
    for (int yy = 0; yy < 100; ++yy) {
        char text[16];
        std::snprintf(text, sizeof text, "01/01/%02d", yy);
        int y = 0, m = 0, d = 0;
        DecodeDate(StrToDate(text), y, m, d);
        EXPECT_GE(y, pivot) << text;
        EXPECT_LT(y, pivot + 100) << text;
        EXPECT_EQ(y % 100, yy) << text;
    }
}

TEST(DateTime, NotADateMessage) {
    try {
        StrToDate("15/06/05");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'15/06/05' is not a valid date");
    }
}

TEST(DateTime, DateToStrUsesTheShortDateFormat) {
    SetShortDateFormat("MM/DD/yy", '/');
    EXPECT_EQ(DateToStr(EncodeDate(2005, 6, 15) + 0.73), "06/15/05");
    EXPECT_EQ(DateToStr(EncodeDate(1999, 1, 2)), "01/02/99");
    SetShortDateFormat("dd/mm/yyyy", '.');
    EXPECT_EQ(DateToStr(EncodeDate(2005, 6, 15)), "15.06.2005");
    EXPECT_EQ(StrToDate("15.06.2005"), EncodeDate(2005, 6, 15));
    SetShortDateFormat("MM/DD/yy", '/');
}

TEST(DateTime, TimeToStrIsTheLongTimeFormat) {
    EXPECT_EQ(TimeToStr(EncodeDate(2005, 6, 15) + (14 * 3600 + 5 * 60 + 9) / 86400.0), "14:05:09");
    EXPECT_EQ(TimeToStr(0), "00:00:00");
    EXPECT_EQ(TimeToStr(0.5), "12:00:00");
}

TEST(DateTime, UnixTimesAreLocalTime) {
    const long long seconds = 1118856600;   // 2005-06-15 17:30 UTC
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    const TDateTime v = FromUnixTime(seconds);
    int y = 0, m = 0, d = 0;
    DecodeDate(v, y, m, d);
    EXPECT_EQ(y, local.tm_year + 1900);
    EXPECT_EQ(m, local.tm_mon + 1);
    EXPECT_EQ(d, local.tm_mday);
    EXPECT_EQ(TimeToStr(v).substr(0, 2), (local.tm_hour < 10 ? "0" : "") + std::to_string(local.tm_hour));
    EXPECT_EQ(Today(), DateOf(Now()));
}

}  // namespace
