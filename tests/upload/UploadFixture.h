#pragma once
// A program folder with the three tables and a login file, a source folder
// with extract files, the transfer list, an FTP client and a fake window,
// for driving one upload run without a screen.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/table/DbfTable.h"
#include "ftp/commands/NetFTP.h"
#include "scan/TransferList.h"
#include "tests/support/TodayYmd.h"
#include "upload/LoginFile.h"
#include "upload/ProgressParts.h"
#include "upload/UploadRun.h"
#include "upload/UploadView.h"

namespace qz::test {

// Records what the run does to the window.
class FakeUploadView : public IUploadView {
public:
    void ShowProgress() override { progressVisible = true; }
    void SetUploadEnabled(bool enabled) override { uploadEnabled = enabled; }
    void SetQuitEnabled(bool enabled) override { quitEnabled = enabled; }
    void SetStatusText(const std::string& text, bool repaintNow) override {
        status = text;
        statusLog.push_back(text + (repaintNow ? " [painted]" : ""));
        if (onStatus) onStatus(text);
    }
    void SetTotalParts(int total) override { bar.SetTotalParts(total); }
    void SetPartsComplete(int count) override { bar.SetPartsComplete(count); }
    int PartsComplete() const override { return bar.PartsComplete(); }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }

    bool progressVisible = false;
    bool uploadEnabled = true;
    bool quitEnabled = true;
    std::string status = "Last Date Files Were Copied:";
    std::vector<std::string> statusLog;
    TProgressParts bar;
    std::vector<std::string> messages;
    // Stands for what the user does while the window handles its messages.
    std::function<void(const std::string& status)> onStatus;
};

// One upload-log row as an independent reader sees it.
struct AuditRowSeen {
    std::string date, host, fileName, time, transfered, uploadedBy;
};
// One file-log record as an independent reader sees it.
struct FileLogSeen {
    std::string date, fileName, filCreated, copied;
};

class UploadBench {
public:
    UploadBench() : UploadBench(std::string()) {}
    // The program and source folders inside a folder named `folderName`
    // (UTF-8), when one is given.
    explicit UploadBench(const std::string& folderName);
    ~UploadBench();

    std::string programFolder, sourceFolder, locationCode = "NYC01";
    std::string uploadPath;
    std::string ftpHost, ftpUser, ftpPassword, remoteFolder;
    // Written after column 100 of the login file (" confirm=226", ...).
    std::string loginOptions;

    TTransferList list;
    FakeUploadView view;
    TDbfTable settings{"DbfZAVSys"}, fileLog{"DbfFileLog"}, upLog{"DbfUpLog"};
    TNetFTP ftp;

    // Writes the login file (fields blank-padded and scrambled).
    void WriteLogin(const std::string& host, const std::string& user, const std::string& password,
                    const std::string& remoteFolder);
    // A file in the source folder, listed as a new row.
    std::string AddFile(const std::string& name, const std::string& bytes, bool listed = true);
    void ListOnly(const std::string& name);

    // Runs BitBtn1Click; returns the error's message ("" when none).
    std::string Run();
    // Closes the upload log during a run as the window does when it closes.
    void CloseUpLog();

    std::vector<AuditRowSeen> AuditRows() const;
    std::vector<FileLogSeen> FileLogRows() const;
    std::string LastCopyText() const;   // as an independent reader sees it (YYYYMMDD)

private:
    std::filesystem::path root_;
    std::unique_ptr<TUploadRun> run_;
};

// Paths here are UTF-8, as the program holds them.
std::string ReadWholeFile(const std::string& path);

}  // namespace qz::test
