#include "upload/UploadRun.h"

#include <filesystem>
#include <system_error>

#include "data/local/LocalTables.h"
#include "data/table/DbfTable.h"
#include "ftp/NetExceptions.h"
#include "ftp/commands/NetFTP.h"
#include "rtl/Utf8Path.h"
#include "scan/TransferList.h"
#include "upload/AuditLog.h"
#include "upload/TextFn.h"
#include "upload/UploadView.h"

std::string SizeMismatchMessage(const std::string& name, long long remoteBytes, long long sentBytes) {
    return "The server holds " + std::to_string(remoteBytes) + " bytes of " + name + ", but " +
           std::to_string(sentBytes) + " were sent.";
}

TUploadRun::TUploadRun(IUploadView& view, TUploadValues values, TTransferList& transferList,
                       TDbfTable& fileLog, TDbfTable& settings, TDbfTable& upLog, TNetFTP& ftp)
    : view_(view), values_(values), list_(transferList), fileLog_(fileLog), settings_(settings),
      upLog_(upLog), ftp_(ftp) {
    ftp_.OnWorkBegin = [this](TNetComponent& s, TWorkMode m, long long max) { NetFTP1WorkBegin(s, m, max); };
    ftp_.OnWork = [this](TNetComponent& s, TWorkMode m, long long count) { NetFTP1Work(s, m, count); };
    ftp_.OnWorkEnd = [this](TNetComponent& s, TWorkMode m) { NetFTP1WorkEnd(s, m); };
}

TUploadRun::~TUploadRun() {
    ftp_.OnWorkBegin = nullptr;
    ftp_.OnWork = nullptr;
    ftp_.OnWorkEnd = nullptr;
}

void TUploadRun::Run() {
    view_.ShowProgress();
    view_.SetUploadEnabled(false);
    view_.SetQuitEnabled(false);
    values_.UploadPath.clear();
    audit_.Restart();

    if (ReadLogin()) {
        SaveLog(audit_, values_.FtpHost, values_.UploadPath, view_.PartsComplete(), confirm_);
        ftp_.ConnectToServer(true);
        if (!values_.RemoteFolder.empty()) ftp_.ChangeFolder(values_.RemoteFolder);
        stored_.clear();
        if (list_.RecNo() > 0) SendListedFiles();
        ftp_.CloseConnection();
        audit_.Finish();   // every audit row is on disk before the marks
        MarkStoredFiles();
        StampLastCopy(settings_);
        view_.SetQuitEnabled(true);
        view_.ShowMessage(kAllFinishedMessage);
    } else {
        view_.ShowMessage(kNoLoginMessage);
    }
    if (list_.RecNo() == -1) view_.ShowMessage(kNoFilesMessage);
}

bool TUploadRun::ReadLogin() {
    const std::string path = LoginFileName(values_.ProgramFolder, values_.LocationCode);
    // Without the file, the working values and the client keep what they had.
    if (!LoginFileExists(path)) return false;
    const TFtpLogin login = ParseLoginLine(ReadLoginLine(path));
    values_.FtpHost = login.FtpHost;
    values_.FtpUser = login.FtpUser;
    values_.FtpPassword = login.FtpPassword;
    values_.RemoteFolder = login.RemoteFolder;
    ftp_.SetHost(login.ServerHost());
    if (login.Options.Port) ftp_.SetPort(*login.Options.Port);
    ftp_.Tls = TlsSettingsOf(login.Options);
    confirm_ = login.Options.Confirm;
    ftp_.SetUsername(TextFn::TrimBlanks(values_.FtpUser));
    ftp_.SetPassword(TextFn::TrimBlanks(values_.FtpPassword));
    return true;
}

void TUploadRun::SendListedFiles() {
    // The run walks a copy of the rows by a position of its own: the grid
    // moves the list's current row, and the window handles the user's
    // gestures while the client waits for the server.
    list_.First();
    const std::vector<TransferRow> rows = list_.Rows();
    view_.SetTotalParts(static_cast<int>(rows.size()));
    int k = 1;
    for (const TransferRow& row : rows) {
        SendOneFile(row);
        stored_.push_back(row);
        view_.SetPartsComplete(k);
        ++k;
    }
}

void TUploadRun::SendOneFile(const TransferRow& row) {
    // SourceFolder is read for every file: a Save during the run may change it.
    values_.UploadPath = values_.SourceFolder + row.FileName;
    const std::string name = NamePart(values_.UploadPath);
    view_.SetStatusText(kUploadingText + name, true);

    std::error_code ec;
    const auto sizeOnDisk = std::filesystem::file_size(PathFromUtf8(values_.UploadPath), ec);
    const long long measuredBytes = ec ? -1 : static_cast<long long>(sizeOnDisk);

    announcedBytes_ = -1;
    int finalReply = 0;
    try {
        finalReply = ftp_.StoreFile(values_.UploadPath, name);
    } catch (const ENetProtocolReplyError& refused) {
        // The server's text alone ("Could not create file.") does not say
        // which file it refused.
        std::string text = refused.what();
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
        throw ENetProtocolReplyError(refused.ReplyErrorCode(), "The server refused " + name + ": " + text);
    }
    // The client announces the size it sends from the file it opened; that
    // beats a measure taken before, should the file have grown meanwhile.
    const long long sentBytes = announcedBytes_ >= 0 ? announcedBytes_ : measuredBytes;
    ConfirmStore(ftp_, name, finalReply, sentBytes, confirm_);
}

void ConfirmStore(TNetFTP& ftp, const std::string& remoteName, int finalReply, long long sentBytes,
                  TConfirmRule rule) {
    // A "YES" in the file log says the file is on the server, whole: only a
    // completion reply (226, or 250 that RFC 959 allows for the same) and,
    // under the default rule, a SIZE equal to the bytes sent say so.
    if (finalReply != 226 && finalReply != 250)
        throw ENetStoreNotConfirmed(remoteName, "the transfer", "\"" + ShownReply(ftp.LastCmdResult()) + "\"");
    if (rule == TConfirmRule::FinalReply) return;
    const long long remoteBytes = ftp.RemoteFileSize(remoteName);
    if (remoteBytes < 0)
        throw ENetStoreNotConfirmed(remoteName, "SIZE", "\"" + ShownReply(ftp.LastCmdResult()) + "\"");
    if (remoteBytes != sentBytes)
        throw EUploadSizeMismatch(SizeMismatchMessage(remoteName, remoteBytes, sentBytes));
}

void TUploadRun::MarkStoredFiles() {
    // Exactly the files this run stored and the server confirmed, in the
    // order they were sent; rows deleted or never reached are not marked.
    if (stored_.empty()) return;
    // One commit (one sync) for all the marks, and all or none: a file not
    // marked is sent again next time, never marked unsent.
    TDbfBatch batch(fileLog_);
    for (const TransferRow& row : stored_)
        UpdateFileLog(fileLog_, FileLogRow{row.Date, row.FileName, TransferDateText(row.FilCreated)});
    batch.Commit();
}

void TUploadRun::NetFTP1WorkBegin(TNetComponent&, TWorkMode, long long workCountMax) {
    // The handler has nothing to show; the count is kept for the size check.
    announcedBytes_ = workCountMax;
}

void TUploadRun::NetFTP1Work(TNetComponent&, TWorkMode, long long) {}

void TUploadRun::NetFTP1WorkEnd(TNetComponent&, TWorkMode) {
    SaveLog(audit_, values_.FtpHost, values_.UploadPath, view_.PartsComplete(), confirm_);
    view_.SetStatusText(kUploadCompleteText, false);
}
