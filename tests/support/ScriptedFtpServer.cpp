#include "tests/support/ScriptedFtpServer.h"

#include <stdexcept>

#include "tests/support/LoopbackSockets.h"

// Written once for every system over the loopback sockets of
// LoopbackSockets.h.
namespace qz::test {

namespace net = loopback;

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

}  // namespace

ScriptStep Greeting(const std::string& reply) { return {false, reply + "\r\n", ScriptStep::Action::None}; }
ScriptStep Unprompted(const std::string& reply) { return {false, reply + "\r\n", ScriptStep::Action::None}; }
ScriptStep Answer(const std::string& reply, ScriptStep::Action action) { return {true, reply + "\r\n", action}; }
ScriptStep RawAnswer(const std::string& bytes, ScriptStep::Action action) { return {true, bytes, action}; }

ScriptedFtpServer::ScriptedFtpServer(std::vector<ScriptStep> script, std::string pasvHost)
    : script_(std::move(script)), pasvHost_(std::move(pasvHost)) {
    listenFd_ = net::Listen(port_);
    dataListenFd_ = net::Listen(dataPort_);
    net::MakeSignal(stopPipe_);
    net::MakeSignal(signalPipe_);
    if (!script_.empty() && script_.front().readCommand) script_.insert(script_.begin(), Greeting("220 ready"));
    thread_ = std::thread([this] { Run(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    net::Raise(stopPipe_[1]);
    thread_.join();
    for (Handle fd : {listenFd_, dataListenFd_, heldDataFd_})
        if (fd != net::None) net::Close(fd);
    net::CloseSignal(stopPipe_);
    net::CloseSignal(signalPipe_);
}

void ScriptedFtpServer::Signal() { net::Raise(signalPipe_[1]); }

void ScriptedFtpServer::WaitDone() {
    // Guards against a hang only; a client that never closes fails the test.
    for (int waited = 0; !done_.load(); waited += 5) {
        if (waited > 30000) return Fail("the client never closed the control connection");
        net::PauseMs(5);
    }
}

std::vector<std::string> ScriptedFtpServer::Commands() {
    std::lock_guard lock(mutex_);
    return commands_;
}
std::string ScriptedFtpServer::Data() {
    std::lock_guard lock(mutex_);
    return data_;
}
std::string ScriptedFtpServer::DataLocalAddress() {
    std::lock_guard lock(mutex_);
    return dataLocal_;
}
int ScriptedFtpServer::DataConnections() {
    std::lock_guard lock(mutex_);
    return dataConnections_;
}
std::string ScriptedFtpServer::Failure() {
    std::lock_guard lock(mutex_);
    return failure_;
}

void ScriptedFtpServer::Fail(const std::string& why) {
    std::lock_guard lock(mutex_);
    if (failure_.empty()) failure_ = why;
}

// False when the server is being stopped.
bool ScriptedFtpServer::WaitReadable(Handle fd) { return net::Wait(fd, false, stopPipe_[0]) == net::TReady::Ready; }

bool ScriptedFtpServer::ReadLine(Handle fd, std::string& buffer, std::string& line) {
    while (true) {
        std::size_t lf = buffer.find('\n');
        if (lf != std::string::npos) {
            line = buffer.substr(0, lf);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            buffer.erase(0, lf + 1);
            return true;
        }
        if (!WaitReadable(fd)) return false;
        char chunk[4096];
        const long long n = net::Recv(fd, chunk, sizeof chunk);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

bool ScriptedFtpServer::SendAll(Handle fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const long long n = net::Send(fd, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Sends `bytes` over and over until the client goes away or the server is
// stopped; a client that stops reading leaves it waiting, not sending.
void ScriptedFtpServer::Repeat(Handle fd, const std::string& bytes, int intervalMs) {
    std::string block;
    while (intervalMs == 0 && block.size() < 65536) block += bytes;
    if (block.empty()) block = bytes;
    while (true) {
        if (net::Wait(fd, true, stopPipe_[0]) != net::TReady::Ready) return;
        if (net::SendNow(fd, block.data(), block.size()) < 0) return;
        if (intervalMs > 0 && net::Raised(stopPipe_[0], intervalMs)) return;
    }
}

// Takes the data connection: counted, and its local address kept.
ScriptedFtpServer::Handle ScriptedFtpServer::AcceptData() {
    const Handle fd = net::Accept(dataListenFd_);
    if (fd == net::None) return fd;
    const std::string local = net::LocalAddress(fd);
    std::lock_guard lock(mutex_);
    dataLocal_ = local;
    ++dataConnections_;
    return fd;
}

void ScriptedFtpServer::ReceiveData() {
    if (!WaitReadable(dataListenFd_)) return;
    const Handle fd = AcceptData();
    if (fd == net::None) return Fail("data accept failed");
    std::string received;
    std::vector<char> chunk(1 << 16);
    while (WaitReadable(fd)) {
        const long long n = net::Recv(fd, chunk.data(), chunk.size());
        if (n <= 0) break;
        received.append(chunk.data(), static_cast<std::size_t>(n));
    }
    net::Close(fd);
    std::lock_guard lock(mutex_);
    data_ += received;
}

void ScriptedFtpServer::Run() {
    struct Done {
        std::atomic<bool>& flag;
        ~Done() { flag = true; }
    } done{done_};
    if (!WaitReadable(listenFd_)) return;
    const Handle fd = net::Accept(listenFd_);
    if (fd == net::None) return Fail("accept failed");
    std::string buffer, line;
    std::string pasv = pasvHost_;
    ReplaceAll(pasv, ".", ",");
    for (int part : {dataPort_ / 256, dataPort_ % 256}) {
        pasv += ',';
        pasv += std::to_string(part);
    }
    bool open = true;
    for (const ScriptStep& step : script_) {
        if (step.readCommand) {
            if (!ReadLine(fd, buffer, line)) {
                Fail("client went away before the script ended");
                open = false;
                break;
            }
            std::lock_guard lock(mutex_);
            commands_.push_back(line);
        }
        if (step.action == ScriptStep::Action::WaitForSignal) {
            if (!WaitReadable(signalPipe_[0]) || !net::Take(signalPipe_[0])) break;
        }
        std::string reply = step.reply;
        ReplaceAll(reply, "{PASV}", pasv);
        if (!SendAll(fd, reply)) {
            Fail("send failed");
            break;
        }
        if (step.action == ScriptStep::Action::ReceiveData) ReceiveData();
        if (step.action == ScriptStep::Action::HoldData && WaitReadable(dataListenFd_)) heldDataFd_ = AcceptData();
        if (step.action == ScriptStep::Action::Flood || step.action == ScriptStep::Action::Trickle) {
            Repeat(fd, reply, step.action == ScriptStep::Action::Flood ? 0 : 100);
            break;
        }
        if (step.action == ScriptStep::Action::CloseControl) {
            net::Close(fd);
            return;
        }
        if (step.action == ScriptStep::Action::HangUp) {
            // Closing with unread bytes would reset the connection instead.
            net::ShutdownSend(fd);
            while (ReadLine(fd, buffer, line)) {
            }
            net::Close(fd);
            return;
        }
        if (step.action == ScriptStep::Action::Silent) break;
    }
    // Record whatever else comes until the client closes (a QUIT would show here).
    while (open && ReadLine(fd, buffer, line)) {
        std::lock_guard lock(mutex_);
        commands_.push_back(line);
    }
    net::Close(fd);
}

}  // namespace qz::test
