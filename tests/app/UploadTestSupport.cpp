#include "UploadTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "data/values/DateTime.h"
#include "upload/LoginCrypt.h"

namespace fs = std::filesystem;
using qz::test::Answer;
using qz::test::Greeting;
using qz::test::ScriptStep;
using Strings = std::vector<std::string>;

namespace qztest {

bool InOwnNetworkNamespace() {
    struct stat self {}, parent {};
    const std::string parentNs = "/proc/" + std::to_string(::getppid()) + "/ns/net";
    return ::geteuid() == 0 && ::stat("/proc/self/ns/net", &self) == 0 && ::stat(parentNs.c_str(), &parent) == 0 &&
           self.st_ino != parent.st_ino;
}

std::string Shell(const std::string& command) {
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    if (::pclose(pipe) != 0) ADD_FAILURE() << "failed: " << command << "\n" << out;
    return out;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

Strings Lines(const std::string& text) {
    Strings lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string Bytes(std::size_t count, unsigned seed) {
    std::string out(count, '\0');
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<char>((i * 131 + seed * 7) & 0xFF);
    return out;
}

std::vector<Strings> Records(const std::string& dbf) {
    std::vector<Strings> records;
    for (const std::string& line : Lines(Shell(std::string(QZ_XBASE_DUMP) + " " + Quoted(dbf)))) {
        if (line.size() < 2 || (line[0] != ' ' && line[0] != '*') || line[1] != '\t') continue;
        Strings values;
        std::istringstream fields(line.substr(2));
        std::string value;
        while (std::getline(fields, value, '\t')) values.push_back(value);
        if (line.back() == '\t') values.push_back("");
        records.push_back(values);
    }
    return records;
}

std::string ServerRoot(const fs::path& base) {
    const fs::path root = base / "ftp";
    fs::create_directories(root / "incoming");
    return root.string();
}

void AddDatedExtract(ProgramFolder& folder, const std::string& name, const std::string& bytes) {
    folder.AddExtract(name, StrToDate("06/15/05"));
    const fs::path file = fs::path(folder.SourcePath()) / name;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    SetModified(file, StrToDate("06/15/05"));
}

void QeladminLogin(const std::string& programFolder, const std::string& user, const std::string& password,
                   const std::string& remoteFolder) {
    Shell("printf '%s\\n' " + Quoted(password) + " | " + std::string(QZ_QELADMIN) + " login " +
          Quoted(programFolder) + " ABC 127.0.0.1 " + Quoted(user) + " -" +
          (remoteFolder.empty() ? "" : " " + Quoted(remoteFolder)) + " 2>&1");
}

void WriteLoginFile(const std::string& programFolder) {
    const auto field = [](std::string value, std::size_t width) {
        value.resize(width, ' ');
        return MyEncrypt(value);
    };
    std::ofstream(programFolder + "ABC.DAT", std::ios::binary)
        << field("127.0.0.1", 20) << field("hotel", 20) << field("secret", 20) << field("", 40) << "\r\n";
}

std::vector<ScriptStep> LoggedIn() {
    return {Greeting("220 Scripted."), Answer("331 Please specify the password."), Answer("230 Login successful."),
            Answer("200 Switching to Binary mode."), Answer("215 UNIX Type: L8")};
}

}  // namespace qztest
