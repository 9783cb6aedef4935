// qeladmin check DIR LOCCODE [--timeout MS]
// Reads the login file as the program does, then connects to its host and
// port, logs in and changes to the remote folder, reporting each step; a
// failure prints the message the program would show.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "ftp/commands/NetFTP.h"
#include "tools/qeladmin/Commands.h"
#include "tools/qeladmin/Options.h"
#include "upload/FolderOwnership.h"
#include "upload/LoginFile.h"
#include "upload/LoginOptions.h"
#include "upload/TextFn.h"
#include "upload/UploadRun.h"

namespace {

constexpr int kReadTimeoutMs = 100000;

// The program's error report adds a full stop after a last character above ".".
std::string AsReported(std::string message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
    return message;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "FAILED: %s\n", AsReported(message).c_str());
    return 1;
}

// What the control connection's handshake found.
void PrintTls(const TNetTlsInfo& tls) {
    std::printf("TLS: %s, cipher %s\n", tls.Version.c_str(), tls.Cipher.c_str());
    std::printf("certificate: subject %s\n", tls.Subject.c_str());
    std::printf("certificate: issuer %s\n", tls.Issuer.c_str());
    std::printf("certificate: valid from %s to %s\n", tls.NotBefore.c_str(), tls.NotAfter.c_str());
    std::printf("certificate: SHA-256 %s\n", tls.CertSha256.c_str());
    std::printf("certificate: verified by %s\n", tls.VerifiedBy.c_str());
}

}  // namespace

int RunCheck(const Args& args) {
    // The port is the login file's, the one every upload uses.
    for (const std::string& word : args)
        if (word == "--port" || word.rfind("--port=", 0) == 0)
            throw EUsageError("the port is kept in the login file, the one upload uses: set it with "
                              "qeladmin login DIR LOCCODE HOST USER - [REMOTEFOLDER] --port N");
    const ParsedArgs parsed = ParseArgs(args, {{"timeout", true}}, 2, 2);
    const Args& positional = parsed.Positional;
    const int timeoutMs = static_cast<int>(parsed.Number("timeout", 1, 3600000).value_or(kReadTimeoutMs));

    const std::string path = LoginFileName(positional[0], positional[1]);
    std::optional<TFtpLogin> login;
    try {
        login = ReadLoginFile(positional[0], positional[1]);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    if (!login) {
        std::fprintf(stderr, "no login file %s\n", path.c_str());
        return Fail(kNoLoginMessage);
    }
    const std::string host = login->ServerHost();
    const std::string user = TextFn::TrimBlanks(login->FtpUser);
    std::printf("login file %s: host \"%s\", user \"%s\", remote folder \"%s\"\n", path.c_str(), host.c_str(),
                user.c_str(), login->RemoteFolder.c_str());

    if (const auto warning = OthersMayRead(path)) std::printf("WARNING: %s\n", warning->c_str());
    const int port = login->Options.Port.value_or(21);
    TNetFTP ftp;
    ftp.SetHost(host);
    ftp.SetPort(port);
    ftp.Tls = TlsSettingsOf(login->Options);
    ftp.SetUsername(user);
    ftp.SetPassword(TextFn::TrimBlanks(login->FtpPassword));
    ftp.SetPassive(true);
    ftp.SetReadTimeout(timeoutMs);
    try {
        ftp.ConnectToServer(true);
        if (ftp.Tls.Enabled) PrintTls(ftp.TlsInfo());
        std::printf("connected to %s port %d and logged in as \"%s\"\n", host.c_str(), port, user.c_str());
        if (!login->RemoteFolder.empty()) {
            ftp.ChangeFolder(login->RemoteFolder);
            std::printf("changed to remote folder \"%s\"\n", login->RemoteFolder.c_str());
        } else {
            std::printf("no remote folder set: files would land in the log-in folder\n");
        }
        ftp.CloseConnection();
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    std::printf("OK\n");
    return 0;
}
