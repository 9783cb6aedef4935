#pragma once
// The socket calls of the process, over POSIX IPv4 sockets. Error numbers
// are given in the Windows Sockets numbering (see SocketErrorText).
#include <string>

namespace TNetStack {

// Socket error number for an errno value.
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
