// qeladmin upload DIR [--list]
// Runs what the window's Upload runs, for the program folder DIR, without a
// window: the start-up steps (tables opened shared, the file-log index
// rebuilt when missing, the settings record), the scan as at start-up, then
// the same upload run with the same login file, commands, audit rows, marks
// and LASTCOPY stamp, while holding the program folder's lock. Each message
// the window would show goes to standard error, one line each; on a terminal
// a line per file tells the progress. --list prints the files the run would
// send, one name a line on standard output, and sends nothing.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "data/DbfSettings.h"
#include "data/DbfTable.h"
#include "ftp/NetExceptions.h"
#include "ftp/commands/NetFTP.h"
#include "rtl/Utf8Path.h"
#include "scan/ExtractListing.h"
#include "scan/ExtractScan.h"
#include "scan/TransferList.h"
#include "tools/qeladmin/Commands.h"
#include "tools/qeladmin/Terminal.h"
#include "tools/qeladmin/UploadStatus.h"
#include "upload/FolderLock.h"
#include "upload/ProgramSetup.h"
#include "upload/ProgressParts.h"
#include "upload/UploadRun.h"
#include "upload/UploadView.h"

namespace {

constexpr const char* kNoLocationCodeMessage =
    "No location code is set: set it on the Configuration page of the window.";

// A message as one line: the line breaks of a server's reply become blanks,
// and no other control character (a hostile reply's escape codes) reaches
// the terminal or the journal.
std::string OneLine(const std::string& text) {
    std::string line;
    bool inBreak = false;
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        const bool lineBreak = c == '\r' || c == '\n';
        if (lineBreak && !inBreak)
            line += ' ';
        else if (c == '\t')
            line += ' ';
        else if (!lineBreak)
            line += code < 0x20 || code == 0x7F ? '?' : c;
        inBreak = lineBreak;
    }
    const auto end = line.find_last_not_of(' ');
    line.erase(end == std::string::npos ? 0 : end + 1);
    return line;
}

void Say(const std::string& text) { std::fprintf(stderr, "%s\n", OneLine(text).c_str()); }

// The default error report's text, as the window words it: a full stop
// after a last character above "." (so a reply ending in a line break gets none).
void Report(const std::string& message) {
    std::string text = message;
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    Say(text);
}

class TConsoleScanMessages : public TScanMessages {
public:
    void PlainMessage(const std::string& text) override { Say(text); }
    void ErrorMessage(const std::string& text) override { Say(text); }
};

// The window's controls, on standard error: its messages as lines, and on a
// terminal the status line's "Uploading" as a line per file.
class TConsoleUploadView : public IUploadView {
public:
    explicit TConsoleUploadView(bool terminal) : terminal_(terminal) {}

    void ShowProgress() override {}
    void SetUploadEnabled(bool) override {}
    void SetQuitEnabled(bool) override {}
    void SetStatusText(const std::string& text, bool) override {
        if (text.rfind(kUploadingText, 0) != 0) return;
        fileStarted_ = true;
        if (terminal_)
            Say(text + " (" + std::to_string(bar_.PartsComplete() + 1) + " of " +
                std::to_string(bar_.TotalParts()) + ")");
    }
    void SetTotalParts(int total) override { bar_.SetTotalParts(total); }
    void SetPartsComplete(int count) override { bar_.SetPartsComplete(count); }
    int PartsComplete() const override { return bar_.PartsComplete(); }
    void ShowMessage(const std::string& text) override {
        if (text == kAllFinishedMessage) finished_ = true;
        Say(text);
    }

    bool FileStarted() const { return fileStarted_; }
    bool Finished() const { return finished_; }

private:
    bool terminal_;
    TProgressParts bar_;
    bool fileStarted_ = false;
    bool finished_ = false;
};

