#include "tests/support/LoopbackSockets.h"

#include <stdexcept>

// What the loopback sockets do alike on every system, over the system's part.
namespace qz::test::loopback {

namespace {

// Bound to 127.0.0.1 at a free port (and listening when `listen`); throws.
THandle Bound(int& port, bool listen) {
    const THandle s = sys::NewSocket();
    if (s == None) throw std::runtime_error("socket failed");
    unsigned char ip[4];
    std::uint16_t bound = 0;
    if (!sys::BindLoopback(s, listen) || !sys::Name(s, ip, bound)) {
        Close(s);
        throw std::runtime_error("no loopback socket");
    }
    port = bound;
    return s;
}

}  // namespace

THandle Listen(int& port) { return Bound(port, true); }

int FreePort() {
    int port = 0;
    Close(Bound(port, false));
    return port;
}

THandle Connect(int port) {
    const THandle s = sys::NewSocket();
    if (s == None || sys::ConnectLoopback(s, port)) return s;
    Close(s);
    return None;
}

TReady Wait(THandle s, bool forWrite, THandle stop, int timeoutMs) {
    const sys::TPolled polled = sys::Poll(s, forWrite, stop, timeoutMs);
    if (polled.count <= 0) return TReady::Broken;
    if (polled.stopRaised) return TReady::Stopped;
    return forWrite && polled.hungUp ? TReady::Broken : TReady::Ready;
}

std::string LocalAddress(THandle s) {
    unsigned char ip[4] = {};
    std::uint16_t port = 0;
    sys::Name(s, ip, port);
    return std::to_string(ip[0]) + '.' + std::to_string(ip[1]) + '.' + std::to_string(ip[2]) + '.' +
           std::to_string(ip[3]);
}

}  // namespace qz::test::loopback
