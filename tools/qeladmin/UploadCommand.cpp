// qeladmin upload DIR [--list] [--verbose] [--retries N] [--retry-wait SECONDS] [--record FILE]
// Runs what the window's Upload runs, for the program folder DIR, without a
// window: the start-up steps (tables opened shared, the file-log index
// rebuilt when missing, the settings record), the scan as at start-up, then
// the same upload run with the same login file, commands, audit rows, marks
// and LASTCOPY stamp, while holding the program folder's lock. Each message
// the window would show goes to standard error, one line each; on a terminal
// a line per file tells the progress; elsewhere (a journal, a log file) each
// line is led by its time, and a line per file sent names it with its bytes
// and the time it took. Under a message that needs it, a line says what and
// where (MessageContext.h). --verbose adds the FTP exchange, the password
// masked. --list prints the files the run would
// send, one name a line on standard output, and sends nothing. A transient
// failure is tried again (RetryPolicy.h); each run that is not --list leaves
// its outcome for monitoring (RunRecord.h).

#include <cstdio>
#include <exception>
#include <filesystem>
#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "data/storage/XbaseTable.h"
#include "data/table/DbfSettings.h"
#include "data/table/DbfTable.h"
#include "ftp/NetExceptions.h"
#include "ftp/commands/NetFTP.h"
#include "rtl/Utf8Path.h"
#include "scan/ExtractListing.h"
#include "scan/ExtractScan.h"
#include "scan/TransferList.h"
#include "tools/qeladmin/Commands.h"
#include "tools/qeladmin/MessageContext.h"
#include "tools/qeladmin/Options.h"
#include "tools/qeladmin/RunLog.h"
#include "tools/qeladmin/Terminal.h"
#include "tools/qeladmin/UploadStatus.h"
#include "upload/FolderLock.h"
#include "upload/FolderOwnership.h"
#include "upload/LoginFile.h"
#include "upload/ProgramSetup.h"
#include "upload/ProgressParts.h"
#include "upload/RetryPolicy.h"
#include "upload/RunRecord.h"
#include "upload/SourceFolderRules.h"
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

std::string g_lastLine;   // the run's last message, for the monitoring record
bool g_timed = false;     // standard error is a file: the time leads each line
TMessageFacts g_facts;    // what the run knows, for the line under a message

// A line on standard error, led by the time when it goes to a file.
void Tell(const std::string& text) {
    std::fprintf(stderr, "%s\n", LogLine(OneLine(text), g_timed, std::time(nullptr)).c_str());
}

// A message, and under it what and where when it needs saying; `error`: the
// error that ended the run, if the message is its text.
void Say(const std::string& text, const std::exception* error = nullptr) {
    g_lastLine = OneLine(text);
    Tell(g_lastLine);
    if (const auto context = MessageContext(g_lastLine, error, g_facts)) Tell(*context);
}

// The default error report's text, as the window words it: a full stop
// after a last character above "." (so a reply ending in a line break gets none).
void Report(const std::exception& error) {
    std::string text = error.what();
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    Say(text, &error);
}

class TConsoleScanMessages : public TScanMessages {
public:
    void PlainMessage(const std::string& text) override { Say(text); }
    void ErrorMessage(const std::string& text) override { Say(text); }
    void InvalidDate(const std::string& fileName) override {
        g_facts.FileName = fileName;
        Say("Invalid Date!");
    }
};

// The FTP exchange as it goes, for --verbose: never a password.
void LogExchange(TNetFTP& ftp) {
    ftp.OnLineSent = [](const std::string& line) { Tell("> " + MaskedCommand(line)); };
    ftp.OnReplyRead = [](const std::vector<std::string>& lines) {
        for (const std::string& line : lines) Tell("< " + line);
    };
}

// The window's controls, on standard error: its messages as lines, and on a
// terminal the status line's "Uploading" as a line per file; elsewhere a
// line per file the server confirmed, with its bytes and time.
class TConsoleUploadView : public IUploadView {
public:
    explicit TConsoleUploadView(bool terminal) : terminal_(terminal) {}

