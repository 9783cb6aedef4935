#pragma once
// A loopback FTP server that follows a script: for each step it reads one
// command line (none for the greeting), records it, and answers with canned
// bytes. It has one passive data listener, on 127.0.0.1 only.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qz::test {

struct ScriptStep {
    enum class Action {
        None,
        ReceiveData,    // after the reply: accept the data connection and read it to its end
        CloseControl,   // after the reply: close the control connection
        HangUp,         // the same, gracefully: what the client still sends is read and dropped
        Silent,         // send nothing more; wait until the client goes away
        WaitForSignal,  // before the reply: wait until Signal() is called
        HoldData,       // after the reply: accept the data connection and never read from it
        Flood,          // send the reply again and again, as fast as it goes, until the client goes away
        Trickle,        // the same, once every 100 ms
    };
    bool readCommand = true;  // false for the greeting
    std::string reply;        // raw bytes; "{PASV}" becomes h1,h2,h3,h4,p1,p2 of the data listener
    Action action = Action::None;
};

// Shorthands: a greeting, a reply that answers no command (the end of a
// transfer), a command answered by `reply` + CRLF.
ScriptStep Greeting(const std::string& reply);
ScriptStep Unprompted(const std::string& reply);
ScriptStep Answer(const std::string& reply, ScriptStep::Action action = ScriptStep::Action::None);
ScriptStep RawAnswer(const std::string& bytes, ScriptStep::Action action = ScriptStep::Action::None);

class ScriptedFtpServer {
public:
    // `pasvHost` is the address written into "{PASV}" (the data listener is
    // always on 127.0.0.1).
    explicit ScriptedFtpServer(std::vector<ScriptStep> script, std::string pasvHost = "127.0.0.1");
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    int Port() const { return port_; }
    int DataPort() const { return dataPort_; }
    void Signal();
    // Waits until the client closed the control connection (or the script
    // failed), then tells what was seen.
    void WaitDone();
    std::vector<std::string> Commands();   // every line the client sent, script or not
    std::string Data();                    // bytes received on data connections
    std::string DataLocalAddress();        // address the data connection arrived at
    int DataConnections();
    std::string Failure();                 // empty when the script ran as written

private:
    using Handle = std::intptr_t;   // a socket, or -1
    void Run();
    bool ReadLine(Handle fd, std::string& buffer, std::string& line);
    bool WaitReadable(Handle fd);
    bool SendAll(Handle fd, const std::string& bytes);
    void Repeat(Handle fd, const std::string& bytes, int intervalMs);
    Handle AcceptData();
    void ReceiveData();
    void Fail(const std::string& why);

    std::vector<ScriptStep> script_;
    std::string pasvHost_;
    Handle listenFd_ = -1, dataListenFd_ = -1;
    int port_ = 0, dataPort_ = 0;
    Handle stopPipe_[2] = {-1, -1};     // signals: the server's stop, Signal()
    Handle signalPipe_[2] = {-1, -1};
    std::mutex mutex_;
    std::vector<std::string> commands_;
    std::string data_, dataLocal_, failure_;
    int dataConnections_ = 0;
    Handle heldDataFd_ = -1;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace qz::test
