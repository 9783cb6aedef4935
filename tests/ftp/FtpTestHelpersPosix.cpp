#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "tests/ftp/FtpTestHelpers.h"

namespace qz::test {

LoopbackPort::LoopbackPort(Mode mode) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(int(fd_), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(int(fd_), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("bind failed");
    port_ = ntohs(addr.sin_port);
    if (mode == Mode::Listening) ::listen(int(fd_), 16);  // handshakes complete, nothing is accepted
    if (mode == Mode::FullBacklog) {
        // The accept queue takes one; later handshakes are left unanswered.
        ::listen(int(fd_), 0);
        for (int i = 0; i < 2; ++i) {
            int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            fillers_.push_back(c);
        }
        ::usleep(100000);  // let the first handshake complete
    }
}

LoopbackPort::~LoopbackPort() {
    for (std::intptr_t c : fillers_) ::close(int(c));
    ::close(int(fd_));
}

TempFile::TempFile(const std::string& content, const std::string& name) {
    std::string pattern = (std::filesystem::temp_directory_path() / "qz-ftp-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    path_ = dir_ + "/" + name;
    std::ofstream(path_, std::ios::binary) << content;
}

int MakeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600); }
int MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0700); }
int MakeSymlink(const std::string& target, const std::string& path) { return ::symlink(target.c_str(), path.c_str()); }

HeldFile::HeldFile(const std::string&) {}
HeldFile::~HeldFile() = default;
std::string HeldFile::Reason() { return {}; }

}  // namespace qz::test
