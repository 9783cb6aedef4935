// The client's whole exchange against fuzzed server bytes, through the
// in-memory transport: connect, greeting, USER/PASS/TYPE/SYST, CWD, PASV, one
// STOR with its data connection, SIZE; with explicit FTPS, AUTH TLS, the
// handshake, PBSZ and PROT P too, the server's replies after its 234 going
// inside TLS and the data connection in TLS. Errors are allowed; crashes,
// hangs and unbounded growth are not.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ftp/commands/NetFTP.h"
#include "tests/support/MemoryTlsTransport.h"
#include "tests/support/MemoryTransport.h"

namespace {

// The local file sent: three send chunks, the last one short.
const std::string& LocalFile() {
    static const std::string path = [] {
        char name[] = "/tmp/qz-fuzz-exchange-XXXXXX";
        int fd = ::mkstemp(name);
        if (fd < 0) std::abort();
        std::string bytes(70000, 'x');
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
        ::close(fd);
        return std::string(name);
    }();
    static const int removed = std::atexit([] { std::remove(path.c_str()); });
    (void)removed;
    return path;
}

// Runs one step unless the control connection is gone; errors end the step.
template <typename Step>
void Try(TNetFTP& ftp, Step step) {
    if (!ftp.IsOpen()) return;
    try {
        step();
    } catch (const Exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // Byte 0: receive size. Byte 1: faults, send limit and (bit 7) FTPS.
    // The rest: the server's bytes.
    qz::test::MemoryServer server;
    server.piece = 1 + static_cast<std::size_t>(data[0]) * 131;
    server.refuseControl = (data[1] & 1) != 0;
    server.refuseData = (data[1] & 2) != 0;
    server.dataStalls = (data[1] & 4) != 0;
    server.sendLimit = ((data[1] >> 3) & 15) * 1021;
    const bool tls = (data[1] & 0x80) != 0;
    server.control = std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2);

    TNetFTP ftp;
    if (tls) {
        static const std::string pin = qz::test::MemoryTlsPin();
        ftp.Tls.Enabled = true;
        ftp.Tls.Pin = pin;
        ftp.MakeIOHandler = qz::test::MemoryTlsTransport(server, true);
        ftp.MakeDataIOHandler = qz::test::MemoryTlsTransport(server, false);
    } else {
        ftp.MakeIOHandler = qz::test::MemoryTransport(server, true);
        ftp.MakeDataIOHandler = qz::test::MemoryTransport(server, false);
    }
    ftp.SetHost("127.0.0.1");
    ftp.SetUsername("hotel");
    ftp.SetPassword("secret");
    ftp.SetPassive(true);
    ftp.SetReadTimeout(1000);
    try {
        ftp.ConnectToServer();
    } catch (const Exception&) {
        return 0;
    }
    Try(ftp, [&] { ftp.ChangeFolder("/in"); });
    Try(ftp, [&] { ftp.StoreFile(LocalFile(), "010126.xml"); });
    Try(ftp, [&] { (void)ftp.RemoteFileSize("010126.xml"); });
    ftp.CloseConnection();
    return 0;
}
