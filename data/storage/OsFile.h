#pragma once
// One open file: positioned reads and writes that report failures as
// XbaseError, durable writes, and the two kinds of locks xBase tools use
// (share modes for the whole file, byte ranges for records and headers).
// Byte-range locks belong to this handle, so two handles in one process see
// each other's locks, and closing another handle of the same file does not
// drop them. OsFilePosix.cpp (flock, fcntl OFD locks) and OsFileWindows.cpp
// (share modes of CreateFileW, LockFileEx) hold the system calls.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "rtl/Utf8Path.h"

namespace xbase {

class OsFile {
public:
    OsFile() = default;
    // Opens read-write when possible; falls back to read-only when `writable`
    // is false or the file cannot be written.
    static OsFile open(const std::filesystem::path& path, bool writable, int missingCode);
    static OsFile createNew(const std::filesystem::path& path);   // O_EXCL
    static OsFile createOrTruncate(const std::filesystem::path& path);
    OsFile(OsFile&& other) noexcept;
    OsFile& operator=(OsFile&& other) noexcept;
    OsFile(const OsFile&) = delete;
    OsFile& operator=(const OsFile&) = delete;
    ~OsFile();

    bool isOpen() const { return fd_ >= 0; }
    bool writable() const { return writable_; }
    const std::filesystem::path& path() const { return path_; }
    std::string name() const { return Utf8FromPath(path_.filename()); }

    uint64_t size() const;
    // Reads up to buffer.size() bytes; returns how many were there.
    size_t readAt(uint64_t offset, std::span<uint8_t> buffer) const;
    // Reads exactly; a short read is reported with `shortCode` and `what`.
    void readExact(uint64_t offset, std::span<uint8_t> buffer, int shortCode, const std::string& what) const;
    void writeAt(uint64_t offset, std::span<const uint8_t> data);
    void truncate(uint64_t size);
    void sync();   // no-op when syncing is switched off (benchmarks only)

    // Staging (a batch of updates): writes are kept in memory, reads and
    // size() see them, the file is left as it is until they are taken.
    using Extents = std::map<uint64_t, std::vector<uint8_t>>;   // by offset, not overlapping
    void startStaging();
    bool staging() const { return staged_ != nullptr; }
    // The writes staged (overlapping ones merged); staging ends.
    Extents takeStaged();

    enum class LockKind { Shared, Exclusive };
    bool tryLockRange(uint64_t start, uint64_t length, LockKind kind);
    // Waits up to `timeoutMs` (polling); false when the lock was not had.
    bool lockRangeWithin(uint64_t start, uint64_t length, LockKind kind, int timeoutMs);
    void unlockRange(uint64_t start, uint64_t length);
    bool tryFlock(LockKind kind);

private:
    OsFile(std::intptr_t fd, std::filesystem::path path, bool writable);
    void stage(uint64_t offset, std::span<const uint8_t> data);
    size_t readStaged(uint64_t offset, std::span<uint8_t> buffer, size_t fromFile) const;

    // A POSIX descriptor, or a Windows HANDLE (INVALID_HANDLE_VALUE is -1).
    std::intptr_t fd_ = -1;
    bool writable_ = false;
    std::filesystem::path path_;
    std::unique_ptr<Extents> staged_;   // a batch's writes, while staging
    // Kept only where the system does not keep it for us (Windows): whether
    // the handle was opened without sharing, and the byte ranges it holds.
    bool unshared_ = false;
    std::vector<std::pair<uint64_t, LockKind>> heldRanges_;
};

// Sees every write and sync that reaches a file (staged writes only when
// they are written), in the order they are made. The power-cut simulator
// records them to replay what a disk may keep of them; the disk-full test
// makes writes fail.
class FileEventRecorder {
public:
    virtual ~FileEventRecorder() = default;
    // Before a write: a test may throw XbaseError here to play a full disk.
    virtual void writing(const std::filesystem::path&, uint64_t /*offset*/, size_t /*size*/) {}
    virtual void wrote(const std::filesystem::path& path, uint64_t offset, std::span<const uint8_t> data) = 0;
    virtual void synced(const std::filesystem::path& path) = 0;
};
// Process-wide; nullptr (the default) records nothing.
void setFileEventRecorder(FileEventRecorder* recorder);
FileEventRecorder* fileEventRecorder();

// Whether sync() really reaches the disk. Only the benchmarks switch it off
// to measure the CPU cost of a write apart from the disk's.
void setSyncEnabled(bool enabled);
bool syncEnabled();
void syncDirectoryOf(const std::filesystem::path& path);
// Puts `from` in the place of `to` in one step (raises XbaseError). On
// Windows `to` must not be open.
void replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace xbase
