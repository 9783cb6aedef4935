#pragma once
// The FTP commands the upload needs, over passive binary data connections.
#include <memory>
#include <string>

#include "ftp/connection/NetTCPConnection.h"
#include "ftp/iohandler/NetTlsContext.h"

enum class TNetFtpTransferType { ftASCII, ftBinary };

class TNetFTP : public TNetTCPClient {
public:
    TNetFTP();

    void SetHost(std::string host) { Host = std::move(host); }
    void SetPort(int port) { Port = port; }
    void SetUsername(std::string user) { Username = std::move(user); }
    void SetPassword(std::string password) { Password = std::move(password); }
    void SetPassive(bool passive) { Passive = passive; }
    void SetReadTimeout(int ms) { ReadTimeout = ms; }  // 100000 unless set
    void SetConnectTimeout(int ms) { ConnectTimeout = ms; }

    std::string Username;
    std::string Password;
    bool Passive = false;
    TNetFtpTransferType TransferType = TNetFtpTransferType::ftBinary;
    // Makes the transport of each data connection; MakeIOHandler when empty.
    TNetIOHandlerFactory MakeDataIOHandler;
    // Explicit FTPS when enabled: AUTH TLS before USER, PBSZ 0 and PROT P
    // after it, every data connection in TLS resuming the control
    // connection's session. Nothing falls back to plain FTP.
    TNetTlsSettings Tls;

    // The control connection's handshake, once made.
    const TNetTlsInfo& TlsInfo() const { return tlsInfo_; }
    // The client's own record of the data connections of this connection:
    // how many were made in TLS, how many resumed a session, the last one's.
    int TlsDataConnections() const { return tlsData_; }
    int TlsDataResumed() const { return tlsResumed_; }
    // Sessions the server handed out for resuming (a server may offer none:
    // pure-ftpd sends no TLS 1.3 tickets).
    int TlsSessionsReceived() const { return tlsContext_ ? tlsContext_->SessionsReceived() : 0; }
    const TNetTlsInfo& TlsLastDataInfo() const { return tlsLastData_; }
    // How often the control connection was made anew (and logged in again,
    // back in the same folder) because the server's single-use TLS 1.3
    // tickets were used up.
    int TlsRenewals() const { return tlsRenewals_; }

    void ConnectToServer(bool login = true);
    void ChangeFolder(const std::string& folder);
    // Returns the final reply's code: 225, 226 or 250. A transfer the server
    // broke off (426) raises ENetStoreNotConfirmed, whatever follows it.
    int StoreFile(const std::string& localPath, const std::string& remoteName);
    // The size a 213 reply names (ParseSizeReply); -1 for any other reply.
    long long RemoteFileSize(const std::string& name);
    // Closes the control connection; never sends QUIT.
    void CloseConnection() override;

    // What the last reply to PASV named; the data connection goes to the
    // control connection's peer with its port, whatever address it names.
    const TPassiveAddress& LastPassiveAddress() const { return passive_; }

protected:
    std::string ShownLine(const std::string& line) const override;
    std::unique_ptr<TNetIOHandler> MakeTransport() override;

private:
    void RequestPassiveAddress();
    void StartControlTls();
    void ProtectDataConnections();
    void StartDataTls(TNetTCPClient& data);
    void RenewTlsControlConnection();
    std::unique_ptr<TNetIOHandler> MakeDataTransport();
    TPassiveAddress passive_;
    std::shared_ptr<TNetTlsContext> tlsContext_;
    TNetTlsInfo tlsInfo_, tlsLastData_;
    int tlsData_ = 0, tlsResumed_ = 0, tlsRenewals_ = 0;
    std::string folder_;  // the last CWD, for a renewed control connection
};
