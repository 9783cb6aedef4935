#pragma once
// Runtime error classes shared by every layer. Each handler's error report
// shows what() of whatever reaches it.
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A text that is not a number or a date.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A file that cannot be opened ("Cannot open file %s").
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

// A file that can be opened but not read or written.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};
