#include <windows.h>

#include "UnreadableFile.h"
#include "rtl/WindowsText.h"

UnreadableFile::UnreadableFile(const std::string& path) : path_(path) {
    HANDLE h = ::CreateFileW(qz::win::WideFromUtf8(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) whyNot_ = "cannot hold the file";
    holder_ = reinterpret_cast<std::intptr_t>(h);
}

UnreadableFile::~UnreadableFile() {
    if (holder_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(holder_));
}
