#include <windows.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "tests/support/FtpServers.h"
#include "tests/support/FtpServersSystem.h"

// The real servers for the Windows build run under Wine: Wine starts Linux
// programs too, and its Z: drive is the Linux root, so the same vsftpd and
// pyftpdlib serve the Windows tests on loopback. Wine gives no handle on such
// a process, so a small shell script records its process id, and stopping it
// is a kill of its process group.
namespace fs = std::filesystem;

namespace qz::test {

namespace {

constexpr char kLinuxRoot[] = "Z:";

// Starts a Linux program through Wine (lpApplicationName in Z: form).
void StartLinuxProgram(const std::string& program, const std::string& arguments) {
    std::wstring application = fs::path(std::string(kLinuxRoot) + program).make_preferred().wstring();
    std::wstring commandLine = fs::path(program).filename().wstring() + L" " + fs::path(arguments).wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        throw std::runtime_error("cannot start " + program);
    if (process.hThread) ::CloseHandle(process.hThread);
    if (process.hProcess) ::CloseHandle(process.hProcess);
}

bool ProcessLives(int pid) {
    std::ifstream stat(std::string(kLinuxRoot) + "/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z' && line[close + 2] != 'X';
}

}  // namespace

std::string MakeTempDir(const std::string& prefix) {
    // Under the Linux /tmp, where the servers find their files by Linux path.
    std::random_device rd;
    for (int i = 0; i < 100; ++i) {
        const std::string dir = std::string(kLinuxRoot) + "/tmp/" + prefix + std::to_string(::GetCurrentProcessId()) +
                                "-" + std::to_string(rd() % 1000000);
        if (fs::create_directory(dir)) return dir;
    }
    throw std::runtime_error("cannot create a folder under " + std::string(kLinuxRoot) + "/tmp");
}

void SetMode(const std::string&, int) {
    // The servers run as the user who started Wine, the owner of every folder.
}

std::string ServerPath(const std::string& path) {
    std::string linux = path;
    if (linux.size() >= 2 && (linux[0] == 'Z' || linux[0] == 'z') && linux[1] == ':') linux.erase(0, 2);
    for (char& c : linux)
        if (c == '\\') c = '/';
    return linux;
}

bool FtpServerAvailable(FtpServerKind kind) {
    std::error_code ec;
    if (!fs::exists(std::string(kLinuxRoot) + "/bin/sh", ec)) return false;   // not under Wine
    if (kind == FtpServerKind::Vsftpd) return fs::exists(std::string(kLinuxRoot) + VsftpdProgram, ec);
    // Set up with a shell pipe here (pure-pw) and proven on Linux: not under Wine.
    if (kind == FtpServerKind::Proftpd || kind == FtpServerKind::PureFtpd) return false;
    return fs::exists(std::string(kLinuxRoot) + PythonProgram, ec) &&
           fs::exists(std::string(kLinuxRoot) + "/usr/lib/python3/dist-packages/pyftpdlib", ec);
}

bool RealFtpServer::ServerRunning() {
    if (pid_ > 0 && !ProcessLives(int(pid_))) pid_ = -1;
    return pid_ > 0;
}

void RealFtpServer::Spawn(const std::vector<std::string>& argv) {
    const std::string script = workDir_ + "/run.sh";
    const std::string pidFile = workDir_ + "/server.pid";
    std::ostringstream text;
    // setsid: the server leads a process group of its own, which Stop ends.
    text << "cd " << ServerPath(workDir_) << " || exit 1\nsetsid";
    for (const std::string& a : argv) text << " '" << a << "'";
    text << " </dev/null >>" << ServerPath(workDir_) << "/server.out 2>&1 &\necho $! > " << ServerPath(pidFile)
         << ".tmp\nmv " << ServerPath(pidFile) << ".tmp " << ServerPath(pidFile) << "\n";
    std::ofstream(script, std::ios::binary) << text.str();
    StartLinuxProgram("/bin/sh", ServerPath(script));
    for (int waited = 0; waited < 5000; waited += 10) {
        std::ifstream in(pidFile);
        long long pid = 0;
        if (in >> pid && pid > 0) {
            pid_ = decltype(pid_)(pid);
            return;
        }
        ::Sleep(10);
    }
    throw std::runtime_error("the server did not start; see " + workDir_);
}

void RealFtpServer::Stop() {
    if (pid_ <= 0) return;
    const std::string pid = std::to_string(pid_);
    const std::string script = workDir_ + "/stop.sh";
    std::ofstream(script, std::ios::binary) << "kill -TERM -" << pid << " 2>/dev/null || kill -TERM " << pid
                                            << " 2>/dev/null\nsleep 1\nkill -KILL -" << pid << " 2>/dev/null\n";
    StartLinuxProgram("/bin/sh", ServerPath(script));
    for (int waited = 0; waited < 3000 && ProcessLives(int(pid_)); waited += 10) ::Sleep(10);
    pid_ = -1;
}

}  // namespace qz::test
