#include "ftp/commands/NetFTP.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "ftp/NetExceptions.h"
#include "ftp/iohandler/NetIOHandlerSocket.h"
#include "ftp/iohandler/NetIOHandlerTls.h"

TNetFTP::TNetFTP() {
    Port = 21;
    ReadTimeout = 100000;
}

void TNetFTP::ConnectToServer(bool login) {
    const std::string user = "USER " + Username, password = "PASS " + Password;
    if (login) {
        // Refused before the server is even reached.
        CheckCommandLine(user);
        CheckCommandLine(password);
    }
    // A bad CA file or pin stops the run before the server is reached.
    tlsContext_ = Tls.Enabled ? std::make_shared<TNetTlsContext>(Tls) : nullptr;
    tlsInfo_ = tlsLastData_ = TNetTlsInfo{};
    tlsData_ = tlsResumed_ = tlsRenewals_ = 0;
    folder_.clear();
    try {
        OpenConnection();
        ReadReply({220});
        if (tlsContext_) StartControlTls();
        if (login) {
            if (SendCommand(user, {230, 331}) == 331) SendCommand(password, {230});
            if (tlsContext_) ProtectDataConnections();
            SendCommand(std::string("TYPE ") + (TransferType == TNetFtpTransferType::ftBinary ? "I" : "A"), {200});
            SendCommand("SYST", {200, 215, 500});
        }
    } catch (...) {
        CloseConnection();
        throw;
    }
}

std::unique_ptr<TNetIOHandler> TNetFTP::MakeTransport() {
    std::unique_ptr<TNetIOHandler> below = TNetTCPClient::MakeTransport();
    if (!Tls.Enabled) return below;
    return std::make_unique<TNetIOHandlerTls>(std::move(below));
}

std::unique_ptr<TNetIOHandler> TNetFTP::MakeDataTransport() {
    std::unique_ptr<TNetIOHandler> below;
    if (MakeDataIOHandler) below = MakeDataIOHandler();
    if (!below && MakeIOHandler) below = MakeIOHandler();
    if (!below) below = std::make_unique<TNetIOHandlerSocket>();
    if (!tlsContext_) return below;
    auto tls = std::make_unique<TNetIOHandlerTls>(std::move(below));
    tls->AwaitCloseNotify = true;
    return tls;
}

void TNetFTP::StartControlTls() {
    if (SendCommand("AUTH TLS", {}) != 234)
        throw ENetTlsError("The server refused TLS (AUTH TLS): " + LastCmdResult().FormattedText());
    // Anything after the 234 before our handshake is not the server's TLS:
    // a man in the middle, or a server out of step.
    if (InputBufferSize() != 0) throw ENetTlsError("The server sent plain text after agreeing to TLS.");
    auto* tls = dynamic_cast<TNetIOHandlerTls*>(IOHandler());
    if (!tls) throw ENetTlsError("TLS cannot be set up on this connection.");
    tls->StartTls(tlsContext_, Host, ReadTimeout > 0 ? ReadTimeout : -1);
    tlsInfo_ = tls->Info();
}

void TNetFTP::ProtectDataConnections() {
    if (SendCommand("PBSZ 0", {}) != 200)
        throw ENetTlsError("The server refused the protection buffer size (PBSZ 0): " +
                           LastCmdResult().FormattedText());
    if (SendCommand("PROT P", {}) != 200)
        throw ENetTlsError("The server refused encrypted data connections (PROT P): " +
                           LastCmdResult().FormattedText());
}

void TNetFTP::ChangeFolder(const std::string& folder) {
    SendCommand("CWD " + folder, {200, 250});
    folder_ = folder;
}

void TNetFTP::RenewTlsControlConnection() {
    // A new log-in gives new tickets; the record goes on counting.
    const int data = tlsData_, resumed = tlsResumed_, renewals = tlsRenewals_ + 1;
    const std::string folder = folder_;
    CloseConnection();
    ConnectToServer(true);
    tlsData_ = data;
    tlsResumed_ = resumed;
    tlsRenewals_ = renewals;
    if (!folder.empty()) ChangeFolder(folder);
}

void TNetFTP::RequestPassiveAddress() {
    SendCommand("PASV", {227});
    const TNetRFCReply& reply = LastCmdResult();
    passive_ = ParsePassiveReply(reply.Text.empty() ? std::string() : reply.Text.front());
}

