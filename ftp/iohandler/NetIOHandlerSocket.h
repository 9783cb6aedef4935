#pragma once
// The transport of a connection over one socket: the connect thread and its
// stepped wait, the readiness waits cut into anti-freeze slices. A TLS layer
// is one more TNetIOHandler over this one.
#include <memory>
#include <string>

#include "ftp/NetComponent.h"
#include "ftp/iohandler/NetIOHandler.h"

class TNetSocketHandle;

// Input/output over one socket.
class TNetIOHandlerSocket : public TNetComponent, public TNetIOHandler {
public:
    TNetIOHandlerSocket();
    ~TNetIOHandlerSocket() override;

    // A fresh socket record.
    void Open() override;
    bool Connected() const override;
    void Close() override;
    TNetSocketHandle* Binding() { return binding_.get(); }
    const TNetSocketHandle* Binding() const { return binding_.get(); }
    bool Readable(int timeoutMs) override;
    bool Writable(int timeoutMs) override;
    long long Send(const char* data, std::size_t size) override;
    long long Recv(char* data, std::size_t size) override;
    std::string PeerIP() const override;
    // Connects at once when the connect ends at once, otherwise on a connect
    // thread with the given time-out.
    void ConnectClient(const std::string& ip, int port, const std::string& boundIP, int boundPort,
                       int timeoutMs) override;

    bool UseNagle = true;

private:
    std::unique_ptr<TNetSocketHandle> binding_;
};
