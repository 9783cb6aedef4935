// qeladmin login DIR LOCCODE HOST USER - [REMOTEFOLDER] [options]
// Writes DIR/LOCCODE.DAT: the four values scrambled, blank-padded to their
// columns, then the server options after column 100, one line ended by CR LF.
// A host longer than its column goes whole into the options, its first 20
// characters into the column. The password is never an argument (the
// process list and the shell's history would show it): "-" stands in its
// place, and it is asked for without echo on a terminal, or read from the
// first line of standard input. No message ever shows it.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "tools/qeladmin/Commands.h"
#include "tools/qeladmin/Options.h"
#include "tools/qeladmin/PasswordInput.h"
#include "upload/LoginCrypt.h"
#include "upload/FolderOwnership.h"
#include "upload/LoginFile.h"
#include "upload/LoginOptions.h"

namespace {

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
    const ParsedArgs parsed = ParseArgs(
        args, {{"port", true}, {"tls", true}, {"tls-ca", true}, {"tls-pin", true}, {"confirm", true}}, 5, 6);
    const Args& positional = parsed.Positional;
    if (positional[4] != "-") throw EUsageError("the password is never an argument: give \"-\" in its place");
    // The options' own words, so one parser judges them whether typed here
    // or read back from the file.
    std::string optionWords;
    for (const auto& [name, value] : parsed.InOrder) optionWords += " " + name + "=" + FormatOptionValue(value);
    TLoginOptions options;
    try {
        options = ParseLoginOptions(optionWords);
    } catch (const std::exception& e) {
        throw EUsageError(e.what());
    }
    if (!options.Host.empty()) {
        std::fputs("the host is given as HOST\n", stderr);
        return 2;
    }
    const std::string& dir = positional[0];
    const std::string& locationCode = positional[1];
    const std::string remoteFolder = positional.size() == 6 ? positional[5] : std::string();
    std::string hostColumn = positional[2];
    if (hostColumn.size() > static_cast<std::size_t>(kHostWidth)) {
        options.Host = hostColumn;
        hostColumn.resize(static_cast<std::size_t>(kHostWidth));
    }

    const std::string host = ScrambledColumn("HOST", hostColumn, kHostWidth);
    const std::string user = ScrambledColumn("USER", positional[3], kUserWidth);
    const std::string folder = ScrambledColumn("REMOTEFOLDER", remoteFolder, kRemoteFolderWidth);
    const auto password = ReadPassword("Password: ");
    if (!password) throw std::runtime_error("no password given on standard input");
    if (HasControlCharacter(options.Host)) throw std::runtime_error("HOST holds a control character");
    const std::string line =
        host + user + ScrambledColumn("PASSWORD", *password, kPasswordWidth, true) + folder + FormatLoginOptions(options);

    const std::string path = LoginFileName(dir, locationCode);
    WritePrivateFile(dir, path, line + "\r\n");
    std::printf("wrote %s\n", path.c_str());
    return 0;
}
