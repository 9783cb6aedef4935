#pragma once
// The outcome of one unattended upload, left for monitoring tools in the
// node exporter's textfile format (Prometheus text exposition), names
// beginning "qelzav_upload_". The file is replaced whole (written beside
// it, then renamed), so a reader never sees half a record. The time of the
// last successful run is carried over from the record before when this run
// failed.
#include <cstdint>
#include <optional>
#include <string>

struct TRunRecord {
    std::int64_t RunTime = 0;      // seconds since 1970, UTC, when the run ended
    int Status = 0;                // the exit status
    std::int64_t FilesSent = 0;
    std::int64_t BytesSent = 0;
    std::string Message;           // the run's last message, one line
    std::string Folder;            // the program folder (a label)
    std::optional<std::int64_t> LastSuccess;  // seconds since 1970 of the last run with status 0 or 9
};

// The file's text.
std::string FormatRunRecord(const TRunRecord& record);

// The last-success time a record's text holds, if any.
std::optional<std::int64_t> LastSuccessIn(const std::string& text);

// Whether a status counts as a successful run: finished (0), or finished
// with some files left out (9).
bool IsSuccessStatus(int status);

// Writes the record to `path` atomically, carrying LastSuccess over from the
// file there when this run did not succeed. Throws std::runtime_error naming
// the file when it cannot be written.
void WriteRunRecord(const std::string& path, TRunRecord record);
