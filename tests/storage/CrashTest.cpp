// A writer killed with SIGKILL at random moments never loses or damages a
// record it had confirmed, and the table and its tag stay valid.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>

#include "StorageTestSupport.h"
#include "data/storage/Journal.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

// Messages from the writer: "B recno value" before a write, "D recno value"
// once it returned (recno 0 = append).
struct Message {
    char kind;
    uint32_t recno;
    char value[26];
};

[[noreturn]] void writerLoop(const std::filesystem::path& path, int fd, unsigned seed)
{
    try {
        auto table = XbaseTable::open(path, OpenMode::Shared, false);
        std::mt19937 rng(seed);
        for (int i = 0;; ++i) {
            Message m {};
            const uint32_t count = table->recordCount();
            m.recno = (count > 0 && rng() % 3 == 0) ? uint32_t(rng() % count) + 1 : 0;
            // Bounded so that the value always fits FILENAME's 25 characters.
            std::snprintf(m.value, sizeof m.value, "S%u_%u_%u", seed % 100000, unsigned(i) % 10000000, unsigned(rng() % 1000));
            m.kind = 'B';
            if (::write(fd, &m, sizeof m) != sizeof m) ::_exit(3);
            const auto image = fileLogRecord(*table, m.value);
            if (m.recno) table->writeRecord(m.recno, image);
            else m.recno = table->appendRecord(image);
            m.kind = 'D';
            if (::write(fd, &m, sizeof m) != sizeof m) ::_exit(3);
        }
    } catch (...) {
        ::_exit(2);
    }
}

TEST(Crash, KilledWriterNeverDamagesConfirmedRecords)
{
    ScratchDir dir;
    const auto path = makeFileLog(dir.path());
    std::map<uint32_t, std::string> confirmed;            // recno -> value
    std::map<uint32_t, std::string> inFlightByRecno;
    std::mt19937 rng(2024);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(12);
    int iterations = 0, dumps = 0;
    // Open all along: its cursor must finish a killed writer's update itself.
    auto watcher = XbaseTable::open(path, OpenMode::Shared, true);
    auto watcherTag = watcher->tag("FILENAME");
    while (std::chrono::steady_clock::now() < deadline) {
        ++iterations;
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            writerLoop(path, fds[1], unsigned(iterations));
        }
        ::close(fds[1]);
        ::usleep(useconds_t(1000 + rng() % 40000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer stopped by itself, status " << status;

        // What the writer said before it died.
        Message m {};
        std::optional<Message> pending;
        while (::read(fds[0], &m, sizeof m) == sizeof m) {
            if (m.kind == 'B') {
                pending = m;
            } else {
                confirmed[m.recno] = m.value;
                pending.reset();
            }
        }
        ::close(fds[0]);

        uint32_t watched = 0;
        for (auto r = watcherTag->first(); r; r = watcherTag->next()) ++watched;
        ASSERT_EQ(watched, watcher->recordCount()) << "after " << iterations << " kills";

        auto table = XbaseTable::open(path, OpenMode::Shared, false);
        const uint32_t count = table->recordCount();
        ASSERT_GE(count, confirmed.size());
        std::vector<uint8_t> image(table->recordLength());
        auto tag = table->tag("FILENAME");
        for (auto& [recno, value] : confirmed) {
            table->readRecord(recno, image);
            const std::string stored = fieldText(*table, image, "FILENAME");
            const bool inFlight = pending && (pending->recno == recno || (pending->recno == 0 && recno == count));
            if (inFlight && stored == pending->value) {
                value = stored;   // the last write reached the disk before the kill
            } else {
                ASSERT_EQ(stored, value) << "record " << recno << " after " << iterations << " kills";
            }
            auto found = tag->seek(stored);
            ASSERT_TRUE(found.has_value()) << stored;
        }
        if (pending && pending->recno == 0 && count > confirmed.size()) confirmed[count] = pending->value;
        ASSERT_EQ(count, confirmed.size());
        // Every record has exactly one key.
        uint32_t keys = 0;
        for (auto r = tag->first(); r; r = tag->next()) ++keys;
        ASSERT_EQ(keys, count);
        table.reset();
        if (iterations % 8 == 1) {
            ++dumps;
            auto r = xbaseDump(path, "FILENAME");
            ASSERT_EQ(r.exitCode, 0) << r.output.substr(0, 2000);
        }
    }
    auto r = xbaseDump(path, "FILENAME");
    EXPECT_EQ(r.exitCode, 0) << r.output.substr(0, 2000);
    auto py = run("/usr/bin/python3 -c \"import dbf,sys; t=dbf.Table(sys.argv[1]); t.open(); print(len(t))\" " + quote(path));
    EXPECT_EQ(py.output, std::to_string(confirmed.size()) + "\n");
    RecordProperty("kills", iterations);
    RecordProperty("records", int(confirmed.size()));
    std::printf("%d kills, %zu records, %llu interrupted updates finished from the journal, %d independent checks\n",
                iterations, confirmed.size(), (unsigned long long)journalReplays(), dumps + 1);
}

}  // namespace
