// Figures for the storage engine on a file log of N records (default 1M):
// open time and memory, hard seek page reads and time, tag rebuild against
// `LC_ALL=C sort` of the same keys, and the CPU cost of a write apart from
// the disk syncs.
//
//   storage_bench WORKDIR [RECORDS]
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "data/storage/PageStore.h"
#include "data/storage/OsFile.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long rssKiB()
{
    std::ifstream in("/proc/self/statm");
    long pages = 0, resident = 0;
    in >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

size_t heapBytes() { return mallinfo2().uordblks; }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string fileName(uint32_t i)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "H%03u_%08u.xml", i % 997, i);
    return buf;
}

// The table's records written in bulk (setup only, not measured).
void writeTable(const std::filesystem::path& path, uint32_t n, std::vector<std::string>& names)
{
    std::filesystem::remove(path);
    std::filesystem::remove(std::filesystem::path(path).replace_extension(".CDX"));
    std::filesystem::remove(std::filesystem::path(path) += ".qzj");
    XbaseTable::create(path, {{"DATE", 'D', 8, 0, 0}, {"FILENAME", 'C', 25, 0, 0}, {"FILCREATED", 'D', 8, 0, 0}, {"COPIED", 'C', 3, 0, 0}});
    std::vector<uint32_t> ids(n);
    for (uint32_t i = 0; i < n; ++i) ids[i] = i;
    std::shuffle(ids.begin(), ids.end(), std::mt19937(42));
    std::string data;
    data.reserve(size_t(n) * 45 + 1);
    names.clear();
    for (uint32_t id : ids) {
        std::string name = fileName(id);
        names.push_back(name);
        name.resize(25, ' ');
        data += " 20240315" + name + "20240314YES";
    }
    data += '\x1A';
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(161);
    f.write(data.data(), std::streamsize(data.size()));
    f.seekp(4);
    const char count[4] = {char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
    f.write(count, 4);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s WORKDIR [RECORDS]\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const uint32_t n = argc > 2 ? uint32_t(std::stoul(argv[2])) : 1000000;
    std::filesystem::create_directories(dir);
    const auto path = dir / "FILELOG.DBF";
    std::vector<std::string> names;
    writeTable(path, n, names);
    std::printf("records: %u\n", n);

    // Tag rebuild, then `sort` of the same keys, side by side.
    {
        auto table = XbaseTable::open(path, OpenMode::Exclusive, false);
        const auto t0 = Clock::now();
        table->createTag("FILENAME", "FILENAME", false, false);
        const double build = seconds(Clock::now() - t0);
        {
            std::ofstream keys(dir / "keys.txt");
            for (const auto& s : names) keys << s << '\n';
        }
        const std::string cmd = "LC_ALL=C sort -o '" + (dir / "sorted.txt").string() + "' '" + (dir / "keys.txt").string() + "'";
        const auto s0 = Clock::now();
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "sort failed\n");
        const double sort = seconds(Clock::now() - s0);
        std::printf("createTag: %.3f s; LC_ALL=C sort of the keys: %.3f s; ratio %.2f\n", build, sort, build / sort);
        std::printf("index file: %llu bytes\n", (unsigned long long)std::filesystem::file_size(dir / "FILELOG.CDX"));
    }

    // Open: time and memory.
    {
        std::vector<double> times;
        for (int i = 0; i < 50; ++i) {
            const auto t0 = Clock::now();
            auto table = XbaseTable::open(path, OpenMode::Shared, false);
            times.push_back(seconds(Clock::now() - t0));
        }
        const long rss0 = rssKiB();
        const size_t heap0 = heapBytes();
        auto table = XbaseTable::open(path, OpenMode::Shared, false);
        auto tag = table->tag("FILENAME");
        const long rss1 = rssKiB();
        const size_t heap1 = heapBytes();
        std::printf("open: median %.3f ms; RSS delta %ld KiB; heap delta %zu bytes\n", median(times) * 1e3, rss1 - rss0,
                    heap1 - heap0);
    }

    // Hard seeks of existing keys, shared mode (locks and change-counter check included).
    {
        auto table = XbaseTable::open(path, OpenMode::Shared, false);
        auto tag = table->tag("FILENAME");
        std::mt19937 rng(7);
        const int seeks = int(std::min<uint32_t>(100000, n * 10));
        std::vector<double> times;
        times.reserve(seeks);
        const uint64_t reads0 = indexPageReads();
        int misses = 0;
        for (int i = 0; i < seeks; ++i) {
            const std::string& key = names[rng() % names.size()];
            const auto t0 = Clock::now();
            if (!tag->seek(key)) ++misses;
            times.push_back(seconds(Clock::now() - t0));
        }
        const double pagesPerSeek = double(indexPageReads() - reads0) / seeks;
        std::printf("seek (shared): %.2f pages per seek; median %.2f us; misses %d\n", pagesPerSeek, median(times) * 1e6, misses);
    }

    // Writes: CPU cost with syncing off, and wall time with it on.
    {
        auto table = XbaseTable::open(path, OpenMode::Shared, false);
        auto image = table->blankRecord();
        const int writes = int(std::min<uint32_t>(5000, n / 2));
        setSyncEnabled(false);
        const double c0 = cpuSeconds();
        const auto w0 = Clock::now();
        for (int i = 0; i < writes; ++i) {
            std::string name = "NEW_" + std::to_string(i * 7919 % writes) + ".xml";
            name.resize(25, ' ');
            std::copy(name.begin(), name.end(), image.begin() + 9);
            const uint32_t r = table->appendRecord(image);
            image[9] = 'M';
            table->writeRecord(r, image);
        }
        const double cpu = (cpuSeconds() - c0) / (2.0 * writes);
        const double wallNoSync = seconds(Clock::now() - w0) / (2.0 * writes);
        setSyncEnabled(true);
        const int synced = int(std::max<uint32_t>(1, std::min<uint32_t>(100, n / 100)));
        const auto s0 = Clock::now();
        const double sc0 = cpuSeconds();
        for (int i = 0; i < synced; ++i) {
            std::string name = "SYNC_" + std::to_string(i) + ".xml";
            name.resize(25, ' ');
            std::copy(name.begin(), name.end(), image.begin() + 9);
            table->appendRecord(image);
        }
        const double wallSync = seconds(Clock::now() - s0) / synced;
        const double cpuSync = (cpuSeconds() - sc0) / synced;
        std::printf("write without sync: %.1f us CPU, %.1f us wall per write\n", cpu * 1e6, wallNoSync * 1e6);
        std::printf("append with sync: %.2f ms wall, %.1f us CPU per append\n", wallSync * 1e3, cpuSync * 1e6);
    }
    const std::string check = std::string(QZ_SOURCE_DIR) + "/tests/tools/xbase-dump --cdx '" + (dir / "FILELOG.CDX").string() +
                              "' --tag FILENAME '" + path.string() + "' | tail -1";
    if (std::getenv("QZ_BENCH_VERIFY")) {
        std::printf("xbase-dump: ");
        std::fflush(stdout);
        if (std::system(check.c_str()) != 0) std::printf("failed\n");
    }
    return 0;
}
