#pragma once
// One upload run (`BitBtn1Click`) and the FTP work handlers: reads the
// login file, sends every file of the transfer list over passive FTP,
// checks each stored size, then marks the files in the file log and stamps
// LASTCOPY. Errors leave Run() as exceptions, with the view left as the
// failing step found it.
#include <string>
#include <vector>

#include "ftp/NetComponent.h"
#include "rtl/Exceptions.h"
#include "scan/TransferList.h"
#include "upload/AuditWriter.h"
#include "upload/LoginFile.h"

class IUploadView;
class TDbfTable;
class TNetFTP;

// The working values the run reads and writes. They are references because
// the window owns them, and a Save during a run may change SourceFolder,
// which is read afresh for every file.
struct TUploadValues {
    const std::string& ProgramFolder;
    const std::string& LocationCode;
    const std::string& SourceFolder;
    std::string& UploadPath;
    // Set from the login file; host, user and password untrimmed.
    std::string& FtpHost;
    std::string& FtpUser;
    std::string& FtpPassword;
    std::string& RemoteFolder;
};

// The server holds another number of bytes than were sent.
class EUploadSizeMismatch : public Exception {
public:
    using Exception::Exception;
};

inline constexpr const char* kNoLoginMessage = "Not Enough Login Information To Upload!";
inline constexpr const char* kNoFilesMessage = "No Files To Copy!";
inline constexpr const char* kAllFinishedMessage = "All Finished!";
inline constexpr const char* kUploadCompleteText = "Upload Complete!";
inline constexpr const char* kUploadingText = "Uploading ";

class TUploadRun {
public:
    // Binds the client's work events to this run's handlers; the destructor
    // unbinds them.
    TUploadRun(IUploadView& view, TUploadValues values, TTransferList& transferList, TDbfTable& fileLog,
               TDbfTable& settings, TDbfTable& upLog, TNetFTP& ftp);
    ~TUploadRun();
    TUploadRun(const TUploadRun&) = delete;
    TUploadRun& operator=(const TUploadRun&) = delete;

    // `BitBtn1Click`.
    void Run();
    // Waits for the audit row being committed beside the exchange: call it
    // before the upload log is used elsewhere (closed) during a run.
    void WaitForAuditRow() { audit_.Wait(); }

    // The client's work notifications.
    void NetFTP1WorkBegin(TNetComponent& sender, TWorkMode mode, long long workCountMax);
    void NetFTP1Work(TNetComponent& sender, TWorkMode mode, long long workCount);
    void NetFTP1WorkEnd(TNetComponent& sender, TWorkMode mode);

private:
    bool ReadLogin();
    void SendListedFiles();
    void SendOneFile(const TransferRow& row);
    void MarkStoredFiles();

    IUploadView& view_;
    TUploadValues values_;
    TTransferList& list_;
    TDbfTable& fileLog_;
    TDbfTable& settings_;
    TDbfTable& upLog_;
    TNetFTP& ftp_;
    // Writes the audit rows beside the exchange; declared after upLog_.
    TAuditWriter audit_{upLog_};
    // How a store counts as done (login option confirm=).
    TConfirmRule confirm_ = TConfirmRule::Size;
    // What the client announced for the file being sent.
    long long announcedBytes_ = -1;
    // The rows this run stored and the server confirmed; the file log marks these.
    std::vector<TransferRow> stored_;
};

// Returns only when the server confirmed the store just made as the whole
// file: its final reply (`finalReply`, from StoreFile) is 226 or 250 and,
// under TConfirmRule::Size, SIZE answers 213 with exactly `sentBytes`.
// Otherwise raises ENetStoreNotConfirmed naming the file and the reply, or
// EUploadSizeMismatch; nothing may then mark the file.
void ConfirmStore(TNetFTP& ftp, const std::string& remoteName, int finalReply, long long sentBytes,
                  TConfirmRule rule);

// "The server holds R bytes of NAME, but S were sent."
std::string SizeMismatchMessage(const std::string& name, long long remoteBytes, long long sentBytes);
