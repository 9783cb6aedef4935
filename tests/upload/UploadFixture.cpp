#include "UploadFixture.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "UploadFixtureSystem.h"
#include "data/local/LocalTables.h"
#include "data/storage/XbaseTable.h"
#include "data/values/DateTime.h"
#include "rtl/Utf8Path.h"
#include "upload/LoginCrypt.h"

namespace fs = std::filesystem;

namespace qz::test {

namespace {

int g_benchCounter = 0;

void CreateTables(const std::string& folder) {
    using xbase::FieldInfo;
    xbase::XbaseTable::create(PathFromUtf8(folder + "ZAVSYS.DBF"),
                              {{"LOCCODE", 'C', 10}, {"PROPCODE", 'C', 10}, {"PMS", 'C', 20},
                               {"LASTCOPY", 'D', 8}, {"COPYFROM", 'C', 120}, {"COPYTO", 'C', 120}});
    xbase::XbaseTable::create(PathFromUtf8(folder + "FILELOG.DBF"),
                              {{"DATE", 'D', 8}, {"FILENAME", 'C', 25}, {"FILCREATED", 'D', 8},
                               {"COPIED", 'C', 3}});
    xbase::XbaseTable::create(PathFromUtf8(folder + "UPLOG.DBF"),
                              {{"DATE", 'D', 8}, {"HOSTNAME", 'C', 20}, {"FILENAME", 'C', 25},
                               {"DATETIME", 'C', 12}, {"TRANSFERED", 'N', 5}, {"UPLOADEDBY", 'C', 3}});
}

}  // namespace

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

UploadBench::UploadBench(const std::string& folderName)
    : root_(fs::temp_directory_path() /
            ("qz-upload-" + std::to_string(CurrentProcessId()) + "-" + std::to_string(g_benchCounter++))) {
    SetShortDateFormat("MM/DD/yy", '/');
    fs::remove_all(root_);
    const fs::path folder = folderName.empty() ? root_ : root_ / PathFromUtf8(folderName);
    programFolder = Utf8FromPath(folder / "program") + "/";
    sourceFolder = Utf8FromPath(folder / "source") + "/";
    fs::create_directories(PathFromUtf8(programFolder));
    fs::create_directories(PathFromUtf8(sourceFolder));
    CreateTables(programFolder);

    settings.SetTableName(kSettingsTableName);
    settings.SetDatabaseName(programFolder);
    settings.Open();
    settings.Append();
    settings.WriteText("LOCCODE", locationCode);
    settings.WriteText("PMS", "OnQ");
    settings.WriteText("COPYFROM", sourceFolder);
    settings.Post();

    fileLog.SetTableName(kFileLogTableName);
    IndexFiles(fileLog, programFolder);
    fileLog.SetDatabaseName(programFolder);
    fileLog.SetIndexName(kFileLogTag);
    fileLog.Open();

    upLog.SetTableName(kUpLogTableName);
    upLog.SetDatabaseName(programFolder);
    upLog.Open();

    ftp.SetHost("127.0.0.1");
    ftp.SetPassive(true);
    ftp.SetReadTimeout(100000);
    run_ = std::make_unique<TUploadRun>(
        view, TUploadValues{programFolder, locationCode, sourceFolder, uploadPath, ftpHost, ftpUser, ftpPassword,
                      remoteFolder}, list, fileLog,
        settings, upLog, ftp);
}

UploadBench::~UploadBench() {
    run_.reset();
    ftp.CloseConnection();
    settings.Close();
    fileLog.Close();
    upLog.Close();
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void UploadBench::WriteLogin(const std::string& host, const std::string& user, const std::string& password,
                             const std::string& remoteFolder) {
    const auto field = [](std::string value, std::size_t width) {
        value.resize(width, ' ');
        return MyEncrypt(value);
    };
    std::ofstream(PathFromUtf8(programFolder + locationCode + ".DAT"), std::ios::binary)
        << field(host, 20) << field(user, 20) << field(password, 20) << field(remoteFolder, 40) << loginOptions << "\r\n";
}

std::string UploadBench::AddFile(const std::string& name, const std::string& bytes, bool listed) {
    const std::string path = sourceFolder + name;
    std::ofstream(PathFromUtf8(path), std::ios::binary) << bytes;
    if (listed) ListOnly(name);
    return path;
}

void UploadBench::ListOnly(const std::string& name) {
    list.Append(TransferRow{Today(), name, EncodeDate(2026, 12, 9), "No"});
}

std::string UploadBench::Run() {
    try {
        run_->Run();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

void UploadBench::CloseUpLog() {
    run_->WaitForAuditRow();
    upLog.Close();
}

std::vector<AuditRowSeen> UploadBench::AuditRows() const {
    std::vector<AuditRowSeen> rows;
    for (const auto& v : DumpRecords(programFolder + kUpLogTableName))
        if (v.size() >= 6) rows.push_back({v[0], v[1], v[2], v[3], v[4], v[5]});
    return rows;
}

std::vector<FileLogSeen> UploadBench::FileLogRows() const {
    std::vector<FileLogSeen> rows;
    for (const auto& v : DumpRecords(programFolder + kFileLogTableName))
        if (v.size() >= 4) rows.push_back({v[0], v[1], v[2], v[3]});
    return rows;
}

std::string UploadBench::LastCopyText() const {
    const auto records = DumpRecords(programFolder + kSettingsTableName);
    return records.empty() || records[0].size() < 4 ? std::string() : records[0][3];
}

}  // namespace qz::test
