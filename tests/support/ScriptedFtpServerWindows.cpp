#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <stdexcept>

#include "tests/support/ScriptedFtpServer.h"

// The scripted server on Windows (ScriptedFtpServer.cpp is the POSIX one):
// the same script handling over Winsock, with loopback socket pairs where
// POSIX uses pipes, since WSAPoll waits on sockets only.
namespace qz::test {

namespace {

void StartSockets() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("WSAStartup failed");
}

// Winsock handles are small numbers, kept in the header's int fields.
SOCKET S(int fd) { return static_cast<SOCKET>(fd); }
void CloseFd(int fd) { ::closesocket(S(fd)); }

int ListenLoopback(int& port) {
    StartSockets();
    SOCKET fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd == INVALID_SOCKET) throw std::runtime_error("socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::closesocket(fd);
        throw std::runtime_error("listen failed");
    }
    port = ntohs(addr.sin_port);
    return static_cast<int>(fd);
}

// A connected loopback pair standing in for a pipe: Winsock waits only on
// sockets. ends[0] is read, ends[1] written.
bool SignalPair(int ends[2]) {
    int port = 0;
    int listener = ListenLoopback(port);
    SOCKET writer = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    bool ok = writer != INVALID_SOCKET && ::connect(writer, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    SOCKET reader = ok ? ::accept(S(listener), nullptr, nullptr) : INVALID_SOCKET;
    CloseFd(listener);
    if (!ok || reader == INVALID_SOCKET) return false;
    ends[0] = static_cast<int>(reader);
    ends[1] = static_cast<int>(writer);
    return true;
}

void SignalWrite(int fd) {
    char c = 1;
    ::send(S(fd), &c, 1, 0);
}

void SetNonBlocking(SOCKET s, bool on) {
    u_long mode = on ? 1 : 0;
    ::ioctlsocket(s, FIONBIO, &mode);
}

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
    listenFd_ = ListenLoopback(port_);
    dataListenFd_ = ListenLoopback(dataPort_);
    if (!SignalPair(stopPipe_) || !SignalPair(signalPipe_)) throw std::runtime_error("signal pair failed");
    if (!script_.empty() && script_.front().readCommand) script_.insert(script_.begin(), Greeting("220 ready"));
    thread_ = std::thread([this] { Run(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    SignalWrite(stopPipe_[1]);
    thread_.join();
    for (int fd : {listenFd_, dataListenFd_, stopPipe_[0], stopPipe_[1], signalPipe_[0], signalPipe_[1], heldDataFd_})
        if (fd >= 0) CloseFd(fd);
}

void ScriptedFtpServer::Signal() { SignalWrite(signalPipe_[1]); }

void ScriptedFtpServer::WaitDone() {
    // Guards against a hang only; a client that never closes fails the test.
    for (int waited = 0; !done_.load(); waited += 5) {
        if (waited > 30000) return Fail("the client never closed the control connection");
        ::Sleep(5);
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
bool ScriptedFtpServer::WaitReadable(int fd) {
    WSAPOLLFD fds[2] = {{S(fd), POLLRDNORM, 0}, {S(stopPipe_[0]), POLLRDNORM, 0}};
    const int n = ::WSAPoll(fds, 2, -1);
    return n > 0 && fds[1].revents == 0;
}

bool ScriptedFtpServer::ReadLine(int fd, std::string& buffer, std::string& line) {
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
        int n = ::recv(S(fd), chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

bool ScriptedFtpServer::SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        int n = ::send(S(fd), bytes.data() + sent, int(bytes.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Sends `bytes` over and over until the client goes away or the server is
// stopped; a client that stops reading leaves it waiting, not sending.
void ScriptedFtpServer::Repeat(int fd, const std::string& bytes, int intervalMs) {
    std::string block;
    while (intervalMs == 0 && block.size() < 65536) block += bytes;
    if (block.empty()) block = bytes;
    while (true) {
        WSAPOLLFD fds[2] = {{S(fd), POLLWRNORM, 0}, {S(stopPipe_[0]), POLLRDNORM, 0}};
        int n = ::WSAPoll(fds, 2, -1);
        if (n < 0 || fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLHUP)) != 0) return;
        SetNonBlocking(S(fd), true);
        int sent = ::send(S(fd), block.data(), int(block.size()), 0);
        const int error = sent < 0 ? ::WSAGetLastError() : 0;
        SetNonBlocking(S(fd), false);
        if (sent < 0 && error != WSAEWOULDBLOCK && error != WSAEINTR) return;
        if (intervalMs > 0) {
            WSAPOLLFD stop{S(stopPipe_[0]), POLLRDNORM, 0};
            if (::WSAPoll(&stop, 1, intervalMs) != 0) return;
        }
    }
}

void ScriptedFtpServer::ReceiveData() {
    if (!WaitReadable(dataListenFd_)) return;
    sockaddr_in local{};
    int len = sizeof local;
    SOCKET accepted = ::accept(S(dataListenFd_), nullptr, nullptr);
    if (accepted == INVALID_SOCKET) return Fail("data accept failed");
    int fd = static_cast<int>(accepted);
    ::getsockname(accepted, reinterpret_cast<sockaddr*>(&local), &len);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
    {
        std::lock_guard lock(mutex_);
        dataLocal_ = text;
        ++dataConnections_;
    }
    std::string received;
    std::vector<char> chunk(1 << 16);
    while (WaitReadable(fd)) {
        int n = ::recv(S(fd), chunk.data(), int(chunk.size()), 0);
        if (n <= 0) break;
        received.append(chunk.data(), static_cast<std::size_t>(n));
    }
    CloseFd(fd);
    std::lock_guard lock(mutex_);
    data_ += received;
}

void ScriptedFtpServer::Run() {
    struct Done {
        std::atomic<bool>& flag;
        ~Done() { flag = true; }
    } done{done_};
    if (!WaitReadable(listenFd_)) return;
    SOCKET accepted = ::accept(S(listenFd_), nullptr, nullptr);
    if (accepted == INVALID_SOCKET) return Fail("accept failed");
    int fd = static_cast<int>(accepted);
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
            char c;
            if (!WaitReadable(signalPipe_[0]) || ::recv(S(signalPipe_[0]), &c, 1, 0) != 1) break;
        }
        std::string reply = step.reply;
        ReplaceAll(reply, "{PASV}", pasv);
        if (!SendAll(fd, reply)) {
            Fail("send failed");
            break;
        }
        if (step.action == ScriptStep::Action::ReceiveData) ReceiveData();
        if (step.action == ScriptStep::Action::HoldData && WaitReadable(dataListenFd_)) {
            SOCKET held = ::accept(S(dataListenFd_), nullptr, nullptr);
            heldDataFd_ = held == INVALID_SOCKET ? -1 : static_cast<int>(held);
            std::lock_guard lock(mutex_);
            ++dataConnections_;
        }
        if (step.action == ScriptStep::Action::Flood || step.action == ScriptStep::Action::Trickle) {
            Repeat(fd, reply, step.action == ScriptStep::Action::Flood ? 0 : 100);
            break;
        }
        if (step.action == ScriptStep::Action::CloseControl) {
            CloseFd(fd);
            return;
        }
        if (step.action == ScriptStep::Action::HangUp) {
            // Closing with unread bytes would reset the connection instead.
            ::shutdown(S(fd), SD_SEND);
            while (ReadLine(fd, buffer, line)) {
            }
            CloseFd(fd);
            return;
        }
        if (step.action == ScriptStep::Action::Silent) break;
    }
    // Record whatever else comes until the client closes (a QUIT would show here).
    while (open && ReadLine(fd, buffer, line)) {
        std::lock_guard lock(mutex_);
        commands_.push_back(line);
    }
    CloseFd(fd);
}

}  // namespace qz::test
