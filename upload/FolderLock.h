#pragma once
// One upload run at a time per program folder. The lock is an OS lock on the
// file UPLOAD.LCK in the program folder, tried once without waiting, held
// while the object lives, and dropped by the OS when the process ends in any
// way, so a killed run never keeps the next one out. The file itself stays.
// Each platform implements the class in a file of its own
// (FolderLockPosix.cpp, FolderLockWindows.cpp).
#include <cstdint>
#include <string>

#include "rtl/Exceptions.h"
#include "rtl/PathNames.h"

inline constexpr const char* kFolderLockName = "UPLOAD.LCK";
inline constexpr const char* kUploadInProgressMessage = "Another upload is in progress for this program folder.";

// The lock file can be neither opened nor made.
class EFolderLockError : public Exception {
public:
    using Exception::Exception;
};

// Raised by a run that finds another run holding the lock.
class EUploadInProgress : public Exception {
public:
    EUploadInProgress() : Exception(kUploadInProgressMessage) {}
};

// The lock file's path: the folder, the system's separator unless it ends in
// one, the name.
inline std::string FolderLockPath(const std::string& programFolder) {
    const bool separated = !programFolder.empty() && (programFolder.back() == '/' || programFolder.back() == '\\');
    return programFolder + (separated || programFolder.empty() ? std::string() : std::string(1, PreferredSeparator())) +
           kFolderLockName;
}

class TFolderLock {
public:
    // Tries to take the lock of `programFolder`, creating the lock file when
    // missing; Held() tells whether it got it. Throws EFolderLockError when
    // the file cannot be opened or made.
    explicit TFolderLock(const std::string& programFolder);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    bool Held() const { return handle_ != kNoHandle; }

private:
    // The open lock file: a descriptor, or a Windows handle.
    static constexpr std::intptr_t kNoHandle = -1;
    std::intptr_t handle_ = kNoHandle;
};
