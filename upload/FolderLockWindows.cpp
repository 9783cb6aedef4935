// The folder lock on Windows: LockFileEx on the first byte of the lock file.
// The lock belongs to the handle, and Windows drops it when the handle
// closes or the process ends in any way.
#include "upload/FolderLock.h"

#include <windows.h>

#include "rtl/LongPath.h"
#include "rtl/WindowsText.h"

namespace {

std::string LastErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = n ? qz::win::Utf8FromWide(std::wstring_view(text, n)) : "error " + std::to_string(error);
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message;
}

}  // namespace

TFolderLock::TFolderLock(const std::string& programFolder) {
    const std::string path = FolderLockPath(programFolder);
    // Write access, as on POSIX: Wine and Samba map this lock to a POSIX
    // write lock, which Linux processes on the same folder see. Every share
    // mode, so the lock alone keeps runs out.
    HANDLE file = ::CreateFileW(LongPathFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw EFolderLockError("Cannot open file " + path + ": " + LastErrorText(::GetLastError()));
    OVERLAPPED at{};
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        handle_ = reinterpret_cast<std::intptr_t>(file);
        return;
    }
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING)
        throw EFolderLockError("Cannot lock file " + path + ": " + LastErrorText(error));
}

TFolderLock::~TFolderLock() {
    if (Held()) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}
