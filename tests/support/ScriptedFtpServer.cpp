#include "tests/support/ScriptedFtpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace qz::test {

namespace {

int ListenLoopback(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("listen failed");
    }
    port = ntohs(addr.sin_port);
    return fd;
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
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0 || ::pipe2(signalPipe_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (!script_.empty() && script_.front().readCommand) script_.insert(script_.begin(), Greeting("220 ready"));
    thread_ = std::thread([this] { Run(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(stopPipe_[1], &c, 1);
    thread_.join();
    for (int fd : {listenFd_, dataListenFd_, stopPipe_[0], stopPipe_[1], signalPipe_[0], signalPipe_[1], heldDataFd_})
        if (fd >= 0) ::close(fd);
}

void ScriptedFtpServer::Signal() {
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe_[1], &c, 1);
}

void ScriptedFtpServer::WaitDone() {
    // Guards against a hang only; a client that never closes fails the test.
    for (int waited = 0; !done_.load(); waited += 5) {
        if (waited > 30000) return Fail("the client never closed the control connection");
        ::usleep(5000);
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
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    while (true) {
        int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        return n > 0 && fds[1].revents == 0;
    }
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
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

bool ScriptedFtpServer::SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
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
        pollfd fds[2] = {{fd, POLLOUT, 0}, {stopPipe_[0], POLLIN, 0}};
        int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLHUP)) != 0) return;
        ssize_t sent = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return;
        if (intervalMs > 0) {
            pollfd stop{stopPipe_[0], POLLIN, 0};
            if (::poll(&stop, 1, intervalMs) != 0) return;
        }
    }
}

void ScriptedFtpServer::ReceiveData() {
    if (!WaitReadable(dataListenFd_)) return;
    sockaddr_in local{};
    socklen_t len = sizeof local;
    int fd = ::accept4(dataListenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return Fail("data accept failed");
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
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
        ssize_t n = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (n <= 0) break;
        received.append(chunk.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::lock_guard lock(mutex_);
    data_ += received;
}

void ScriptedFtpServer::Run() {
    struct Done {
        std::atomic<bool>& flag;
        ~Done() { flag = true; }
    } done{done_};
    if (!WaitReadable(listenFd_)) return;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return Fail("accept failed");
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
            if (!WaitReadable(signalPipe_[0]) || ::read(signalPipe_[0], &c, 1) != 1) break;
        }
        std::string reply = step.reply;
        ReplaceAll(reply, "{PASV}", pasv);
        if (!SendAll(fd, reply)) {
            Fail("send failed");
            break;
        }
        if (step.action == ScriptStep::Action::ReceiveData) ReceiveData();
        if (step.action == ScriptStep::Action::HoldData && WaitReadable(dataListenFd_)) {
            heldDataFd_ = ::accept4(dataListenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            std::lock_guard lock(mutex_);
            ++dataConnections_;
        }
        if (step.action == ScriptStep::Action::Flood || step.action == ScriptStep::Action::Trickle) {
            Repeat(fd, reply, step.action == ScriptStep::Action::Flood ? 0 : 100);
            break;
        }
        if (step.action == ScriptStep::Action::CloseControl) {
            ::close(fd);
            return;
        }
        if (step.action == ScriptStep::Action::HangUp) {
            // Closing with unread bytes would reset the connection instead.
            ::shutdown(fd, SHUT_WR);
            while (ReadLine(fd, buffer, line)) {
            }
            ::close(fd);
            return;
        }
        if (step.action == ScriptStep::Action::Silent) break;
    }
    // Record whatever else comes until the client closes (a QUIT would show here).
    while (open && ReadLine(fd, buffer, line)) {
        std::lock_guard lock(mutex_);
        commands_.push_back(line);
    }
    ::close(fd);
}

}  // namespace qz::test
