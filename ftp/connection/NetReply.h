#pragma once
// Pure parsing of the line-oriented replies: no sockets, so the same code is
// driven by the connection and by the fuzzer.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr std::size_t MaxLineLength = 16384;
// Bytes of one reply, its lines, line ends and blank lines counted: far above
// any real server's (a long welcome text is a few KiB), low enough that a
// server cannot exhaust the memory.
constexpr std::size_t MaxReplySize = 1 << 20;
// Lines of one reply, blank lines not counted: a welcome text has dozens.
constexpr std::size_t MaxReplyLines = 4096;

// True when a command line may go out: no CR, LF or NUL in it.
bool IsSafeCommandLine(std::string_view line);
// The line for a message, with CR, LF and NUL written as <CR>, <LF>, <NUL>.
std::string ShowCommandLine(std::string_view line);

struct TNetRFCReply {
    int NumericCode = 0;
    std::string TextCode;
    std::vector<std::string> Text;

    void Clear() { *this = TNetRFCReply{}; }
    // The text lines, each followed by CR LF: the message of a refused reply.
    std::string FormattedText() const;
};

// Removes every character with a code of 32 or less from both ends.
std::string TrimBlanks(std::string_view text);

// A decimal integer with optional leading blanks and sign, in the range of a
// 32-bit int; nothing when the text is not one.
std::optional<int> ParseInt(std::string_view text);
std::optional<long long> ParseInt64(std::string_view text);
// The same, raising EConvertError ("'%s' is not a valid integer value").
int StrToInt(std::string_view text);

// Received bytes not yet consumed. The line-feed search resumes where the
// previous one stopped, and consumed bytes are moved out only in bulk.
class TNetInputBuffer {
public:
    void Append(const char* data, std::size_t size);
    // Room for `size` bytes at the end, to receive into directly; Commit
    // keeps the first `size` of them. Nothing else may run in between.
    char* Reserve(std::size_t size);
    void Commit(std::size_t size);

    std::size_t Size() const { return data_.size() - readPos_; }
    bool Empty() const { return Size() == 0; }
    void Clear();

    // The next line without its LF (and a CR before it), or nothing when no
    // complete line is buffered. `taken` gets the bytes removed, LF included.
    // Raises ENetReadLnMaxLineLengthExceeded for more than MaxLineLength bytes
    // before a line feed, or that many buffered without one.
    std::optional<std::string> TakeLine(std::size_t& taken);

private:
    static constexpr std::size_t CompactThreshold = 32768;
    std::string data_;
    std::size_t readPos_ = 0;
    std::size_t searched_ = 0;  // bytes after readPos_ already searched
    std::size_t reservedAt_ = 0;
};

// Collects the lines of one reply: trims them, skips blank ones and tells
// when the reply is complete.
class TNetReplyCollector {
public:
    // Returns true when the line completed the reply.
    bool AddLine(std::string_view rawLine);
    bool Complete() const { return complete_; }
    const std::vector<std::string>& Lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
    std::string endMarker_;
    bool complete_ = false;
};

// Code and text of a reply from its kept lines.
TNetRFCReply ParseReplyLines(const std::vector<std::string>& lines);

// Address and port named by a reply to PASV (its first text line).
struct TPassiveAddress {
    std::string Address;
    int Port = 0;
};
TPassiveAddress ParsePassiveReply(std::string_view firstTextLine);

// The size in a 213 reply to SIZE: the text of its last line when that is
// decimal digits alone and fits 64 bits; -1 for anything else.
long long ParseSizeReply(const std::vector<std::string>& text);

// A reply for a message: its code and text on one line, control characters
// as "?", at most about 200 characters.
std::string ShownReply(const TNetRFCReply& reply);
// The message of a refused reply: its text lines, or for a reply without
// text one that names its code, so the message is never blank.
std::string RefusedReplyMessage(const TNetRFCReply& reply);
