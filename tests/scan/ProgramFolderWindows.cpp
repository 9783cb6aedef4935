#include <windows.h>

#include <random>
#include <stdexcept>
#include <string>

#include "ProgramFolderSystem.h"

namespace qztest {

std::filesystem::path MakeTempRoot() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (int i = 0; i < 100; ++i) {
        auto p = base / ("qzapp-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(rd()));
        if (std::filesystem::create_directory(p)) return p;
    }
    throw std::runtime_error("cannot create a scratch folder");
}

void RunQelAdminInit(const std::filesystem::path& folder) {
    const std::wstring program = std::filesystem::path(QZ_QELADMIN).make_preferred().wstring();
    std::wstring commandLine = L"\"" + program + L"\" init \"" + folder.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        throw std::runtime_error("cannot start qeladmin");
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    if (code != 0) throw std::runtime_error("qeladmin init failed");
}

void SetFileModified(const std::filesystem::path& file, std::time_t when) {
    HANDLE h = ::CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open the file to set its time");
    const unsigned long long ticks = (static_cast<unsigned long long>(when) + 11644473600ULL) * 10000000ULL;
    FILETIME time{DWORD(ticks & 0xFFFFFFFFu), DWORD(ticks >> 32)};
    const BOOL ok = ::SetFileTime(h, nullptr, &time, &time);
    ::CloseHandle(h);
    if (!ok) throw std::runtime_error("SetFileTime failed");
}

}  // namespace qztest
