// Sharing between processes that only POSIX can show here: forked writers
// appending at once (Windows has no fork; its children are threads).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "StorageTestSupport.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

TEST(Locking, ConcurrentAppendsFromSeveralProcessesAreAllKept)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    const int writers = 3, each = 40;
    std::vector<pid_t> pids;
    for (int w = 0; w < writers; ++w) {
        pid_t pid = ::fork();
        if (pid == 0) {
            int rc = 0;
            try {
                auto table = XbaseTable::open(path, OpenMode::Shared, false);
                auto tag = table->tag("FILENAME");
                for (int i = 0; i < each; ++i) {
                    table->appendRecord(fileLogRecord(*table, std::string("W") + std::to_string(w) + "_" + std::to_string(i)));
                    tag->seek("W0_0");
                }
            } catch (...) {
                rc = 1;
            }
            ::_exit(rc);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto table = XbaseTable::open(path, OpenMode::Exclusive, true);
    EXPECT_EQ(table->recordCount(), uint32_t(writers * each));
    auto tag = table->tag("FILENAME");
    for (int w = 0; w < writers; ++w)
        for (int i = 0; i < each; ++i) EXPECT_TRUE(tag->seek(std::string("W") + std::to_string(w) + "_" + std::to_string(i)).has_value());
    table.reset();
    auto r = xbaseDump(path, "FILENAME");
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

}  // namespace
