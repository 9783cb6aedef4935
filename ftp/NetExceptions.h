#pragma once
// Errors of the network layer.
#include <string>

#include "rtl/Exceptions.h"

class ENetException : public Exception {
public:
    using Exception::Exception;
};

// Errors a caller may treat as a normal end rather than a fault.
class ENetSilentException : public ENetException {
public:
    using ENetException::ENetException;
};

class ENetConnClosedGracefully : public ENetSilentException {
public:
    ENetConnClosedGracefully() : ENetSilentException("Connection Closed Gracefully.") {}
};

class ENetAlreadyConnected : public ENetException {
public:
    ENetAlreadyConnected() : ENetException("Already connected.") {}
};

class ENetInvalidSocket : public ENetException {
public:
    ENetInvalidSocket() : ENetException("Cannot allocate socket.") {}
};

class ENetCouldNotBindSocket : public ENetException {
public:
    ENetCouldNotBindSocket() : ENetException("Could not bind socket. Address and port are already in use.") {}
};

// Carries the socket error number (the Windows Sockets numbering, on every
// platform, so messages read the same everywhere).
class ENetSocketError : public ENetException {
public:
    explicit ENetSocketError(int errorNumber);
    ENetSocketError(int errorNumber, const std::string& message) : ENetException(message), lastError_(errorNumber) {}
    int LastError() const { return lastError_; }

private:
    int lastError_;
};

class ENetConnectTimeout : public ENetException {
public:
    ENetConnectTimeout() : ENetException("Connect timed out.") {}
};

class ENetConnectException : public ENetException {
public:
    using ENetException::ENetException;
};

class ENetReadTimeout : public ENetException {
public:
    ENetReadTimeout() : ENetException("Read Timeout") {}
};

class ENetReadLnMaxLineLengthExceeded : public ENetException {
public:
    ENetReadLnMaxLineLengthExceeded() : ENetException("Max line length exceeded.") {}
};

// A reply larger than MaxReplySize bytes; the connection is closed.
class ENetReplyTooLong : public ENetException {
public:
    ENetReplyTooLong();
    // More than MaxReplyLines lines.
    struct Lines {};
    explicit ENetReplyTooLong(Lines);
};

// A reply whose first byte came more than ReadTimeout ago and that is still
// not complete (a server trickling lines); the connection is closed.
class ENetReplyTimeout : public ENetException {
public:
    ENetReplyTimeout() : ENetException("Reply not complete within the read time-out.") {}
};

// A command line holding CR, LF or NUL, refused before any byte of it is
// sent; `shown` names it, with those characters written as <CR>, <LF>, <NUL>
// and never with a password.
class ENetCommandRefused : public ENetException {
public:
    explicit ENetCommandRefused(const std::string& shown)
        : ENetException("Command refused (a line break or NUL in it): " + shown) {}
};

class ENetProtocolReplyError : public ENetException {
public:
    ENetProtocolReplyError(int replyCode, const std::string& message) : ENetException(message), replyErrorCode_(replyCode) {}
    int ReplyErrorCode() const { return replyErrorCode_; }

private:
    int replyErrorCode_;
};

// The server did not confirm a store as a whole file: `exchange` names what
// it was asked ("SIZE", "the transfer"), `replies` what it answered, shown
// (ShownReply) and quoted. Nothing may count the file as stored.
class ENetStoreNotConfirmed : public ENetException {
public:
    ENetStoreNotConfirmed(const std::string& name, const std::string& exchange, const std::string& replies)
        : ENetException(name + " is not confirmed on the server: it answered " + exchange + " with " + replies + ".") {}
};

class ENetNoDataToRead : public ENetException {
public:
    ENetNoDataToRead() : ENetException("No data to read.") {}
};

class ENetClosedSocket : public ENetException {
public:
    ENetClosedSocket() : ENetException("Disconnected.") {}
};

class ENetStackInitializationFailed : public ENetException {
public:
    ENetStackInitializationFailed() : ENetException("Winsock Initialization Error.") {}
};

// "Socket Error # <n>" CRLF <description>; empty description for unknown numbers.
std::string SocketErrorText(int errorNumber);
