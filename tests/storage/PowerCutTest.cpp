// The power-cut simulator. A file log takes a sequence of appends, rewrites
// (one changes a key) and a batch, then closes (a checkpoint), while every
// write and sync that reaches its files is recorded. Then a power cut is
// played at every point of that sequence: what was synced stays; of the
// writes since each file's last sync the disk keeps all, none, any subset,
// in any order, and tears some at 512 B or 4 KiB sectors. The table is then
// opened after a restart (sometimes after another program appended a record
// of its own, as python3-dbf does: no journal, no index) and checked: every
// confirmed record exactly once with its last confirmed contents, nothing
// else of ours (the update in flight wholly or not at all), the other
// program's record untouched, and the index agreeing with the records.
//
// QZ_POWERCUT_ROUNDS (default 1) repeats the sweep with other workloads:
// bench/storage/powercut_soak.sh runs it long, outside the test command.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "StorageTestSupport.h"
#include "data/storage/Bytes.h"
#include "data/storage/Journal.h"
#include "data/storage/OsFile.h"
#include "data/storage/XbaseTable.h"

using namespace xbase;
using namespace storage_test;

namespace {

using Bytes = std::vector<uint8_t>;
const std::vector<std::string> kFiles = {"FILELOG.DBF", "FILELOG.CDX", "FILELOG.DBF.qzj"};
constexpr uint32_t kStartRecords = 87;   // the first append crosses the table's first 4 KiB page

struct Event {
    size_t file = 0;
    bool sync = false;
    uint64_t offset = 0;
    Bytes bytes;
};

class Recorder : public FileEventRecorder {
public:
    void wrote(const std::filesystem::path& path, uint64_t offset, std::span<const uint8_t> data) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (auto f = fileOf(path)) events_.push_back(Event{*f, false, offset, Bytes(data.begin(), data.end())});
    }
    void synced(const std::filesystem::path& path) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (auto f = fileOf(path)) events_.push_back(Event{*f, true, 0, {}});
    }
    size_t size()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.size();
    }
    std::vector<Event> take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(events_);
    }

private:
    static std::optional<size_t> fileOf(const std::filesystem::path& path)
    {
        const std::string name = path.filename().string();
        for (size_t i = 0; i < kFiles.size(); ++i)
            if (name == kFiles[i]) return i;
        return std::nullopt;
    }
    std::mutex mutex_;
    std::vector<Event> events_;
};

struct Row {
    std::string copied;
    uint32_t recno = 0;
};
using Model = std::map<std::string, Row>;   // by FILENAME

// One Post (or one batch) and what the table holds once it returned.
struct Step {
    size_t begin = 0;   // events before it started
    size_t end = 0;     // events when it returned: confirmed from here on
    Model after;
};

struct Recording {
    std::vector<Bytes> start;   // the files as synced before the sequence
    std::vector<Event> events;
    std::vector<Step> steps;
    Model initial;
};

Bytes record(const XbaseTable& t, const std::string& name, const std::string& copied)
{
    return fileLogRecord(t, name, "20261210", copied);
}

// Records a sequence of steps on a fresh file log of kStartRecords records.
class Sequence {
public:
    explicit Sequence(const std::filesystem::path& dir) : dbf_(makeFileLog(dir))
    {
        {
            auto t = XbaseTable::open(dbf_, OpenMode::Shared, false);
            t->beginBatch();
            for (uint32_t i = 1; i <= kStartRecords; ++i) {
                const std::string name = "START" + std::to_string(i);
                t->appendRecord(record(*t, name, "YES"));
                rec_.initial[name] = Row{"YES", i};
            }
            t->commitBatch();
        }
        for (const auto& f : kFiles) rec_.start.push_back(readFile(dir / f));
        model_ = rec_.initial;
        setFileEventRecorder(&recorder_);
        table_ = XbaseTable::open(dbf_, OpenMode::Shared, false);
    }
    ~Sequence() { setFileEventRecorder(nullptr); }
    XbaseTable& table() { return *table_; }
    Model& model() { return model_; }

