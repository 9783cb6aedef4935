#include "upload/RetryPolicy.h"

#include "ftp/NetExceptions.h"

namespace {

bool TransientSocketError(int number) {
    switch (number) {
        case 10050:   // network is down
        case 10051:   // network is unreachable
        case 10053:   // connection aborted
        case 10054:   // connection reset by peer
        case 10060:   // connection timed out
        case 10061:   // connection refused
        case 10064:   // host is down
        case 10065:   // no route to host
            return true;
        default:
            return false;
    }
}

bool TransientReply(int code) { return code == 421 || code == 425 || code == 426 || (code >= 450 && code <= 452); }

}  // namespace

bool IsTransientFailure(const std::exception& error) {
    if (const auto* reply = dynamic_cast<const ENetProtocolReplyError*>(&error))
        return TransientReply(reply->ReplyErrorCode());
    if (const auto* socket = dynamic_cast<const ENetSocketError*>(&error)) return TransientSocketError(socket->LastError());
    // A connection not made (refused, unreachable, timed out, the name not
    // resolved): the server or the network may be back in a while.
    return dynamic_cast<const ENetConnectException*>(&error) || dynamic_cast<const ENetConnectTimeout*>(&error) ||
           dynamic_cast<const ENetReadTimeout*>(&error) ||
           dynamic_cast<const ENetReplyTimeout*>(&error) || dynamic_cast<const ENetClosedSocket*>(&error) ||
           dynamic_cast<const ENetConnClosedGracefully*>(&error);
}