    void ShowProgress() override {}
    void SetUploadEnabled(bool) override {}
    void SetQuitEnabled(bool) override {}
    void SetStatusText(const std::string& text, bool) override {
        if (text.rfind(kUploadingText, 0) != 0) return;
        fileStarted_ = true;
        started_.push_back(text.substr(std::char_traits<char>::length(kUploadingText)));
        g_facts.FileName = started_.back();
        fileStart_ = std::chrono::steady_clock::now();
        if (terminal_)
            Say(text + " (" + std::to_string(bar_.PartsComplete() + 1) + " of " +
                std::to_string(bar_.TotalParts()) + ")");
    }
    void SetTotalParts(int total) override { bar_.SetTotalParts(total); }
    // A part completes once the server confirmed the file.
    void SetPartsComplete(int count) override {
        if (!terminal_ && count > bar_.PartsComplete() && !started_.empty()) {
            std::error_code ec;
            const auto size =
                std::filesystem::file_size(PathFromUtf8(g_facts.SourceFolder) / PathFromUtf8(started_.back()), ec);
            const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - fileStart_);
            Tell(FileSentLine(started_.back(), ec ? -1 : static_cast<long long>(size), took.count()));
        }
        bar_.SetPartsComplete(count);
    }
    int PartsComplete() const override { return bar_.PartsComplete(); }
    void ShowMessage(const std::string& text) override {
        if (text == kAllFinishedMessage) finished_ = true;
        Say(text);
    }

    bool FileStarted() const { return fileStarted_; }
    bool Finished() const { return finished_; }
    // The files whose transfer ended: all those begun once the run
    // finished, else all but the last one begun.
    std::vector<std::string> FilesSent() const {
        std::vector<std::string> sent = started_;
        if (!finished_ && !sent.empty()) sent.pop_back();
        return sent;
    }

private:
    bool terminal_;
    TProgressParts bar_;
    bool fileStarted_ = false;
    bool finished_ = false;
    std::vector<std::string> started_;
    std::chrono::steady_clock::time_point fileStart_;
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
    // Once a file is under way the only text read as a number is the
    // server's passive reply: a reply without its port is a transfer failure.
    if (dynamic_cast<const EConvertError*>(&error) && fileStarted) return kUploadTransferFailed;
    if (dynamic_cast<const ENetException*>(&error)) return fileStarted ? kUploadTransferFailed : kUploadConnectFailed;
    return kUploadOtherError;
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
    std::size_t leftOut = 0;   // files the scan left out, each told

    explicit UnattendedUpload(bool verbose) {
        engineSettings.ApplyStoredValues();
        NameProgramTables({settings, fileLog, upLog});
        SetUpUploadClient(ftp);
        if (verbose) LogExchange(ftp);
    }

    // Start-up without the first-run prompt and the Configuration page: a
    // folder that would need them cannot be run unattended.
    int StartUp(const std::string& folder) {
        OpenProgramTables(folder, {settings, fileLog, upLog}, {programFolder, locationCode, sourceFolder});
        g_facts.SourceFolder = sourceFolder;
        g_facts.LoginFile = LoginFileName(programFolder, locationCode);
        int status = kUploadFinished;
        if (settings.ReadText("LOCCODE").empty()) {
            Say(kNoLocationCodeMessage);
            status = kUploadNotSetUp;
        }
        // The scan lists nothing for another PMS: "All Finished!" would hide that nothing was looked for.
        if (const std::string pms = settings.ReadText("PMS"); !IsKnownPms(pms)) {
            Say("No PMS is set (\"" + pms + "\" is neither \"OnQ\" nor \"Corvane Ledger\"): set it with qeladmin settings " +
                programFolder + " --pms NAME.");
            status = kUploadNotSetUp;
        }
        if (StartUpScans(settings, sourceFolder)) {
            TConsoleScanMessages messages;
            leftOut = LoadGrid("1", sourceFolder, settings, fileLog, transferList, messages);
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
        if (!view.Finished()) return kUploadNoLogin;
        // The rest went; the left-out files wait for someone to act, and a
        // scheduler sees it every night until then.
        return leftOut > 0 ? kUploadLeftOut : kUploadFinished;
    }
};


