#pragma once
// Readable streams for SendStream. A read hands out a view of the stream's
// own buffer, so a chunk goes from the file to the socket without a copy.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TNetStream {
public:
    virtual ~TNetStream() = default;
    virtual long long Size() const = 0;
    virtual long long Position() const = 0;
    // Up to `count` bytes; empty at the end. Valid until the next call.
    virtual std::string_view Read(std::size_t count) = 0;
};

class TNetMemoryStream : public TNetStream {
public:
    explicit TNetMemoryStream(std::string data) : data_(std::move(data)) {}
    long long Size() const override { return static_cast<long long>(data_.size()); }
    long long Position() const override { return static_cast<long long>(pos_); }
    std::string_view Read(std::size_t count) override;

private:
    std::string data_;
    std::size_t pos_ = 0;
};

// A local regular file opened for reading, shared with other readers and
// writers. Raises EFOpenError ("Cannot open file %s") when it cannot be
// opened, with ": not a regular file" or ": a symbolic link is not sent"
// after the path for anything else (a FIFO, a device, a folder, a link).
class TNetFileStream : public TNetStream {
public:
    explicit TNetFileStream(const std::string& path);
    ~TNetFileStream() override;
    TNetFileStream(const TNetFileStream&) = delete;
    TNetFileStream& operator=(const TNetFileStream&) = delete;

    long long Size() const override;
    long long Position() const override { return position_; }
    std::string_view Read(std::size_t count) override;

private:
    // One send chunk: a buffer that small stays in the processor's cache
    // from the read to the send (a 1 MiB one made loopback uploads of 1 MiB
    // files about a quarter slower).
    static constexpr std::size_t ReadAheadSize = 1 << 15;
    // A POSIX descriptor or a Windows HANDLE (NetFileStreamPosix.cpp,
    // NetFileStreamWindows.cpp).
    std::intptr_t fd_ = -1;
    std::string path_;
    long long position_ = 0;
    std::vector<char> buffer_;
    std::size_t bufferPos_ = 0;
    std::size_t bufferEnd_ = 0;
};