    uint32_t append(const std::string& name, const std::string& copied)
    {
        const uint32_t recno = table_->appendRecord(record(*table_, name, copied));
        model_[name] = Row{copied, recno};
        return recno;
    }
    // By value: a caller may pass a key of the model itself, which the erase frees.
    void rewrite(const std::string name, const std::string newName, const std::string copied)
    {
        const uint32_t recno = model_.at(name).recno;
        table_->writeRecord(recno, record(*table_, newName, copied));
        model_.erase(name);
        model_[newName] = Row{copied, recno};
    }
    // One Post or batch: confirmed once `body` returned.
    template <typename Body>
    void step(Body body)
    {
        Step step;
        step.begin = recorder_.size();
        body();
        step.end = recorder_.size();
        step.after = model_;
        rec_.steps.push_back(std::move(step));
    }
    // With `close`, the table closes (a checkpoint) while recorded; without,
    // the recording ends as if the process had died there.
    Recording finish(bool close)
    {
        if (close) table_.reset();
        setFileEventRecorder(nullptr);
        table_.reset();
        rec_.events = recorder_.take();
        return std::move(rec_);
    }

private:
    std::filesystem::path dbf_;
    Recording rec_;
    Model model_;
    Recorder recorder_;
    std::unique_ptr<XbaseTable> table_;
};

// A seeded sequence: appends, rewrites (one changes a key), a batch, close.
Recording recordSequence(const std::filesystem::path& dir, std::mt19937& rng)
{
    SyncOff fast;   // syncs are recorded all the same; the sequence takes milliseconds, so no checkpoint thread wakes
    Sequence seq(dir);
    int appended = 0;
    auto newName = [&] { return "NEW" + std::to_string(++appended) + "-" + std::to_string(rng() % 1000); };
    auto someName = [&] {
        auto it = seq.model().begin();
        std::advance(it, std::ptrdiff_t(rng() % seq.model().size()));
        return it->first;
    };
    const int steps = 7 + int(rng() % 3);
    for (int i = 0; i < steps; ++i) {
        seq.step([&] {
            switch (i == 0 ? 0 : rng() % 6) {
            case 3: {
                const std::string name = someName();
                seq.rewrite(name, name, "NO");
                break;
            }
            case 4: {
                const std::string name = someName();
                seq.rewrite(name, "RENAMED" + std::to_string(i), seq.model().at(name).copied);
                break;
            }
            case 5: {
                seq.table().beginBatch();
                seq.append(newName(), "YES");
                const std::string name = someName();
                seq.rewrite(name, name, "BAT");
                seq.append(newName(), "BAT");
                seq.table().commitBatch();
                break;
            }
            default: seq.append(newName(), "YES");
            }
        });
    }
    return seq.finish(true);
}

// What a disk may hold after a cut before event `cut`: each file's writes
// up to its last sync, and of the writes after it, for each sector (or 4 KiB
// page) of each file, the sector as some number of them in order left it
// (the page cache writes a sector back whole, with all it holds; sectors go
// to the disk in any order). So a write may be torn, and a later write kept
// where an earlier one was lost.
using Unit = std::pair<size_t, uint64_t>;   // file, unit index
struct Choice {
    uint64_t unit = 512;
    std::map<Unit, size_t> kept;   // how many of the unit's unsynced writes reached the disk
    bool all = false;              // every write (a killed process: the kernel keeps them)
};

void applyWrite(Bytes& file, uint64_t offset, std::span<const uint8_t> data)
{
    if (file.size() < offset + data.size()) file.resize(offset + data.size());
    std::copy(data.begin(), data.end(), file.begin() + std::ptrdiff_t(offset));
}

// Calls `piece(unit, from, to)` for each part of event `e` in one unit.
template <typename Piece>
void unitsOf(const Event& e, uint64_t unit, Piece piece)
{
    const uint64_t end = e.offset + e.bytes.size();
    for (uint64_t at = e.offset; at < end;) {
        const uint64_t next = std::min(end, (at / unit + 1) * unit);
        piece(Unit{e.file, at / unit}, at, next);
        at = next;
    }
}

