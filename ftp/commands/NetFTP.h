#pragma once
// The FTP commands the upload needs, over passive binary data connections.
#include <string>

#include "ftp/connection/NetTCPConnection.h"

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

    void ConnectToServer(bool login = true);
    void ChangeFolder(const std::string& folder);
    void StoreFile(const std::string& localPath, const std::string& remoteName);
    long long RemoteFileSize(const std::string& name);
    // Closes the control connection; never sends QUIT.
    void CloseConnection() override;

    // What the last reply to PASV named; the data connection goes to the
    // control connection's peer with its port, whatever address it names.
    const TPassiveAddress& LastPassiveAddress() const { return passive_; }

protected:
    std::string ShownLine(const std::string& line) const override;

private:
    void RequestPassiveAddress();
    TPassiveAddress passive_;
};
