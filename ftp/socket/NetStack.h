#pragma once
// The socket calls of the process, over IPv4 sockets: POSIX in
// NetStackPosix.cpp, Winsock 2 in NetStackWindows.cpp. Error numbers are
// given in the Windows Sockets numbering (see SocketErrorText), which on
// Windows is the system's own.
#include <string>

namespace TNetStack {

// Starts the system's socket layer once (Winsock 2.2; nothing on POSIX).
void Startup();
// Socket error number for an errno value (on Windows: the number itself).
int TranslateErrno(int err);
// Socket error number for a getaddrinfo() failure.
int TranslateLookupError(int gaiError, int err);

// True for four "."-separated decimal parts of 0..255.
bool IsDottedAddress(const std::string& name);
// The four parts of a dotted address, as decimal (leading zeros allowed).
bool ParseDottedAddress(const std::string& name, unsigned char parts[4]);
// "localhost" in any case gives 127.0.0.1, a dotted address stays as it is,
// anything else goes to the name lookup (first IPv4 address found).
// A failed lookup raises ENetSocketError.
std::string ResolveHost(const std::string& host);

[[noreturn]] void RaiseSocketError(int errorNumber);

}  // namespace TNetStack
