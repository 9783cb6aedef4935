// bench_data_filelog_update [RECORDS] [UPDATES] [FOLDER]
//
// Builds a file log of RECORDS records (default 1,000,000) with its FILENAME
// tag, then runs UPDATES file-log updates (half rewrites of existing names,
// half new names) three ways, side by side:
//   storage   the same seek/read/write/append done on the storage engine
//             directly, disk syncs switched off (the baseline);
//   layer     the table layer's file-log update, disk syncs switched off;
//   synced    the table layer's file-log update with real disk syncs.
// Prints process CPU time (user + system) per update for each run and the
// ratio layer/storage. The layer's CPU beyond its disk syncs is the "layer"
// figure.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/local/LocalTables.h"
#include "data/storage/OsFile.h"
#include "data/storage/XbaseTable.h"

namespace {

namespace fs = std::filesystem;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string Name(long n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "F%08ld.xml", n);
    return buf;
}

// Writes the records straight after the header of an empty file log, then
// lets the layer build the tag over all of them.
void BuildFileLog(const fs::path& folder, long records) {
    const fs::path dbf = folder / kFileLogTableName;
    xbase::XbaseTable::create(dbf, {{"DATE", 'D', 8, 0, 0}, {"FILENAME", 'C', 25, 0, 0},
                                    {"FILCREATED", 'D', 8, 0, 0}, {"COPIED", 'C', 3, 0, 0}});
    std::fstream f(dbf, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char header[12];
    f.read(reinterpret_cast<char*>(header), sizeof header);
    const long headerLength = header[8] | (header[9] << 8);
    std::string block;
    block.reserve(45 * 10000);
    f.seekp(headerLength);
    for (long r = 0; r < records; ++r) {
        // Scattered order so that the tag is not built from sorted input.
        std::string name = Name((r * 7919) % records * 2);
        name.resize(25, ' ');
        block += " 20050615" + name + "20050614YES";
        if (block.size() >= 45 * 10000 || r + 1 == records) {
            f.write(block.data(), static_cast<std::streamsize>(block.size()));
            block.clear();
        }
    }
    f.put('\x1a');
    const unsigned char count[4] = {static_cast<unsigned char>(records), static_cast<unsigned char>(records >> 8),
                                    static_cast<unsigned char>(records >> 16),
                                    static_cast<unsigned char>(records >> 24)};
    f.seekp(4);
    f.write(reinterpret_cast<const char*>(count), 4);
    f.close();

    TDbfTable fileLog("DbfFileLog");
    fileLog.SetTableName(kFileLogTableName);
    IndexFiles(fileLog, folder.string());
}

struct Run {
    double cpuPerUpdate;
    double wallPerUpdate;
};

template <class Update>
Run Measure(long updates, long records, long salt, Update&& update) {
    const double cpu0 = CpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    for (long i = 0; i < updates; ++i) {
        // Even: an existing name (rewritten); odd: a new one (appended).
        const long n = i % 2 == 0 ? ((i * 104729 + salt) % records) * 2 : records * 2 + salt * updates + i;
        update(Name(n));
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    return {(CpuSeconds() - cpu0) / updates, wall / updates};
}

}  // namespace

int main(int argc, char** argv) {
    const long records = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long updates = argc > 2 ? std::atol(argv[2]) : 2000;
    const fs::path folder = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "qz-bench-filelog";
    fs::remove_all(folder);
    fs::create_directories(folder);
    SetShortDateFormat("MM/DD/yy", '/');

    xbase::setSyncEnabled(false);
    const auto build0 = std::chrono::steady_clock::now();
    BuildFileLog(folder, records);
    std::printf("file log of %ld records with its tag built in %.1f s\n", records,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - build0).count());

    // Baseline: the engine work of an update without the layer.
    Run storage{};
    {
        auto table = xbase::XbaseTable::open(folder / kFileLogTableName, xbase::OpenMode::Shared, false);
        auto tag = table->tag(kFileLogTag);
        std::vector<uint8_t> image(table->recordLength());
        storage = Measure(updates, records, 1, [&](const std::string& name) {
            if (auto r = tag->seek(name)) {
                table->lockRecord(*r);
                table->readRecord(*r, image);
                std::copy(name.begin(), name.end(), image.begin() + 9);
                table->writeRecord(*r, image);
                table->unlockRecord(*r);
            } else {
                image = table->blankRecord();
                std::string rec = "20050615" + name;
                rec.resize(33, ' ');
                rec += "20050614YES";
                std::copy(rec.begin(), rec.end(), image.begin() + 1);
                table->appendRecord(image);
            }
        });
    }

    TDbfTable fileLog("DbfFileLog");
    fileLog.SetDatabaseName(folder.string());
    fileLog.SetTableName(kFileLogTableName);
    fileLog.SetIndexName(kFileLogTag);
    fileLog.Open();
    const TDateTime date = EncodeDate(2005, 6, 15);
    auto layerUpdate = [&](const std::string& name) { UpdateFileLog(fileLog, {date, name, "06/14/05"}); };
    const Run layer = Measure(updates, records, 2, layerUpdate);
    xbase::setSyncEnabled(true);
    const long syncedUpdates = std::max(1L, updates / 10);
    const Run synced = Measure(syncedUpdates, records, 3, layerUpdate);
    fileLog.Close();

    std::printf("updates: %ld (synced run: %ld), half rewrites, half appends\n", updates, syncedUpdates);
    std::printf("storage only, no syncs : %8.1f us CPU per update\n", storage.cpuPerUpdate * 1e6);
    std::printf("layer, no syncs        : %8.1f us CPU per update\n", layer.cpuPerUpdate * 1e6);
    std::printf("layer, with syncs      : %8.1f us CPU, %8.1f us wall per update\n", synced.cpuPerUpdate * 1e6,
                synced.wallPerUpdate * 1e6);
    std::printf("ratio layer/storage (CPU, no syncs): %.2f\n", layer.cpuPerUpdate / storage.cpuPerUpdate);
    fs::remove_all(folder);
    return 0;
}