int TNetFTP::StoreFile(const std::string& localPath, const std::string& remoteName) {
    // A name that may not go out stops the store before PASV.
    const std::string stor = "STOR " + remoteName;
    CheckCommandLine(stor);
    TNetFileStream file(localPath);
    // A server whose TLS 1.3 tickets are single-use and that gives none on
    // data connections (ProFTPD) has none left after two files: a new
    // control connection brings new ones, so the data connection can resume.
    if (tlsContext_ && tlsContext_->TicketsUsedUp()) RenewTlsControlConnection();
    RequestPassiveAddress();
    SendLine(stor);
    {
        auto data = std::make_unique<TNetTCPClient>();
        data->SendBufferSize = SendBufferSize;
        data->RecvBufferSize = RecvBufferSize;
        data->MakeIOHandler = [this] { return MakeDataTransport(); };
        // A server that stops reading fails the send instead of holding it.
        data->ReadTimeout = ReadTimeout;
        data->OnWork = OnWork;
        data->OnWorkBegin = OnWorkBegin;
        // The data connection is closed before the end notification, not
        // after it: the server completes the file and prepares its reply
        // while the handler runs. The handler never uses the connection.
        data->OnWorkEnd = [this, &connection = *data](TNetComponent& sender, TWorkMode mode) {
            try {
                connection.DropSocket();
            } catch (...) {
                if (OnWorkEnd) OnWorkEnd(sender, mode);
                throw;
            }
            if (OnWorkEnd) OnWorkEnd(sender, mode);
        };
        // The address in the reply is only what the server believes it is
        // called: behind address translation it is unreachable, and from a
        // hostile server it could point anywhere. The data goes to the host
        // we are already talking to.
        data->Host = PeerIP();
        data->Port = passive_.Port;
        data->ConnectTimeout = ConnectTimeout;
        data->OpenConnection();
        // Closing the data connection tells the server the file is complete;
        // it runs however the exchange below ends.
        struct CloseData {
            TNetTCPClient& connection;
            ~CloseData() {
                try {
                    connection.CloseConnection();
                } catch (...) {
                }
            }
        } closeData{*data};
        if (tlsContext_)
            StartDataTls(*data);
        else
            ReadReply({110, 125, 150});
        try {
            data->SendStream(file);
        } catch (const ENetSocketError& e) {
            // A socket closed under the sending: go on as after a complete send.
            if (e.LastError() != 10038) throw;
        }
    }
    const int final = ReadReply({225, 226, 250, 426});
    if (final != 426) return final;
    // The server broke the transfer off: what it holds is not the file,
    // whatever it answers next. The next reply is read to stay in step.
    const std::string aborted = "\"" + ShownReply(LastCmdResult()) + "\"";
    ReadReply({});
    throw ENetStoreNotConfirmed(remoteName, "the transfer", aborted + ", then \"" + ShownReply(LastCmdResult()) + "\"");
}

void TNetFTP::StartDataTls(TNetTCPClient& data) {
    auto* tls = dynamic_cast<TNetIOHandlerTls*>(data.IOHandler());
    if (!tls) throw ENetTlsError("TLS cannot be set up on the data connection.");
    SSL_SESSION* session = tlsContext_->TakeSession();
    struct Release {
        SSL_SESSION* s;
        ~Release() { FreeTlsSession(s); }
    } release{session};
    // The handshake goes on while the reply to STOR is awaited: some servers
    // answer 150 before their side of the handshake, others after it, and a
    // refused STOR must not leave us waiting for a handshake that never comes.
    const int timeout = ReadTimeout > 0 ? ReadTimeout : -1;
    tls->BeginHandshake(tlsContext_, Host, timeout, session);
    bool replied = false;
    while (!tls->HandshakeStep(replied ? -1 : 50)) {
        if (!replied && (InputBufferSize() > 0 || IOHandler()->Readable(0))) {
            ReadReply({110, 125, 150});
            replied = true;
        }
    }
    if (!replied) ReadReply({110, 125, 150});
    tlsLastData_ = tls->Info();
    ++tlsData_;
    if (tlsLastData_.Resumed) ++tlsResumed_;
}

long long TNetFTP::RemoteFileSize(const std::string& name) {
    if (SendCommand("SIZE " + name, {}) != 213) return -1;
    return ParseSizeReply(LastCmdResult().Text);
}

void TNetFTP::CloseConnection() { TNetTCPClient::CloseConnection(); }

std::string TNetFTP::ShownLine(const std::string& line) const {
    if (line.size() >= 4 && std::equal(line.begin(), line.begin() + 4, "PASS", [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == b;
        }))
        return "PASS <password>";
    return TNetTCPClient::ShownLine(line);
}
