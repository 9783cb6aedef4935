// The client's whole exchange against fuzzed server bytes, through the
// in-memory transport: connect, greeting, USER/PASS/TYPE/SYST, CWD, PASV, one
// STOR with its data connection, SIZE; with explicit FTPS (bit 6 of byte 1)
// AUTH TLS, the handshake, PBSZ and PROT P too, the replies after the 234
// and the data inside TLS. Errors are allowed; crashes, hangs
// and unbounded growth are not. The store is confirmed as the upload run
// confirms it, under either rule: when the confirmation lets the file count
// as stored, the replies must have said so cleanly, or the target aborts.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "ftp/commands/NetFTP.h"
#include "tests/support/MemoryTlsTransport.h"
#include "ftp/connection/NetReply.h"
#include "tests/support/MemoryTransport.h"
#include "upload/UploadRun.h"

namespace {

constexpr long long kFileBytes = 70000;

// The local file sent: three send chunks, the last one short.
const std::string& LocalFile() {
    static const std::string path = [] {
        char name[] = "/tmp/qz-fuzz-exchange-XXXXXX";
        int fd = ::mkstemp(name);
        if (fd < 0) std::abort();
        std::string bytes(static_cast<std::size_t>(kFileBytes), 'x');
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
        ::close(fd);
        return std::string(name);
    }();
    static const int removed = std::atexit([] { std::remove(path.c_str()); });
    (void)removed;
    return path;
}

// Checked apart from the client's own parsing: a confirmed store had a
// completion reply and, by SIZE, a 213 whose last line is the file's size
// in plain digits.
bool CleanlyConfirmed(int finalReply, const TNetRFCReply& sizeReply, TConfirmRule rule) {
    if (finalReply != 226 && finalReply != 250) return false;
    if (rule == TConfirmRule::FinalReply) return true;
    if (sizeReply.NumericCode != 213 || sizeReply.TextCode != "213" || sizeReply.Text.empty()) return false;
    std::string digits = TrimBlanks(sizeReply.Text.back());
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    return digits == std::to_string(kFileBytes);
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
    // Byte 0: receive size. Byte 1: faults, send limit, FTPS (bit 6) and
    // the confirmation rule (bit 7). The rest: the server's bytes.
    qz::test::MemoryServer server;
    server.piece = 1 + static_cast<std::size_t>(data[0]) * 131;
    server.refuseControl = (data[1] & 1) != 0;
    server.refuseData = (data[1] & 2) != 0;
    server.dataStalls = (data[1] & 4) != 0;
    server.sendLimit = ((data[1] >> 3) & 0x07) * 1021;
    const bool tls = (data[1] & 0x40) != 0;
    const TConfirmRule rule = (data[1] & 0x80) ? TConfirmRule::FinalReply : TConfirmRule::Size;
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
    Try(ftp, [&] {
        const int finalReply = ftp.StoreFile(LocalFile(), "010126.xml");
        ConfirmStore(ftp, "010126.xml", finalReply, kFileBytes, rule);
        // Here the run would mark the file.
        if (!CleanlyConfirmed(finalReply, ftp.LastCmdResult(), rule)) std::abort();
    });
    Try(ftp, [&] { (void)ftp.RemoteFileSize("010126.xml"); });
    ftp.CloseConnection();
    return 0;
}
