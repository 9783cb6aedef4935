#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "ftp/socket/NetStack.h"

// The socket layer on POSIX (NetStackWindows.cpp is the Windows one).
namespace TNetStack {

void Startup() {}

int TranslateErrno(int err) {
    switch (err) {
        case EINTR: return 10004;
        case EBADF: return 10009;
        case EACCES: case EPERM: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE: case ENFILE: return 10024;
#if EAGAIN != EWOULDBLOCK
        case EAGAIN:
#endif
        case EWOULDBLOCK: return 10035;
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
#if EOPNOTSUPP != ENOTSUP
        case ENOTSUP:
#endif
        case EOPNOTSUPP: return 10045;
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED: return 10053;
        case ECONNRESET: return 10054;
        case ENOBUFS: case ENOMEM: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        // Writing after our own shutdown, or to a peer that has gone.
        case ESHUTDOWN: case EPIPE: return 10058;
        case ETOOMANYREFS: return 10059;
        case ETIMEDOUT: return 10060;
        case ECONNREFUSED: return 10061;
        case ELOOP: return 10062;
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        case ENOTEMPTY: return 10066;
        default: return err;
    }
}

int TranslateLookupError(int gaiError, int err) {
    switch (gaiError) {
        case EAI_NONAME: return 11001;  // host not found
        case EAI_AGAIN: return 11002;
        case EAI_FAIL: return 11003;
#ifdef EAI_NODATA
        case EAI_NODATA: return 11004;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY: return 11004;
#endif
        case EAI_SYSTEM: return TranslateErrno(err);
        case EAI_MEMORY: return 10055;
        default: return 11003;
    }
}

std::string ResolveHost(const std::string& host) {
    if (strcasecmp(host.c_str(), "localhost") == 0) return "127.0.0.1";
    if (IsDottedAddress(host)) return host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        int err = errno;
        if (found) freeaddrinfo(found);
        RaiseSocketError(rc != 0 ? TranslateLookupError(rc, err) : 11001);
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    return text;
}

}  // namespace TNetStack
