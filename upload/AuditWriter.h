#pragma once
// Writes the run's audit rows so that each row's disk sync overlaps the next
// file's transfer instead of holding up the exchange with the server.
//
// A row is filled in on the caller's thread, so that a closed table or a bad
// value fails at once as before; only its Post (the commit and its sync)
// runs on the writer's own thread. At most one row is in flight: the next
// Write first waits for it, so a row is durable before the file after next
// is begun, and a failure to commit it stops the run one file later at the
// latest. The table is the writer thread's while a row is in flight: whoever
// else uses it (the window closing it) calls Wait() first.
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "data/local/LocalTables.h"

class TDbfTable;

class TAuditWriter {
public:
    explicit TAuditWriter(TDbfTable& upLog) : upLog_(upLog) {}
    // Waits for the row in flight.
    ~TAuditWriter();
    TAuditWriter(const TAuditWriter&) = delete;
    TAuditWriter& operator=(const TAuditWriter&) = delete;

    // Rethrows the failure of the row before, if any; fills in this row and
    // hands its Post to the writing thread.
    void Write(const UpLogRow& row);
    // Waits until the row in flight is committed; rethrows a failure.
    void Finish();
    // Waits until the row in flight is committed; a failure is kept for the
    // next Write or Finish.
    void Wait();
    // Waits for the row in flight and forgets a failure to commit it: a new
    // run does not report what the run before, ended by another error, left.
    void Restart();

private:
    void WaitIdle(std::unique_lock<std::mutex>& lock);
    void Loop();

    TDbfTable& upLog_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool posting_ = false;   // a filled-in row waits for or is in its Post
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread thread_;     // started with the first row
};
