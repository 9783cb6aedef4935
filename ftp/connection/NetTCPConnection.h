#pragma once
// One TCP connection with line and stream input/output and numbered replies,
// and the client that opens it.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ftp/NetComponent.h"
#include "ftp/connection/NetReply.h"
#include "ftp/connection/NetStream.h"
#include "ftp/iohandler/NetIOHandler.h"

using TReplyCodes = std::vector<int>;

class TNetTCPConnection : public TNetComponent {
public:
    TNetTCPConnection();
    ~TNetTCPConnection() override;

    int ReadTimeout = 0;          // milliseconds; 0 means no limit
    int RecvBufferSize = 32768;
    int SendBufferSize = 32768;

    bool IsOpen();
    virtual void CloseConnection();
    void DropSocket();

    // Raises ENetCommandRefused, before any byte goes out, for a text that
    // holds CR, LF or NUL.
    void SendLine(const std::string& text);
    std::string ReadTextLine();
    // One reply: at most MaxReplySize bytes, complete within ReadTimeout of
    // its first byte; past either the connection is closed and
    // ENetReplyTooLong / ENetReplyTimeout raised.
    int ReadReply(const TReplyCodes& accepted);
    int SendCommand(const std::string& text, const TReplyCodes& accepted);
    void SendStream(TNetStream& stream);

    const TNetRFCReply& LastCmdResult() const { return lastReply_; }
    TNetIOHandler* IOHandler() { return ioHandler_.get(); }
    const TNetIOHandler* IOHandler() const { return ioHandler_.get(); }
    // Makes the transport when the connection is opened; a socket when empty.
    TNetIOHandlerFactory MakeIOHandler;
    // Bytes received and not yet consumed.
    std::size_t InputBufferSize() const { return inputBuffer_.Size(); }

    // The exchange, for a log: each command line as ShownLine names it (a
    // password never shown) once it has gone, and each whole reply's lines.
    std::function<void(const std::string& shownLine)> OnLineSent;
    std::function<void(const std::vector<std::string>& replyLines)> OnReplyRead;

protected:
    // Prepares the handler (created and owned when there is none) with a
    // fresh socket; raises ENetAlreadyConnected when it is open.
    void PrepareHandler();
    // The transport a new connection gets: MakeIOHandler's, or a socket.
    virtual std::unique_ptr<TNetIOHandler> MakeTransport();
    void CheckForDisconnect(bool raise, bool ignoreBuffer);
    int ReadFromStack();
    // The same with its own wait (-1: no limit); nothing when the wait ended
    // without data.
    std::optional<int> ReceiveWithin(int timeoutMs);
    // Raises ENetCommandRefused for a line that may not go out.
    void CheckCommandLine(const std::string& line) const;
    // How a refused line is named in its error; a password is never shown.
    virtual std::string ShownLine(const std::string& line) const;
    void WriteBuffer(const char* data, std::size_t size);

private:
    std::unique_ptr<TNetIOHandler> ioHandler_;
    TNetInputBuffer inputBuffer_;
    bool closedGracefully_ = false;
    TNetRFCReply lastReply_;
};

class TNetTCPClient : public TNetTCPConnection {
public:
    std::string Host;
    int Port = 0;
    std::string BoundIP;
    int BoundPort = 0;
    int ConnectTimeout = 120000;  // milliseconds

    void OpenConnection();
    // Address of the connected peer, empty when closed.
    std::string PeerIP() const;
};