// The outcome, for monitoring; a record that cannot be written is said, and
// does not change the run's status.
void LeaveRecord(const std::string& path, const std::string& folder, int status, const TConsoleUploadView& view,
                 const std::string& sourceFolder) {
    TRunRecord record;
    record.RunTime = static_cast<std::int64_t>(std::time(nullptr));
    record.Status = status;
    record.Folder = folder;
    record.Message = g_lastLine;
    for (const std::string& name : view.FilesSent()) {
        ++record.FilesSent;
        std::error_code ec;
        const auto size = std::filesystem::file_size(PathFromUtf8(sourceFolder) / PathFromUtf8(name), ec);
        if (!ec) record.BytesSent += static_cast<std::int64_t>(size);
    }
    try {
        WriteRunRecord(path, record);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
}

}  // namespace

int RunUpload(const Args& args) {
    const ParsedArgs parsed =
        ParseArgs(args, {{"list", false}, {"verbose", false}, {"retries", true}, {"retry-wait", true}, {"record", true}}, 1, 1);
    std::optional<std::string> folder = parsed.Positional[0];
    const bool listOnly = parsed.Has("list");
    const bool verbose = parsed.Has("verbose");
    g_timed = !StandardErrorIsTerminal();
    // Start-up's word on a rebuilt index is a line like the others.
    xbase::setRecoveryReporter([](const std::string& line) { Tell(line); });
    TRetryPolicy retry;
    retry.Retries = static_cast<int>(parsed.Number("retries", 0, 100).value_or(retry.Retries));
    retry.WaitSeconds = static_cast<int>(parsed.Number("retry-wait", 0, 86400).value_or(retry.WaitSeconds));
    // The scan makes the source folder current; the login file is looked
    // for in the program folder afterwards.
    std::error_code ec;
    if (const auto absolute = std::filesystem::absolute(PathFromUtf8(*folder), ec); !ec) folder = Utf8FromPath(absolute);
    const std::string recordPath =
        parsed.Value("record").value_or(Utf8FromPath(PathFromUtf8(*folder) / "qelzav-upload.prom"));

    // Root would leave index and journal files the desk cannot write.
    if (const auto owner = OwnerToRunAs(*folder)) {
        Say(*folder + " belongs to " + *owner + ": run qeladmin upload as " + *owner +
            " (a run as root leaves files that account cannot write).");
        return kUploadOtherError;
    }

    std::optional<TFolderLock> lock;
    for (int attempt = 0;; ++attempt) {
        TConsoleUploadView view(!g_timed);
        std::string sourceFolder;
        int status = kUploadOtherError;
        std::optional<UnattendedUpload> held;
        try {
            UnattendedUpload& upload = held.emplace(verbose);
            // --list sends nothing and marks nothing, so it needs no lock; a
            // folder that is not there is told by the settings table's error.
            if (!lock && !listOnly && std::filesystem::is_directory(PathFromUtf8(*folder), ec)) {
                lock.emplace(*folder);
                if (!lock->Held()) throw EUploadInProgress();
            }
            status = upload.StartUp(*folder);
            sourceFolder = upload.sourceFolder;
            if (status == kUploadFinished) {
                if (listOnly) {
                    upload.PrintList();
                    return kUploadFinished;
                }
                status = upload.Upload(view);
            }
        } catch (const std::exception& error) {
            if (held) {
                g_facts.Host = held->ftp.Host;
                g_facts.Port = held->ftp.Port;
            }
            Report(error);
            status = StatusOf(error, view.FileStarted());
            if (!listOnly && attempt < retry.Retries && IsTransientFailure(error)) {
                Say("Trying again in " + std::to_string(retry.WaitSeconds) + " seconds (try " +
                    std::to_string(attempt + 2) + " of " + std::to_string(retry.Retries + 1) + ").");
                std::this_thread::sleep_for(std::chrono::seconds(retry.WaitSeconds));
                continue;
            }
        }
        // Another run's outcome is that run's to record.
        if (!listOnly && status != kUploadInProgress && status != kUploadUsage)
            LeaveRecord(recordPath, *folder, status, view, sourceFolder);
        return status;
    }
}
