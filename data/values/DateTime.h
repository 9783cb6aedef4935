#pragma once
// Date-times as the program counts them: whole days since 30 December 1899
// (day 0), the time of day as the fraction. The program-wide short date
// format is installed by TDbfSettings ("MM/DD/yy", separator "/").
#include <optional>
#include <string>
#include <string_view>

using TDateTime = double;

TDateTime EncodeDate(int year, int month, int day);   // throws EConvertError on a bad date
void DecodeDate(TDateTime value, int& year, int& month, int& day);
TDateTime DateOf(TDateTime value);                     // time of day dropped
TDateTime Now();                                       // local time
TDateTime Today();
TDateTime FromUnixTime(long long seconds);             // local time of a file timestamp

// Program-wide short date format and separator.
void SetShortDateFormat(std::string_view format, char separator);
std::string ShortDateFormat();
char DateSeparator();

std::string DateToStr(TDateTime value);                // in the short date format
// Month, day, year in the short date format's order; years of 1-2 digits
// fall in the century window that begins 50 years before now.
std::optional<TDateTime> TryStrToDate(std::string_view text);
TDateTime StrToDate(std::string_view text);            // EConvertError "'%s' is not a valid date"
std::string TimeToStr(TDateTime value);                // long time format, e.g. 14:05:09
