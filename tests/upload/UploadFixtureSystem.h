#pragma once
// What the upload fixture needs of the system, one file per system
// (UploadFixturePosix.cpp, UploadFixtureWindows.cpp).
#include <string>
#include <vector>

namespace qz::test {

int CurrentProcessId();
// The table's records, each as its field texts (character fields without
// their trailing blanks, numbers without their padding, dates YYYYMMDD).
std::vector<std::vector<std::string>> DumpRecords(const std::string& dbf);

}  // namespace qz::test
