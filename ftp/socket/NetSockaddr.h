#pragma once
// sockaddr_in, the same BSD structure under POSIX and Winsock, to and from
// the four bytes and the port of an IPv4 address. Included by the per-system
// socket files after their own socket headers, whose names it uses.
#include <cstdint>
#include <cstring>
#include <string>

namespace TNetSockaddr {

inline sockaddr_in Make(const unsigned char ip[4], std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    std::memcpy(&addr.sin_addr, ip, 4);
    return addr;
}

inline sockaddr_in Loopback(std::uint16_t port) {
    const unsigned char ip[4] = {127, 0, 0, 1};
    return Make(ip, port);
}

// The socket's own address, or its peer's; false when there is none.
// `Length` is socklen_t on POSIX, int on Windows.
template <class Length, class Socket>
bool Read(Socket s, bool peer, unsigned char ip[4], std::uint16_t& port) {
    sockaddr_in addr{};
    Length len = sizeof addr;
    auto* name = reinterpret_cast<sockaddr*>(&addr);
    if ((peer ? ::getpeername(s, name, &len) : ::getsockname(s, name, &len)) != 0) return false;
    std::memcpy(ip, &addr.sin_addr, 4);
    port = ntohs(addr.sin_port);
    return true;
}

inline std::string Dotted(const unsigned char ip[4]) {
    return std::to_string(ip[0]) + '.' + std::to_string(ip[1]) + '.' + std::to_string(ip[2]) + '.' +
           std::to_string(ip[3]);
}

}  // namespace TNetSockaddr