struct Cut {
    std::vector<size_t> durable;   // per file: events before this index are on disk
    std::vector<size_t> pending;   // unsynced writes, in order
};

Cut cutAt(const Recording& rec, size_t cut)
{
    Cut c;
    c.durable.assign(kFiles.size(), 0);
    for (size_t i = 0; i < cut; ++i)
        if (rec.events[i].sync) c.durable[rec.events[i].file] = i + 1;
    for (size_t i = 0; i < cut; ++i)
        if (!rec.events[i].sync && i >= c.durable[rec.events[i].file]) c.pending.push_back(i);
    return c;
}

// Per unit, how many unsynced writes touch it.
std::map<Unit, size_t> unitWrites(const Recording& rec, const Cut& c, uint64_t unit)
{
    std::map<Unit, size_t> n;
    for (size_t e : c.pending) unitsOf(rec.events[e], unit, [&](Unit u, uint64_t, uint64_t) { ++n[u]; });
    return n;
}

struct Disk {
    std::vector<Bytes> files;
    bool torn = false;        // a write partly kept
    bool reordered = false;   // a write kept where an earlier one was lost
};

Disk diskAfter(const Recording& rec, size_t cut, const Choice& choice)
{
    const Cut c = cutAt(rec, cut);
    Disk d{rec.start};
    for (size_t i = 0; i < cut; ++i) {
        const Event& e = rec.events[i];
        if (!e.sync && i < c.durable[e.file]) applyWrite(d.files[e.file], e.offset, e.bytes);
    }
    std::map<Unit, size_t> seen;
    bool lostBefore = false;
    for (size_t e : c.pending) {
        const Event& ev = rec.events[e];
        bool any = false, every = true;
        unitsOf(ev, choice.unit, [&](Unit u, uint64_t from, uint64_t to) {
            auto k = choice.kept.find(u);
            const bool kept = choice.all || (k != choice.kept.end() && seen[u] < k->second);
            ++seen[u];
            any |= kept;
            every &= kept;
            if (kept) applyWrite(d.files[ev.file], from, std::span<const uint8_t>(ev.bytes).subspan(size_t(from - ev.offset), size_t(to - from)));
        });
        d.torn |= any && !every;
        d.reordered |= any && lostBefore;
        lostBefore |= !every;
    }
    return d;
}

// After the restart the journal's records carry another boot's name.
void markEarlierBoot(Bytes& journal)
{
    const auto header = JournalHeader::parse(journal);
    if (!header) return;
    uint64_t pos = JournalHeader::kRecordsStart;
    for (uint64_t seq = 1; pos + JournalRecordHeader::kSize <= journal.size(); ++seq) {
        auto r = JournalRecordHeader::parse(std::span<const uint8_t>(journal).subspan(pos));
        if (!r || r->generation != header->generation || r->seq != seq) break;
        r->boot[0] ^= 0xFF;
        const auto block = r->serialize();
        std::copy(block.begin(), block.end(), journal.begin() + std::ptrdiff_t(pos));
        pos += r->recordSize();
    }
}

// Another program appends a record as python3-dbf does: after the records
// the header counts, with an end marker, then the header's date and count.
uint32_t foreignAppend(Bytes& dbf, const Bytes& image)
{
    const uint32_t count = bytes::le32(dbf.data() + 4);
    const uint64_t offset = bytes::le16(dbf.data() + 8) + uint64_t(count) * bytes::le16(dbf.data() + 10);
    applyWrite(dbf, offset, image);
    const uint8_t marker = 0x1A;
    applyWrite(dbf, offset + image.size(), std::span<const uint8_t>(&marker, 1));
    dbf[1] = 124;   // 2024-03-15: earlier than ours
    dbf[2] = 3;
    dbf[3] = 15;
    bytes::putLe32(dbf.data() + 4, count + 1);
    return count + 1;
}

struct Outcome {
    std::string failure;   // empty: it held
    size_t reports = 0;
};

