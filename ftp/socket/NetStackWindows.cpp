#include "ftp/socket/NetStack.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>
#include <mutex>

// The socket layer on Windows (NetStackPosix.cpp is the POSIX one). The
// program's socket error numbers are Winsock's own, so they pass unchanged.
namespace TNetStack {

void Startup() {
    // Winsock 2.2, once per process; it stays up until the process ends.
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data{};
        const int rc = ::WSAStartup(MAKEWORD(2, 2), &data);
        if (rc != 0) RaiseSocketError(rc);
    });
}

int TranslateErrno(int err) { return err; }

int TranslateLookupError(int gaiError, int) { return gaiError; }

std::string ResolveHost(const std::string& host) {
    if (_stricmp(host.c_str(), "localhost") == 0) return "127.0.0.1";
    if (IsDottedAddress(host)) return host;
    Startup();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        if (found) ::freeaddrinfo(found);
        RaiseSocketError(rc != 0 ? TranslateLookupError(rc, 0) : 11001);
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    ::freeaddrinfo(found);
    return text;
}

}  // namespace TNetStack
