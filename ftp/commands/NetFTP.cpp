#include "ftp/commands/NetFTP.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "ftp/NetExceptions.h"

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
    try {
        OpenConnection();
        ReadReply({220});
        if (login) {
            if (SendCommand(user, {230, 331}) == 331) SendCommand(password, {230});
            SendCommand(std::string("TYPE ") + (TransferType == TNetFtpTransferType::ftBinary ? "I" : "A"), {200});
            SendCommand("SYST", {200, 215, 500});
        }
    } catch (...) {
        CloseConnection();
        throw;
    }
}

void TNetFTP::ChangeFolder(const std::string& folder) { SendCommand("CWD " + folder, {200, 250}); }

void TNetFTP::RequestPassiveAddress() {
    SendCommand("PASV", {227});
    const TNetRFCReply& reply = LastCmdResult();
    passive_ = ParsePassiveReply(reply.Text.empty() ? std::string() : reply.Text.front());
}

void TNetFTP::StoreFile(const std::string& localPath, const std::string& remoteName) {
    // A name that may not go out stops the store before PASV.
    const std::string stor = "STOR " + remoteName;
    CheckCommandLine(stor);
    TNetFileStream file(localPath);
    RequestPassiveAddress();
    SendLine(stor);
    {
        auto data = std::make_unique<TNetTCPClient>();
        data->SendBufferSize = SendBufferSize;
        data->RecvBufferSize = RecvBufferSize;
        data->MakeIOHandler = MakeDataIOHandler ? MakeDataIOHandler : MakeIOHandler;
        // A server that stops reading fails the send instead of holding it.
        data->ReadTimeout = ReadTimeout;
        data->OnWork = OnWork;
        data->OnWorkBegin = OnWorkBegin;
        // The data connection is closed before the end notification, not
        // after it: the server completes the file and prepares its reply
        // while the handler runs. The handler never uses the connection.
        data->OnWorkEnd = [this, &connection = *data](TNetComponent& sender, TWorkMode mode) {
            connection.DropSocket();
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
        ReadReply({110, 125, 150});
        try {
            data->SendStream(file);
        } catch (const ENetSocketError& e) {
            // A socket closed under the sending: go on as after a complete send.
            if (e.LastError() != 10038) throw;
        }
    }
    if (ReadReply({225, 226, 250, 426}) == 426) ReadReply({226, 225});
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
