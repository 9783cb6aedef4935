#include "data/values/DateTime.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#include "rtl/Exceptions.h"

namespace {

// Day 0 of TDateTime, counted as days since 1 January 1970.
constexpr long long kUnixEpochDays = 25569;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ValidDate(int y, int m, int d) {
    return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

struct DateFormatState {
    std::mutex mutex;
    std::string format = "MM/DD/yy";
    char separator = '/';
};

DateFormatState& FormatState() {
    static DateFormatState state;
    return state;
}

TDateTime FromTm(const std::tm& t) {
    const TDateTime date = static_cast<TDateTime>(
        DaysFromCivil(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1), static_cast<unsigned>(t.tm_mday)) +
        kUnixEpochDays);
    return date + (t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec) / 86400.0;
}

int CurrentYear() {
    int y = 0, m = 0, d = 0;
    DecodeDate(Today(), y, m, d);
    return y;
}

// A year of one or two digits lies in the hundred years that begin 50 years
// before the current year.
int ExpandYear(int year, int digits) {
    if (digits > 2) return year;
    const int pivot = CurrentYear() - 50;
    int full = pivot / 100 * 100 + year;
    if (full < pivot) full += 100;
    return full;
}

std::string TwoDigits(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
    if (!ValidDate(year, month, day)) throw EConvertError("Invalid argument to date encode");
    return static_cast<TDateTime>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                                  kUnixEpochDays);
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    // Outside the years 1 to 9999 there is no calendar date.
    if (!(value > -693594.0 && value < 2958466.0)) {
        year = month = day = 0;
        return;
    }
    const long long days = static_cast<long long>(std::trunc(value));
    CivilFromDays(days - kUnixEpochDays, year, month, day);
}

TDateTime DateOf(TDateTime value) { return std::trunc(value); }

TDateTime Now() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return FromTm(local);
}

TDateTime Today() { return DateOf(Now()); }

TDateTime FromUnixTime(long long seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) return 0;
    return FromTm(local);
}

void SetShortDateFormat(std::string_view format, char separator) {
    DateFormatState& s = FormatState();
    std::lock_guard lock(s.mutex);
    s.format = std::string(format);
    s.separator = separator;
}

std::string ShortDateFormat() {
    DateFormatState& s = FormatState();
    std::lock_guard lock(s.mutex);
    return s.format;
}

char DateSeparator() {
    DateFormatState& s = FormatState();
    std::lock_guard lock(s.mutex);
    return s.separator;
}

std::string DateToStr(TDateTime value) {
    int y = 0, m = 0, d = 0;
    DecodeDate(value, y, m, d);
    const std::string format = ShortDateFormat();
    const char sep = DateSeparator();
    std::string out;
    for (size_t i = 0; i < format.size();) {
        const char c = format[i];
        const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t run = 1;
        while (i + run < format.size() &&
               std::tolower(static_cast<unsigned char>(format[i + run])) == lower)
            ++run;
        if (lower == 'd') {
            out += run >= 2 ? TwoDigits(d) : std::to_string(d);
        } else if (lower == 'm') {
            out += run >= 2 ? TwoDigits(m) : std::to_string(m);
        } else if (lower == 'y') {
            char buf[16];
            if (run <= 2) std::snprintf(buf, sizeof buf, "%02d", y % 100);
            else std::snprintf(buf, sizeof buf, "%04d", y);
            out += buf;
        } else if (c == '/') {
            out.append(run, sep);
        } else {
            out.append(format, i, run);
        }
        i += run;
    }
    return out;
}

std::optional<TDateTime> TryStrToDate(std::string_view text) {
    // The order of day, month and year follows the short date format.
    std::string order;
    for (char c : ShortDateFormat()) {
        const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if ((lower == 'd' || lower == 'm' || lower == 'y') && order.find(lower) == std::string::npos)
            order += lower;
    }
    if (order.size() != 3) order = "mdy";
    const char sep = DateSeparator();

    struct Number { int value; int digits; };
    std::vector<Number> numbers;
    size_t i = 0;
    auto skipBlanks = [&] { while (i < text.size() && text[i] == ' ') ++i; };
    skipBlanks();
    while (i < text.size()) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
        int value = 0, digits = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            if (digits >= 4) return std::nullopt;
            value = value * 10 + (text[i] - '0');
            ++digits;
            ++i;
        }
        numbers.push_back({value, digits});
        skipBlanks();
        if (i == text.size()) break;
        if (text[i] != sep || numbers.size() == 3) return std::nullopt;
        ++i;
        skipBlanks();
        if (i == text.size()) return std::nullopt;
    }
    if (numbers.size() < 2) return std::nullopt;

    int y = 0, m = 0, d = 0;
    if (numbers.size() == 2) {
        // Without a year: the two numbers in the format's order, this year.
        y = CurrentYear();
        std::string dm;
        for (char c : order) if (c != 'y') dm += c;
        for (size_t k = 0; k < 2; ++k) (dm[k] == 'm' ? m : d) = numbers[k].value;
    } else {
        for (size_t k = 0; k < 3; ++k) {
            const Number& n = numbers[k];
            if (order[k] == 'y') y = ExpandYear(n.value, n.digits);
            else if (order[k] == 'm') m = n.value;
            else d = n.value;
        }
    }
    if (!ValidDate(y, m, d)) return std::nullopt;
    return EncodeDate(y, m, d);
}

TDateTime StrToDate(std::string_view text) {
    if (auto v = TryStrToDate(text)) return *v;
    throw EConvertError("'" + std::string(text) + "' is not a valid date");
}

std::string TimeToStr(TDateTime value) {
    double fraction = value - std::trunc(value);
    if (fraction < 0) fraction = -fraction;
    long long seconds = static_cast<long long>(std::floor(fraction * 86400.0 + 0.5 / 1000.0));
    if (seconds >= 86400) seconds = 86399;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return buf;
}
