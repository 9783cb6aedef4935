#pragma once
// Bounds how long an update lives only in the journal while its table stays
// open and idle (the program keeps its tables open until it quits): about a
// second after the first update since the last checkpoint, a thread of the
// table's own makes one. It opens the files afresh for each checkpoint, so
// its byte-range locks exclude this process's own table calls just as they
// exclude other processes; the table's update mutex keeps it apart from the
// table's own writes when the table is open exclusively (no byte-range
// locks then).
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "data/storage/FileLocks.h"
#include "data/storage/Journal.h"

namespace xbase {

class Checkpointer {
public:
    Checkpointer(std::filesystem::path dbfPath, locks::Scheme scheme, bool shared, std::mutex& updateMutex);
    ~Checkpointer();   // stops the thread; the table makes its own last checkpoint
    Checkpointer(const Checkpointer&) = delete;
    Checkpointer& operator=(const Checkpointer&) = delete;

    // An update went to the journal; `cdxPath` is the table's index now
    // (empty without one). Call holding the update mutex.
    void wrote(const std::filesystem::path& cdxPath);

private:
    void run();
    // False when the locks were busy: tried again a little later.
    bool checkpoint(const std::filesystem::path& cdxPath);

    const std::filesystem::path dbfPath_;
    const locks::Scheme scheme_;
    const bool shared_;
    std::mutex& updateMutex_;
    Journal journal_;

    std::mutex mutex_;   // guards what follows
    std::condition_variable wake_;
    std::optional<std::chrono::steady_clock::time_point> due_;
    std::filesystem::path cdxPath_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace xbase
