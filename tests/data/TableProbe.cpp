// table_probe: writes and locks a program folder's FILELOG.DBF from outside
// the test programs, so scripts/test-windows can check tables and locks
// across processes and across the Linux and Windows builds.
//   table_probe write DIR         appends the fixed sample records
//   table_probe hold DIR SECONDS  opens shared, locks record 1, says "held", waits
//   table_probe try DIR           exit 0 when record 1 and an exclusive open
//                                 are both refused (record 3, exclusive 4 when had)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "data/storage/XbaseTable.h"

namespace {

using xbase::OpenMode;
using xbase::XbaseTable;

struct Sample {
    const char* date;
    const char* name;
    const char* copied;
};

// Names of several lengths and an 8-bit one, as the PMS exports them.
const Sample kSamples[] = {
    {"20240315", "SALES031524.xml", "YES"},
    {"20240316", "A.xml", "NO"},
    {"20240317", "GUESTS031724-FULL-EXPORT.x", "YES"},
    {"20240318", "caf\xE9-031824.xml", "YES"},
};

void put(std::vector<uint8_t>& image, const xbase::FieldInfo& f, const std::string& text) {
    for (size_t i = 0; i < f.width; ++i) image[f.offset + i] = i < text.size() ? uint8_t(text[i]) : ' ';
}

int write(const std::filesystem::path& dbf) {
    auto table = XbaseTable::open(dbf, OpenMode::Shared, false);
    for (const Sample& s : kSamples) {
        std::vector<uint8_t> image = table->blankRecord();
        for (const auto& f : table->fields()) {
            if (f.name == "DATE" || f.name == "FILCREATED") put(image, f, s.date);
            else if (f.name == "FILENAME") put(image, f, s.name);
            else if (f.name == "COPIED") put(image, f, s.copied);
        }
        table->appendRecord(image);
    }
    std::printf("appended %zu records to %s\n", std::size(kSamples), dbf.string().c_str());
    return 0;
}

int hold(const std::filesystem::path& dbf, int seconds) {
    auto table = XbaseTable::open(dbf, OpenMode::Shared, false);
    table->lockRecord(1);
    std::printf("held\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}

int tryLocks(const std::filesystem::path& dbf) {
    int rc = 0;
    {
        auto table = XbaseTable::open(dbf, OpenMode::Shared, false);
        try {
            table->lockRecord(1);
            std::printf("record 1: locked here (expected: held by the other process)\n");
            rc = 3;
        } catch (const xbase::XbaseError& e) {
            std::printf("record 1: %s (error %d)\n", e.what(), e.code());
            if (e.code() != xbase::kRecordLocked) rc = 3;
        }
    }
    try {
        XbaseTable::open(dbf, OpenMode::Exclusive, false);
        std::printf("exclusive open: had (expected: refused)\n");
        rc = rc ? rc : 4;
    } catch (const xbase::XbaseError& e) {
        std::printf("exclusive open: %s (error %d)\n", e.what(), e.code());
        if (e.code() != xbase::kFileInUse) rc = rc ? rc : 4;
    }
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: table_probe write|hold|try DIR [SECONDS]\n");
        return 2;
    }
    const std::filesystem::path dbf = std::filesystem::path(argv[2]) / "FILELOG.DBF";
    try {
        if (std::strcmp(argv[1], "write") == 0) return write(dbf);
        if (std::strcmp(argv[1], "hold") == 0) return hold(dbf, argc > 3 ? std::atoi(argv[3]) : 10);
        if (std::strcmp(argv[1], "try") == 0) return tryLocks(dbf);
    } catch (const xbase::XbaseError& e) {
        std::fprintf(stderr, "table_probe: %s (error %d)\n", e.what(), e.code());
        return 1;
    }
    std::fprintf(stderr, "table_probe: unknown command %s\n", argv[1]);
    return 2;
}
