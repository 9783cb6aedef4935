#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <fstream>
#include <random>
#include <stdexcept>

#include "rtl/WindowsText.h"
#include "tests/ftp/FtpTestHelpers.h"

namespace qz::test {

LoopbackPort::LoopbackPort(Mode mode) {
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);   // counted; the process keeps it
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    fd_ = static_cast<std::intptr_t>(s);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("bind failed");
    port_ = ntohs(addr.sin_port);
    if (mode == Mode::Listening) ::listen(s, 16);  // handshakes complete, nothing is accepted
    if (mode == Mode::FullBacklog) {
        // The accept queue takes one; later handshakes are left unanswered.
        ::listen(s, 0);
        for (int i = 0; i < 2; ++i) {
            SOCKET c = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            u_long on = 1;
            ::ioctlsocket(c, FIONBIO, &on);
            ::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            fillers_.push_back(static_cast<std::intptr_t>(c));
        }
        ::Sleep(100);  // let the first handshake complete
    }
}

LoopbackPort::~LoopbackPort() {
    for (std::intptr_t c : fillers_) ::closesocket(static_cast<SOCKET>(c));
    ::closesocket(static_cast<SOCKET>(fd_));
}

TempFile::TempFile(const std::string& content, const std::string& name) {
    std::random_device rd;
    for (int i = 0; i < 100 && dir_.empty(); ++i) {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("qz-ftp-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(rd() % 1000000));
        if (std::filesystem::create_directory(dir)) dir_ = dir.string();
    }
    if (dir_.empty()) throw std::runtime_error("cannot create a scratch folder");
    path_ = dir_ + "/" + name;
    std::ofstream(path_, std::ios::binary) << content;
}

// Windows has no FIFOs; links need a privilege Wine does not give.
int MakeFifo(const std::string&) { return -1; }
int MakeFolder(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) ? 0 : -1; }
int MakeSymlink(const std::string&, const std::string&) { return -1; }

HeldFile::HeldFile(const std::string& path) {
    HANDLE h = ::CreateFileW(qz::win::WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<std::intptr_t>(h);
}
HeldFile::~HeldFile() {
    if (Holding()) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}
std::string HeldFile::Reason() { return qz::win::SystemMessage(ERROR_SHARING_VIOLATION); }

}  // namespace qz::test
