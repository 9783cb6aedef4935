#pragma once
// Today as the tables store a date (YYYYMMDD), for comparing with what an
// independent reader shows.
#include <cstdio>
#include <string>

#include "data/values/DateTime.h"

namespace qz::test {

inline std::string TodayYmd() {
    int y, m, d;
    DecodeDate(Today(), y, m, d);
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", y, m, d);
    return text;
}

}  // namespace qz::test