// Opens the table with recovery and checks it against what was confirmed.
// `restart`: the machine restarted (else only the writing process died,
// and the kernel kept all it had written).
Outcome check(const std::filesystem::path& dbf, const Recording& rec, size_t cut, bool restart,
              std::optional<uint32_t> foreignSlot, const Bytes& foreignImage)
{
    Outcome out;
    std::vector<std::string> lines;
    setRecoveryReporter([&](const std::string& line) { lines.push_back(line); });
    auto fail = [&](const std::string& why) {
        out.failure = why;
        for (const auto& l : lines) out.failure += "\n  recovery: " + l;
        return out;
    };
    std::vector<const Model*> allowed;   // the confirmed state, or that with the update in flight
    const Model* confirmed = &rec.initial;
    for (const Step& s : rec.steps) {
        if (s.end <= cut) confirmed = &s.after;
        else if (s.begin < cut) allowed.push_back(&s.after);
    }
    allowed.insert(allowed.begin(), confirmed);
    try {
        auto t = XbaseTable::open(dbf, OpenMode::Shared, false);
        setRecoveryReporter(nullptr);
        out.reports = lines.size();
        Model found;
        std::map<uint32_t, std::string> byRecno;
        const uint32_t count = t->recordCount();
        Bytes image(t->recordLength());
        for (uint32_t r = 1; r <= count; ++r) {
            t->readRecord(r, image);
            if (foreignSlot && r == *foreignSlot) {
                if (image != foreignImage) return fail("the other program's record " + std::to_string(r) + " was overwritten");
                continue;
            }
            const std::string name = fieldText(*t, image, "FILENAME");
            if (found.count(name)) return fail("record " + name + " is there twice");
            found[name] = Row{fieldText(*t, image, "COPIED"), r};
            byRecno[r] = name;
        }
        const Model* matched = nullptr;
        for (const Model* m : allowed) {
            // Only a record whose slot the other program's append took may
            // be given up: one confirmed, or (after a restart, once it is in
            // the journal) the one in flight; an update of a process that
            // died is wholly there or not at all.
            const bool mayLoseSlot = foreignSlot && (restart || m == confirmed);
            bool same = true;
            for (const auto& [name, row] : *m) {
                auto it = found.find(name);
                if (it == found.end()) {
                    if (!(mayLoseSlot && row.recno == *foreignSlot)) same = false;
                } else if (it->second.copied != row.copied) same = false;
            }
            for (const auto& [name, row] : found)
                if (!m->count(name)) same = false;
            if (same) {
                matched = m;
                break;
            }
        }
        if (!matched) {
            std::string got;
            for (const auto& [name, row] : found)
                if (!rec.initial.count(name) || rec.initial.at(name).copied != row.copied) got += " " + name + "=" + row.copied;
            return fail("the records are no confirmed state; changed or new:" + got);
        }
        if (!foreignSlot && !lines.empty()) return fail("recovery reported another program's change, but none ran");
        if (foreignSlot && matched->size() > found.size() && lines.empty()) return fail("a record was given up without a word");
        // The index: every record of ours found by its key, the walk in key
        // order over each record once and over no record that lacks its key.
        auto tag = t->tag("FILENAME");
        for (const auto& [name, row] : found)
            if (tag->seek(name) != row.recno) return fail("seek " + name + " does not find record " + std::to_string(row.recno));
        std::set<uint32_t> walked;
        std::string previous;
        for (auto r = tag->first(); r; r = tag->next()) {
            if (!walked.insert(*r).second) return fail("the tag walks record " + std::to_string(*r) + " twice");
            if (*r > count) return fail("the tag names record " + std::to_string(*r) + " past the end");
            auto it = byRecno.find(*r);
            if (it == byRecno.end()) {
                if (foreignSlot && *r == *foreignSlot) continue;   // checked below
                return fail("the tag names record " + std::to_string(*r) + " which is none of ours");
            }
            if (it->second < previous) return fail("the tag is out of order at " + it->second);
            previous = it->second;
        }
        if (walked.size() < found.size()) return fail("the tag misses records");
        // The other program keeps no index: its record is in the tag only
        // under its own key, put in when its slot's record of ours was given up.
        if (foreignSlot && walked.count(*foreignSlot) && tag->seek("FOREIGN") != *foreignSlot)
            return fail("the tag names the other program's record " + std::to_string(*foreignSlot) + " under a key of ours");
    } catch (const std::exception& e) {
        setRecoveryReporter(nullptr);
        return fail(std::string("opening after the cut failed: ") + e.what());
    }
    return out;
}

