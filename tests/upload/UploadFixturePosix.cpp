#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "UploadFixtureSystem.h"

namespace qz::test {

int CurrentProcessId() { return int(::getpid()); }

// The records as tests/tools/xbase-dump (Perl XBase) reads them.
std::vector<std::vector<std::string>> DumpRecords(const std::string& dbf) {
    const std::string command = std::string(QZ_XBASE_DUMP) + " '" + dbf + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run xbase-dump");
    std::string out;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    if (::pclose(pipe) != 0) throw std::runtime_error("xbase-dump failed on " + dbf);

    std::vector<std::vector<std::string>> records;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() < 2 || (line[0] != ' ' && line[0] != '*') || line[1] != '\t') continue;
        std::vector<std::string> values;
        std::size_t start = 2;
        while (true) {
            const std::size_t tab = line.find('\t', start);
            values.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        records.push_back(std::move(values));
    }
    return records;
}

}  // namespace qz::test
