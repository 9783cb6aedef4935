// Start-up of the window against a large program folder, and the baseline
// it is judged against: listing the source folder plus one file-log seek per
// extract file, measured alone.
//
//   qz_bench_startup prepare DIR   program folder: 1,000,000 file-log records,
//                                  10,000 extract files (half of them logged)
//   qz_bench_startup window DIR    builds and shows the window, then exits
//   qz_bench_startup baseline DIR  lists the folder and seeks every name
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <utime.h>

#include "app/MainWindow.h"
#include "data/local/LocalTables.h"
#include "data/table/DbfTable.h"
#include "scan/ExtractListing.h"

namespace {

constexpr int kExtracts = 10000;
constexpr uint32_t kLoggedRecords = 1000000;

using Clock = std::chrono::steady_clock;

std::string ExtractName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "E%05d_061505.xml", i);
    return name;
}

std::string OtherName(uint32_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "H%03u_%08u.xml", i % 997, i);
    return name;
}

class QuietMessages : public TMessageBoxes {
public:
    void PlainMessage(const std::string& t) override { std::fprintf(stderr, "message: %s\n", t.c_str()); }
    void ErrorMessage(const std::string& t) override { std::fprintf(stderr, "error: %s\n", t.c_str()); }
    void ErrorReport(const std::string& t) override { std::fprintf(stderr, "report: %s\n", t.c_str()); }
    bool Confirm(const std::string&) override { return false; }
    void Beep() override {}
};

uint16_t ReadU16(std::fstream& f, std::streamoff at) {
    unsigned char b[2];
    f.seekg(at);
    f.read(reinterpret_cast<char*>(b), 2);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

// The file-log records are written straight into the empty table that
// qeladmin init made; the index is then rebuilt by the program's own rebuild.
void FillFileLog(const std::string& program) {
    const std::string path = program + "FILELOG.DBF";
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    const uint16_t headerLength = ReadU16(f, 8);
    const uint16_t recordLength = ReadU16(f, 10);
    if (recordLength != 45) throw std::runtime_error("unexpected file-log layout");
    std::string data;
    data.reserve(static_cast<size_t>(kLoggedRecords) * recordLength + 1);
    for (uint32_t i = 0; i < kLoggedRecords; ++i) {
        std::string name = i < kExtracts / 2 ? ExtractName(static_cast<int>(i)) : OtherName(i);
        name.resize(25, ' ');
        data += " 20050601" + name + "20050601YES";
    }
    data += '\x1A';
    f.seekp(headerLength);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
    f.seekp(4);
    const char count[4] = {char(kLoggedRecords), char(kLoggedRecords >> 8), char(kLoggedRecords >> 16),
                           char(kLoggedRecords >> 24)};
    f.write(count, 4);
    f.close();
    TDbfTable fileLog("DbfFileLog");
    fileLog.SetTableName("FILELOG.DBF");
    IndexFiles(fileLog, program);
}

void MakeExtracts(const std::string& source) {
    std::filesystem::create_directories(source);
    std::tm tm{};
    tm.tm_year = 105;
    tm.tm_mon = 5;
    tm.tm_mday = 15;
    tm.tm_hour = 9;
    tm.tm_isdst = -1;
    const std::time_t when = std::mktime(&tm);
    const utimbuf times{when, when};
    for (int i = 0; i < kExtracts; ++i) {
        const std::string path = source + ExtractName(i);
        std::ofstream(path) << "<extract/>\n";
        ::utime(path.c_str(), &times);
    }
}

int Prepare(const std::string& dir) {
    const std::string program = dir + "/program/";
    const std::string source = dir + "/extracts/";
    if (std::filesystem::exists(dir + "/ready")) return 0;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string init = std::string(QZ_QELADMIN) + " init '" + program + "' >/dev/null";
    if (std::system(init.c_str()) != 0) throw std::runtime_error("qeladmin init failed");
    FillFileLog(program);
    MakeExtracts(source);
    TDbfTable settings("DbfZAVSys");
    settings.SetTableName("ZAVSYS.DBF");
    settings.SetDatabaseName(program);
    settings.Open();
    settings.Append();
    settings.WriteText("LOCCODE", "BENCH");
    settings.WriteText("PMS", "OnQ");
    settings.WriteText("LASTCOPY", "06/14/05");
    settings.WriteText("COPYFROM", source);
    settings.Post();
    std::ofstream(dir + "/ready") << "ok\n";
    return 0;
}

int Window(int argc, char** argv, const std::string& dir) {
    const auto start = Clock::now();
    QApplication application(argc, argv);
    TForm1 form(dir + "/program/", std::make_shared<QuietMessages>());
    form.show();
    QApplication::processEvents();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::fprintf(stderr, "window shown with %zu rows after %.1f ms\n", form.MemTable_Import.Rows().size(), ms);
    return form.MemTable_Import.Rows().size() == kExtracts ? 0 : 1;
}

int Baseline(const std::string& dir) {
    const auto start = Clock::now();
    const auto files = ListExtractFiles(dir + "/extracts/");
    TDbfTable fileLog("DbfFileLog");
    fileLog.SetTableName("FILELOG.DBF");
    fileLog.SetDatabaseName(dir + "/program/");
    fileLog.SetIndexName("FILENAME");
    fileLog.Open();
    int found = 0;
    for (const auto& file : files) found += fileLog.Seek(file.Name, true) ? 1 : 0;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::fprintf(stderr, "listed %zu files, found %d, in %.1f ms\n", files.size(), found, ms);
    return files.size() == kExtracts && found == kExtracts / 2 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qz_bench_startup prepare|window|baseline DIR\n");
        return 2;
    }
    const std::string mode = argv[1], dir = argv[2];
    try {
        if (mode == "prepare") return Prepare(dir);
        if (mode == "window") return Window(argc, argv, dir);
        if (mode == "baseline") return Baseline(dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qz_bench_startup: %s\n", e.what());
        return 1;
    }
    return 2;
}