// Which kind of failure an error that ended the run is; `fileStarted`:
// whether the first file's transfer had begun.
int StatusOf(const std::exception& error, bool fileStarted) {
    if (dynamic_cast<const EDatabaseError*>(&error) || dynamic_cast<const DbfError*>(&error))
        return kUploadTablesFailed;
    if (dynamic_cast<const EUploadInProgress*>(&error)) return kUploadInProgress;
    if (dynamic_cast<const EFolderLockError*>(&error)) return kUploadOtherError;
    // The login file is the only file read before the first transfer.
    if (dynamic_cast<const EInOutError*>(&error) && !fileStarted) return kUploadNoLogin;
    if (dynamic_cast<const EFOpenError*>(&error) || dynamic_cast<const EInOutError*>(&error) ||
        dynamic_cast<const EUploadSizeMismatch*>(&error))
        return kUploadTransferFailed;
    if (dynamic_cast<const ENetException*>(&error)) return fileStarted ? kUploadTransferFailed : kUploadConnectFailed;
    return kUploadOtherError;
}

int Usage() {
    std::fprintf(stderr, "usage: qeladmin upload DIR [--list]\n");
    return kUploadUsage;
}

// The components the window holds for its upload, and the steps it takes
// before Upload is pressed.
struct UnattendedUpload {
    TDbfSettings engineSettings;
    TDbfTable settings{"DbfZAVSys"}, fileLog{"DbfFileLog"}, upLog{"DbfUpLog"};
    TTransferList transferList{"MemTable_Import"};
    std::string programFolder, locationCode, sourceFolder, uploadPath;
    std::string ftpHost, ftpUser, ftpPassword, remoteFolder;
    TNetFTP ftp;

    UnattendedUpload() {
        engineSettings.ApplyStoredValues();
        NameProgramTables({settings, fileLog, upLog});
        SetUpUploadClient(ftp);
    }

    // Start-up without the first-run prompt and the Configuration page: a
    // folder that would need them cannot be run unattended.
    int StartUp(const std::string& folder) {
        OpenProgramTables(folder, {settings, fileLog, upLog}, {programFolder, locationCode, sourceFolder});
        int status = kUploadFinished;
        if (settings.ReadText("LOCCODE").empty()) {
            Say(kNoLocationCodeMessage);
            status = kUploadNotSetUp;
        }
        if (StartUpScans(settings, sourceFolder)) {
            TConsoleScanMessages messages;
            LoadGrid("1", sourceFolder, settings, fileLog, transferList, messages);
        }
        if (!DirectoryExists(sourceFolder)) {
            Say("Invalid Directory!");
            status = kUploadNotSetUp;
        }
        return status;
    }

    void PrintList() const {
        // A name is whatever the extract folder holds: one line each, no control characters.
        for (const TransferRow& row : transferList.Rows()) std::printf("%s\n", OneLine(row.FileName).c_str());
    }

    int Upload(TConsoleUploadView& view) {
        TUploadRun run(view,
                       TUploadValues{programFolder, locationCode, sourceFolder, uploadPath, ftpHost, ftpUser,
                                     ftpPassword, remoteFolder},
                       transferList, fileLog, settings, upLog, ftp);
        run.Run();
        return view.Finished() ? kUploadFinished : kUploadNoLogin;
    }
};

}  // namespace

int RunUpload(const Args& args) {
    std::optional<std::string> folder;
    bool listOnly = false;
    for (const std::string& arg : args) {
        if (arg == "--list")
            listOnly = true;
        else if (!arg.empty() && arg[0] != '-' && !folder)
            folder = arg;
        else
            return Usage();
    }
    if (!folder) return Usage();
    // The scan makes the source folder current; the login file is looked
    // for in the program folder afterwards.
    std::error_code ec;
    if (const auto absolute = std::filesystem::absolute(PathFromUtf8(*folder), ec); !ec) folder = Utf8FromPath(absolute);

    TConsoleUploadView view(StandardErrorIsTerminal());
    try {
        UnattendedUpload upload;
        // --list sends nothing and marks nothing, so it needs no lock; a
        // folder that is not there is told by the settings table's error.
        std::optional<TFolderLock> lock;
        if (!listOnly && std::filesystem::is_directory(PathFromUtf8(*folder), ec)) {
            lock.emplace(*folder);
            if (!lock->Held()) throw EUploadInProgress();
        }
        if (const int status = upload.StartUp(*folder); status != kUploadFinished) return status;
        if (listOnly) {
            upload.PrintList();
            return kUploadFinished;
        }
        return upload.Upload(view);
    } catch (const std::exception& error) {
        Report(error.what());
        return StatusOf(error, view.FileStarted());
    }
}
