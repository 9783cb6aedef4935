#pragma once
// Small fixtures shared by the FTP client tests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qz::test {

// A loopback socket that holds a port; listening only when asked, with a
// backlog that is full after two connection attempts.
class LoopbackPort {
public:
    enum class Mode { Refusing, FullBacklog, Listening };
    explicit LoopbackPort(Mode mode) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("bind failed");
        port_ = ntohs(addr.sin_port);
        if (mode == Mode::Listening) ::listen(fd_, 16);  // handshakes complete, nothing is accepted
        if (mode == Mode::FullBacklog) {
            // The accept queue takes one; later handshakes are left unanswered.
            ::listen(fd_, 0);
            for (int i = 0; i < 2; ++i) {
                int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
                ::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
                fillers_.push_back(c);
            }
            ::usleep(100000);  // let the first handshake complete
        }
    }
    ~LoopbackPort() {
        for (int c : fillers_) ::close(c);
        ::close(fd_);
    }
    LoopbackPort(const LoopbackPort&) = delete;
    LoopbackPort& operator=(const LoopbackPort&) = delete;
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

// A file in a fresh temporary folder, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string& content, const std::string& name = "upload.xml") {
        std::string pattern = (std::filesystem::temp_directory_path() / "qz-ftp-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        path_ = dir_ + "/" + name;
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }
    const std::string& Dir() const { return dir_; }

private:
    std::string dir_, path_;
};

// Bytes that differ from position to position, so misplaced chunks show.
inline std::string PatternBytes(std::size_t size) {
    std::string bytes(size, '\0');
    unsigned x = 2463534242u;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x);
    }
    return bytes;
}

}  // namespace qz::test