struct Totals {
    size_t cuts = 0;
    size_t recoveries = 0;
    size_t torn = 0;
    size_t reordered = 0;
    size_t foreign = 0;
    size_t givenUp = 0;
    size_t failures = 0;
    size_t readerChecks = 0;
};

// The choices of what reaches the disk at one cut: every combination while
// they are few, then nothing, and a seeded sample of sectors or pages kept.
std::vector<Choice> choicesAt(const Recording& rec, size_t cut, std::mt19937& rng, size_t samples)
{
    const Cut c = cutAt(rec, cut);
    std::vector<Choice> choices;
    if (c.pending.empty()) return {Choice{}};
    const auto units = unitWrites(rec, c, 512);
    size_t combinations = 1;
    for (const auto& [u, n] : units) combinations = std::min<size_t>(combinations * (n + 1), 1000);
    if (combinations <= 16) {
        for (size_t k = 0; k < combinations; ++k) {
            Choice choice;
            size_t rest = k;
            for (const auto& [u, n] : units) {
                choice.kept[u] = rest % (n + 1);
                rest /= n + 1;
            }
            choices.push_back(std::move(choice));
        }
        return choices;
    }
    choices.push_back(Choice{});
    for (size_t s = 0; s < samples; ++s) {
        Choice choice;
        choice.unit = rng() % 3 == 0 ? 4096 : 512;
        for (const auto& [u, n] : unitWrites(rec, c, choice.unit)) choice.kept[u] = rng() % (n + 1);
        choices.push_back(std::move(choice));
    }
    return choices;
}

// One recovery: the disk after `cut` as `choice` leaves it, after a restart
// (or, without one, as a killed process leaves it), maybe with another
// program's append; checked, and tallied in `totals`.
void recoverOnce(const Recording& rec, size_t cut, const Choice& choice, bool restart, bool foreign,
                 const ScratchDir& scratch, const Bytes& foreignImage, size_t readerEvery, Totals& totals,
                 const std::string& where)
{
    Disk disk = diskAfter(rec, cut, choice);
    auto& files = disk.files;
    if (restart) markEarlierBoot(files[2]);
    std::optional<uint32_t> slot;
    if (foreign) slot = foreignAppend(files[0], foreignImage);
    for (size_t f = 0; f < kFiles.size(); ++f) writeFile(scratch / kFiles[f], files[f]);
    const auto dbf = scratch / "FILELOG.DBF";
    SyncOff fast;
    const Outcome o = check(dbf, rec, cut, restart, slot, foreignImage);
    ++totals.recoveries;
    totals.foreign += foreign;
    totals.givenUp += o.reports > 0 && foreign;
    totals.torn += disk.torn;
    totals.reordered += disk.reordered;
    if (!o.failure.empty()) {
        ++totals.failures;
        if (totals.failures <= 5)
            ADD_FAILURE() << where << ", cut before event " << cut << " of " << rec.events.size() << ", "
                          << (choice.all ? "every unsynced write kept" : disk.torn || disk.reordered ? "unsynced writes torn or reordered" : "some unsynced writes kept")
                          << (restart ? ", after a restart" : ", by a killed process")
                          << (foreign ? ", then another program appended" : "") << ": " << o.failure;
        return;
    }
    if (readerEvery && totals.recoveries % readerEvery == 0) {
        // The independent readers agree on a sample.
        ++totals.readerChecks;
        const auto table = xbaseDump(dbf);
        EXPECT_EQ(table.exitCode, 0) << where << ", cut " << cut << ": " << table.output;
        if (!foreign) {
            const auto index = xbaseDump(dbf, "FILENAME");
            EXPECT_EQ(index.exitCode, 0) << where << ", cut " << cut << ": " << index.output;
        }
        EXPECT_NO_THROW(pythonFileNames(dbf)) << where << ", cut " << cut;
    }
}

