// Renders the main window, both pages with a filled grid, to PNG files:
//   qelzav-screenshot PROGRAM_FOLDER OUTPUT_PREFIX
// PROGRAM_FOLDER holds empty tables (qeladmin init); it is filled here.
#include <QApplication>
#include <QTabWidget>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utime.h>

#include "app/MainWindow.h"
#include "data/table/DbfTable.h"

namespace {

// Nothing to click away while rendering.
class SilentMessages : public TMessageBoxes {
public:
    void PlainMessage(const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
    void ErrorMessage(const std::string& text) override { std::fprintf(stderr, "error: %s\n", text.c_str()); }
    void ErrorReport(const std::string& text) override { std::fprintf(stderr, "report: %s\n", text.c_str()); }
    bool Confirm(const std::string&) override { return false; }
    void Beep() override {}
};

void FillTables(const std::string& folder, const std::string& source) {
    TDbfTable settings("Settings");
    settings.SetTableName("ZAVSYS.DBF");
    settings.SetDatabaseName(folder);
    settings.Open();
    settings.Append();
    settings.WriteText("LOCCODE", "NYCMH");
    settings.WriteText("PROPCODE", "NYCMH");
    settings.WriteText("PMS", "OnQ");
    settings.WriteText("LASTCOPY", "06/14/05");
    settings.WriteText("COPYFROM", source);
    settings.WriteText("COPYTO", "A:\\");
    settings.Post();

    TDbfTable fileLog("FileLog");
    fileLog.SetTableName("FILELOG.DBF");
    fileLog.SetDatabaseName(folder);
    fileLog.SetIndexName("FILENAME");
    fileLog.Open();
    for (const char* name : {"SALES061405.xml", "ROOMS061405.xml"}) {
        fileLog.Append();
        fileLog.WriteText("DATE", "06/14/05");
        fileLog.WriteText("FILENAME", name);
        fileLog.WriteText("FILCREATED", "06/14/05");
        fileLog.WriteText("COPIED", "YES");
        fileLog.Post();
    }
}

void MakeExtracts(const std::string& source) {
    std::filesystem::create_directories(source);
    struct Extract {
        const char* name;
        int day;
    };
    const Extract extracts[] = {{"ROOMS061405.xml", 14}, {"ROOMS061505.xml", 15}, {"SALES061405.xml", 14},
                                {"SALES061505.xml", 15}, {"GUESTS061505.xml", 15}, {"LEDGER061505.xml", 15}};
    for (const Extract& e : extracts) {
        const std::string path = source + e.name;
        std::ofstream(path) << "<extract/>\n";
        std::tm tm{};
        tm.tm_year = 105;
        tm.tm_mon = 5;
        tm.tm_mday = e.day;
        tm.tm_hour = 9;
        tm.tm_isdst = -1;
        const utimbuf times{std::mktime(&tm), std::mktime(&tm)};
        ::utime(path.c_str(), &times);
    }
}

bool Save(QWidget& window, const std::string& file) {
    const bool saved = window.grab().save(QString::fromStdString(file));
    std::printf("%s %s\n", saved ? "wrote" : "could not write", file.c_str());
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qelzav-screenshot PROGRAM_FOLDER OUTPUT_PREFIX\n");
        return 2;
    }
    QApplication application(argc, argv);
    const std::string folder = std::filesystem::absolute(argv[1]).string() + "/";
    const std::string source = folder + "extracts/";
    const std::string prefix = argv[2];
    MakeExtracts(source);
    FillTables(folder, source);

    TForm1 form(folder, std::make_shared<SilentMessages>());
    form.show();
    QApplication::processEvents();
    bool ok = Save(form, prefix + "files.png");
    form.PageControl1->setCurrentIndex(1);
    QApplication::processEvents();
    ok = Save(form, prefix + "configuration.png") && ok;
    return ok ? 0 : 1;
}
