#pragma once
// The lines `qeladmin upload` writes to standard error: when that is a file
// (a journal, a log), each is led by the local time, ISO 8601.
#include <ctime>
#include <string>

// "2026-12-11T03:00:07", local time.
std::string IsoLocalTime(std::time_t when);

// `line` led by the time when `timed`.
std::string LogLine(const std::string& line, bool timed, std::time_t when);

// A command line of the FTP exchange as it may be logged: a password is
// never shown, whatever the client passed on.
std::string MaskedCommand(const std::string& commandLine);

// "Sent NAME (BYTES bytes in SECONDS s)".
std::string FileSentLine(const std::string& name, long long bytes, long long milliseconds);