void sweep(uint32_t seed, size_t samplesPerCut, size_t readerEvery, Totals& totals)
{
    std::mt19937 rng(seed);
    ScratchDir work;
    const Recording rec = recordSequence(work.path(), rng);
    ScratchDir scratch;
    Bytes foreignImage;
    {
        auto t = XbaseTable::open(work / "FILELOG.DBF", OpenMode::Shared, true);
        foreignImage = fileLogRecord(*t, "FOREIGN", "20240315", "PY");
    }
    const std::string where = "seed " + std::to_string(seed);
    if (std::getenv("QZ_POWERCUT_DEBUG")) {
        for (size_t i = 0; i < rec.events.size(); ++i) {
            const Event& e = rec.events[i];
            std::string step;
            for (size_t k = 0; k < rec.steps.size(); ++k)
                if (rec.steps[k].begin <= i && i < rec.steps[k].end) step = "step " + std::to_string(k);
            std::printf("%zu %s file %zu %s %llu+%zu %s\n", i, step.c_str(), e.file, e.sync ? "sync" : "write", (unsigned long long)e.offset,
                        e.bytes.size(), e.bytes.size() < 60 ? std::string(e.bytes.begin(), e.bytes.end()).c_str() : "");
        }
    }
    for (size_t cut = 0; cut <= rec.events.size() && totals.failures < 5; ++cut) {
        ++totals.cuts;
        // A killed process: the kernel keeps every write.
        Choice all;
        all.all = true;
        for (bool foreign : {false, true}) recoverOnce(rec, cut, all, false, foreign, scratch, foreignImage, 0, totals, where);
        // A power cut.
        for (const auto& choice : choicesAt(rec, cut, rng, samplesPerCut))
            for (bool foreign : {false, true})
                if (!foreign || rng() % 2)
                    recoverOnce(rec, cut, choice, true, foreign, scratch, foreignImage, readerEvery, totals, where);
    }
}

void runSweep(size_t samplesPerCut, size_t readerEvery)
{
    const char* env = std::getenv("QZ_POWERCUT_ROUNDS");
    const int rounds = env ? std::max(1, std::atoi(env)) : 1;
    const char* seedEnv = std::getenv("QZ_POWERCUT_SEED");
    const uint32_t firstSeed = seedEnv ? uint32_t(std::strtoul(seedEnv, nullptr, 10)) : 20261211u;
    Totals totals;
    const auto started = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds && totals.failures == 0; ++round) sweep(firstSeed + uint32_t(round), samplesPerCut, readerEvery, totals);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("power cuts: %d workload(s), %zu cut points, %zu recoveries (%zu torn, %zu reordered, %zu after another "
                "program's append, %zu of those reported a record given up), %zu checked by the independent readers, "
                "%zu failed, %.1f s\n",
                rounds, totals.cuts, totals.recoveries, totals.torn, totals.reordered, totals.foreign, totals.givenUp,
                totals.readerChecks, totals.failures, seconds);
    EXPECT_EQ(totals.failures, 0u);
}

}  // namespace

TEST(PowerCut, EveryConfirmedRecordSurvivesEveryCut) { runSweep(QZ_POWERCUT_SAMPLES, 0); }

TEST(PowerCut, IndependentReadersAcceptTheRecoveredTables) { runSweep(1, 40); }

namespace {

// The event that writes `[from, to)` of the table in step `step`.
size_t tableWriteIn(const Recording& rec, size_t step, const std::function<bool(const Event&)>& which)
{
    for (size_t i = rec.steps.at(step).begin; i < rec.steps.at(step).end; ++i)
        if (rec.events[i].file == 0 && !rec.events[i].sync && which(rec.events[i])) return i;
    throw std::runtime_error("no such write");
}

Bytes foreignRecordFor(const std::filesystem::path& dbf)
{
    auto t = XbaseTable::open(dbf, OpenMode::Shared, true);
    return fileLogRecord(*t, "FOREIGN", "20240315", "PY");
}

}  // namespace

