// qeladmin login DIR LOCCODE HOST USER - [REMOTEFOLDER]
// Writes DIR/LOCCODE.DAT: the four values scrambled, blank-padded to their
// columns, one line ended by CR LF. The password is never an argument (the
// process list and the shell's history would show it): "-" stands in its
// place, and it is asked for without echo on a terminal, or read from the
// first line of standard input. No message ever shows it.
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "rtl/Utf8Path.h"
#include "tools/qeladmin/Commands.h"
#include "tools/qeladmin/PasswordInput.h"
#include "upload/LoginCrypt.h"
#include "upload/LoginFile.h"

namespace {

constexpr char kUsage[] = "usage: qeladmin login DIR LOCCODE HOST USER - [REMOTEFOLDER]\n"
                          "  the password is asked for without echo, or read from standard input\n";

bool HasControlCharacter(const std::string& value) {
    for (const char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F) return true;
    return false;
}

// A secret value is never named in a message.
std::string ScrambledColumn(const std::string& what, const std::string& value, int width, bool secret = false) {
    const std::string named = secret ? what : what + " \"" + value + "\"";
    if (value.size() > static_cast<std::size_t>(width))
        throw std::runtime_error(named + " is " + std::to_string(value.size()) + " characters long; its column holds " +
                                 std::to_string(width));
    // A CR or LF would end the command the program sends it in.
    if (HasControlCharacter(value)) throw std::runtime_error(what + " holds a control character");
    std::string padded = value;
    padded.resize(static_cast<std::size_t>(width), ' ');
    const std::string scrambled = MyEncrypt(padded);
    // The program stops reading the line at CR or Ctrl-Z.
    if (scrambled.find_first_of("\r\x1a") != std::string::npos)
        throw std::runtime_error(named + " holds a character that cannot be stored in a login file");
    return scrambled;
}

}  // namespace

int RunLogin(const Args& args) {
    if (args.size() < 5 || args.size() > 6 || args[4] != "-") {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string& dir = args[0];
    const std::string& locationCode = args[1];
    const std::string remoteFolder = args.size() == 6 ? args[5] : std::string();

    const std::string host = ScrambledColumn("HOST", args[2], kHostWidth);
    const std::string user = ScrambledColumn("USER", args[3], kUserWidth);
    const std::string folder = ScrambledColumn("REMOTEFOLDER", remoteFolder, kRemoteFolderWidth);
    const auto password = ReadPassword("Password: ");
    if (!password) throw std::runtime_error("no password given on standard input");
    const std::string line = host + user + ScrambledColumn("PASSWORD", *password, kPasswordWidth, true) + folder;

    const std::string path = LoginFileName(dir, locationCode);
    std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << line << "\r\n";
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
    std::printf("wrote %s\n", path.c_str());
    return 0;
}
