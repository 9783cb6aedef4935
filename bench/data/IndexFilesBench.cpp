// bench_data_index_files [RECORDS] [ROUNDS] [FOLDER]
//
// Builds a file log of RECORDS records (default 1,000,000; file names in
// shuffled order), then times, side by side in each of ROUNDS rounds
// (default 3): `IndexFiles` (drop and rebuild the FILENAME tag, with its disk
// sync) and `LC_ALL=C sort` of the same file names, one per line. Prints each
// round (wall time, and CPU time: user + system) and the median ratio
// IndexFiles / sort of the wall times.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "data/local/LocalTables.h"
#include "data/storage/XbaseTable.h"
#include "data/table/DbfTable.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Name(uint32_t i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "H%03u_%08u.xml", i % 997, i);
    return buf;
}

// Writes the records straight after the header of an empty file log.
void WriteFileLog(const fs::path& folder, uint32_t records, std::vector<std::string>& names) {
    const fs::path dbf = folder / kFileLogTableName;
    xbase::XbaseTable::create(dbf, {{"DATE", 'D', 8, 0, 0}, {"FILENAME", 'C', 25, 0, 0},
                                    {"FILCREATED", 'D', 8, 0, 0}, {"COPIED", 'C', 3, 0, 0}});
    std::vector<uint32_t> ids(records);
    std::iota(ids.begin(), ids.end(), 0u);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(42));
    std::string data;
    data.reserve(size_t(records) * 45 + 1);
    names.clear();
    for (uint32_t id : ids) {
        std::string name = Name(id);
        names.push_back(name);
        name.resize(25, ' ');
        data += " 20240315" + name + "20240314YES";
    }
    data += '\x1A';
    std::fstream f(dbf, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char header[12];
    f.read(reinterpret_cast<char*>(header), sizeof header);
    f.seekp(header[8] | (header[9] << 8));
    f.write(data.data(), std::streamsize(data.size()));
    const char count[4] = {char(records), char(records >> 8), char(records >> 16), char(records >> 24)};
    f.seekp(4);
    f.write(count, 4);
    f.close();
    // On disk before the first round, so that no round pays for this setup's writes.
    const int fd = ::open(dbf.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t records = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const fs::path folder = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "qz-bench-indexfiles";
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::vector<std::string> names;
    WriteFileLog(folder, records, names);
    {
        std::ofstream keys(folder / "keys.txt");
        for (const auto& s : names) keys << s << '\n';
    }
    const std::string sortCommand = "LC_ALL=C sort -o '" + (folder / "sorted.txt").string() + "' '" +
                                    (folder / "keys.txt").string() + "'";
    std::printf("records: %u\n", records);

    std::vector<double> ratios, builds, sorts;
    for (int round = 0; round < rounds; ++round) {
        TDbfTable fileLog("DbfFileLog");
        fileLog.SetTableName(kFileLogTableName);
        const double bc0 = CpuSeconds(RUSAGE_SELF);
        const auto b0 = Clock::now();
        IndexFiles(fileLog, folder.string());
        const double build = Seconds(Clock::now() - b0);
        const double buildCpu = CpuSeconds(RUSAGE_SELF) - bc0;
        const double sc0 = CpuSeconds(RUSAGE_CHILDREN);
        const auto s0 = Clock::now();
        if (std::system(sortCommand.c_str()) != 0) {
            std::fprintf(stderr, "sort failed\n");
            return 1;
        }
        const double sort = Seconds(Clock::now() - s0);
        const double sortCpu = CpuSeconds(RUSAGE_CHILDREN) - sc0;
        std::printf("round %d: IndexFiles %.3f s (CPU %.3f s); LC_ALL=C sort %.3f s (CPU %.3f s); ratio %.2f\n", round + 1,
                    build, buildCpu, sort, sortCpu, build / sort);
        builds.push_back(build);
        sorts.push_back(sort);
        ratios.push_back(build / sort);
    }
    std::printf("median: IndexFiles %.3f s; sort %.3f s; ratio %.2f\n", Median(builds), Median(sorts), Median(ratios));
    std::error_code ec;
    fs::path index;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().extension() == ".CDX" || entry.path().extension() == ".cdx") index = entry.path();
    std::printf("index file: %llu bytes\n", static_cast<unsigned long long>(fs::file_size(index, ec)));
    if (std::getenv("QZ_BENCH_VERIFY")) {
        const std::string check = std::string(QZ_SOURCE_DIR) + "/tests/tools/xbase-dump --cdx '" + index.string() +
                                  "' --tag FILENAME '" + (folder / kFileLogTableName).string() + "' | tail -1";
        std::printf("xbase-dump: ");
        std::fflush(stdout);
        if (std::system(check.c_str()) != 0) std::printf("failed\n");
    }
    fs::remove_all(folder, ec);
    return 0;
}