// An append confirmed, then the power fails: the disk kept only the page
// that holds the record's tail. The restart finishes our own torn write (it
// is no other program's change) and the record is there, found by its key.
TEST(PowerCut, AnAppendTornAcrossAPageIsFinished)
{
    ScratchDir dir, scratch;
    Sequence seq(dir.path());
    seq.step([&] { seq.append("TORN", "YES"); });
    const Recording rec = seq.finish(false);
    const size_t write = tableWriteIn(rec, 0, [](const Event& e) { return e.offset < 4096 && e.offset + e.bytes.size() > 4096; });
    Totals totals;
    // Only the second 4 KiB page of the table got the record (its tail).
    Choice tail;
    tail.unit = 4096;
    tail.kept[Unit{0, 1}] = 1;
    ASSERT_LT(rec.events[write].offset, 4096u);
    recoverOnce(rec, rec.events.size(), tail, true, false, scratch, {}, 0, totals, "torn append");
    EXPECT_EQ(totals.failures, 0u);
}

// Five appends confirmed, the power fails before any reached the table,
// and after the restart another program appends one record (into the first
// one's place) before we open the table: only that place is given up (and
// said so); the count, the later appends and the index come back.
TEST(PowerCut, AnotherProgramsAppendAfterACutCostsOnlyTheSlotItTook)
{
    ScratchDir dir, scratch;
    Sequence seq(dir.path());
    for (int i = 1; i <= 5; ++i) seq.step([&] { seq.append("APPEND" + std::to_string(i), "YES"); });
    const Recording rec = seq.finish(false);
    Totals totals;
    recoverOnce(rec, rec.events.size(), Choice{}, true, true, scratch, foreignRecordFor(dir / "FILELOG.DBF"), 0, totals, "five appends");
    EXPECT_EQ(totals.failures, 0u);
    EXPECT_EQ(totals.givenUp, 1u) << "the record given up is reported";
    auto t = XbaseTable::open(scratch / "FILELOG.DBF", OpenMode::Shared, false);
    EXPECT_EQ(t->recordCount(), kStartRecords + 5);
    EXPECT_EQ(t->appendRecord(record(*t, "NEXT", "YES")), kStartRecords + 6) << "the next append goes after them";
}

// A writer killed while it wrote an update in place (the index pages done,
// the header not yet), then another program appends into the same place:
// the update, never confirmed, is voided and nothing of it remains: not
// its index key (which would name the other program's record), not the
// other records of its batch.
TEST(PowerCut, AWriterKilledInPlaceLeavesNothingOfItsUpdateWhenAnotherProgramAppends)
{
    struct Case {
        const char* name;
        bool batch;
    };
    for (const Case& c : {Case{"one append", false}, Case{"a batch", true}}) {
        SCOPED_TRACE(c.name);
        ScratchDir dir, scratch;
        Sequence seq(dir.path());
        seq.step([&] {
            if (c.batch) seq.table().beginBatch();
            if (c.batch) seq.rewrite("START1", "START1", "NO");
            seq.append("GONE", "YES");
            if (c.batch) seq.table().commitBatch();
        });
        const Recording rec = seq.finish(false);
        const size_t header = tableWriteIn(rec, 0, [](const Event& e) { return e.offset == 1 && e.bytes.size() == 7; });
        Choice killed;
        killed.all = true;
        Totals totals;
        recoverOnce(rec, header, killed, false, true, scratch, foreignRecordFor(dir / "FILELOG.DBF"), 0, totals, c.name);
        EXPECT_EQ(totals.failures, 0u);
        auto t = XbaseTable::open(scratch / "FILELOG.DBF", OpenMode::Shared, true);
        EXPECT_FALSE(t->tag("FILENAME")->seek("GONE").has_value());
    }
}
