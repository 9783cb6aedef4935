// qeladmin login DIR LOCCODE HOST USER PASSWORD [REMOTEFOLDER]
// Writes DIR/LOCCODE.DAT: the four values scrambled, blank-padded to their
// columns, one line ended by CR LF.
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "tools/qeladmin/Commands.h"
#include "upload/LoginCrypt.h"
#include "upload/LoginFile.h"

namespace {

std::string ScrambledColumn(const std::string& what, const std::string& value, int width) {
    if (value.size() > static_cast<std::size_t>(width))
        throw std::runtime_error(what + " \"" + value + "\" is " + std::to_string(value.size()) +
                                 " characters long; its column holds " + std::to_string(width));
    std::string padded = value;
    padded.resize(static_cast<std::size_t>(width), ' ');
    const std::string scrambled = MyEncrypt(padded);
    // The program stops reading the line at CR or Ctrl-Z.
    if (scrambled.find_first_of("\r\x1a") != std::string::npos)
        throw std::runtime_error(what + " \"" + value + "\" holds a character that cannot be stored in a login file");
    return scrambled;
}

}  // namespace

int RunLogin(const Args& args) {
    if (args.size() < 5 || args.size() > 6) {
        std::fprintf(stderr, "usage: qeladmin login DIR LOCCODE HOST USER PASSWORD [REMOTEFOLDER]\n");
        return 2;
    }
    const std::string& dir = args[0];
    const std::string& locationCode = args[1];
    const std::string remoteFolder = args.size() == 6 ? args[5] : std::string();

    const std::string line = ScrambledColumn("HOST", args[2], kHostWidth) +
                             ScrambledColumn("USER", args[3], kUserWidth) +
                             ScrambledColumn("PASSWORD", args[4], kPasswordWidth) +
                             ScrambledColumn("REMOTEFOLDER", remoteFolder, kRemoteFolderWidth);

    const std::string path = LoginFileName(dir, locationCode);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << line << "\r\n";
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
    std::printf("wrote %s\n", path.c_str());
    return 0;
}
