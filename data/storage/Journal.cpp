#include "data/storage/Journal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <string>

#include "data/storage/Bytes.h"
#include "data/storage/XbaseTable.h"

namespace xbase {
namespace {

std::atomic<uint64_t> g_replays{0};
std::atomic<uint64_t> g_kept{0};
std::atomic<uint64_t> g_damaged{0};

std::mutex g_reporterMutex;
std::function<void(const std::string&)> g_reporter;

void report(const std::string& line)
{
    std::lock_guard<std::mutex> lock(g_reporterMutex);
    if (g_reporter) g_reporter(line);
    else std::fprintf(stderr, "%s\n", line.c_str());
}

std::string localTime(int64_t ns)
{
    const std::time_t t = std::time_t(ns / 1'000'000'000);
    std::tm tm {};
    ::localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

// The bytes now at a write's place; those past the end of the file count as
// zeros (the same rule as the journalled CRC of the bytes replaced).
// Returns how many were in the file.
size_t readCurrent(const JournalWrite& w, OsFile& file, std::vector<uint8_t>& out)
{
    out.resize(w.bytes.size());
    const size_t got = file.readAt(w.offset, out);
    std::fill(out.begin() + std::ptrdiff_t(got), out.end(), uint8_t(0));
    return got;
}

// How a journalled write stands against the file now.
enum class Standing {
    InPlace,    // the file holds its bytes
    Replaced,   // the file holds the bytes it replaced: to be written
    Changed,    // something else: another program changed them since
};

// A disk that loses power may keep any of the sectors of a write and lose
// the others (or keep a 4 KiB page, eight of them): each sector is judged
// on its own.
constexpr uint64_t kSector = 512;

// The header's last-update date (bytes 1-3) and record count (4-7). Another
// program that appended after us moves them on too: the later date and the
// larger count are kept, so they never stand in the way of our update nor
// take back another program's records.
bool isHeaderStamp(const JournalWrite& w) { return w.target == 0 && w.offset == 1 && w.bytes.size() == 7; }

std::vector<uint8_t> mergedStamp(const JournalWrite& w, std::span<const uint8_t> now)
{
    std::vector<uint8_t> merged(now.begin(), now.end());
    if (std::lexicographical_compare(now.begin(), now.begin() + 3, w.bytes.begin(), w.bytes.begin() + 3))
        std::copy(w.bytes.begin(), w.bytes.begin() + 3, merged.begin());
    if (bytes::le32(w.bytes.data() + 3) > bytes::le32(now.data() + 3)) std::copy(w.bytes.begin() + 3, w.bytes.end(), merged.begin() + 3);
    return merged;
}

// Calls `piece(from, to)` for each part of `w` that lies in one sector.
template <typename Piece>
bool everySector(const JournalWrite& w, Piece piece)
{
    const uint64_t end = w.offset + w.bytes.size();
    for (uint64_t at = w.offset; at < end;) {
        const uint64_t next = std::min(end, (at / kSector + 1) * kSector);
        if (!piece(size_t(at - w.offset), size_t(next - w.offset))) return false;
        at = next;
    }
    return true;
}

bool sameBytes(std::span<const uint8_t> a, const std::vector<uint8_t>& b, size_t from, size_t to)
{
    return std::equal(a.begin() + std::ptrdiff_t(from), a.begin() + std::ptrdiff_t(to), b.begin() + std::ptrdiff_t(from));
}

Standing standing(const JournalWrite& w, std::span<const uint8_t> now)
{
    if (std::equal(now.begin(), now.end(), w.bytes.begin(), w.bytes.end())) return Standing::InPlace;
    if (isHeaderStamp(w)) return mergedStamp(w, now) == std::vector<uint8_t>(now.begin(), now.end()) ? Standing::InPlace : Standing::Replaced;
    if (!w.checked) return Standing::Replaced;
    if (w.replaced.size() != w.bytes.size()) return crc32(now.data(), now.size()) == w.before ? Standing::Replaced : Standing::Changed;
    // Cut short: every sector holds our bytes or the bytes they replaced.
    // Anything else is another program's.
    const bool ours = everySector(w, [&](size_t from, size_t to) {
        return sameBytes(now, w.bytes, from, to) || sameBytes(now, w.replaced, from, to);
    });
    return ours ? Standing::Replaced : Standing::Changed;
}

// Writes `w` where it stands Replaced (the header's stamp merged with what
// another program put there).
void writeOver(const JournalWrite& w, OsFile& file, std::span<const uint8_t> now)
{
    if (isHeaderStamp(w)) file.writeAt(w.offset, mergedStamp(w, now));
    else file.writeAt(w.offset, w.bytes);
}

// Takes back what a voided update had already written in place: each write
// that is wholly ours is given its replaced bytes again. The header's stamp
// stays (another program may have counted its own record with it); a write
// another program changed since is left to it.
void takeBack(const std::vector<JournalWrite>& writes, OsFile& table, OsFile* index, std::vector<uint8_t>& now)
{
    for (auto it = writes.rbegin(); it != writes.rend(); ++it) {
        const JournalWrite& w = *it;
        OsFile* f = w.target == 0 ? &table : index;
        if (!f || isHeaderStamp(w) || w.replaced.size() != w.bytes.size()) continue;
        now.resize(w.bytes.size());
        const size_t got = f->readAt(w.offset, now);
        std::fill(now.begin() + std::ptrdiff_t(got), now.end(), uint8_t(0));
        if (now != w.replaced && now == w.bytes) f->writeAt(w.offset, std::span<const uint8_t>(w.replaced).first(got));
    }
}

std::string describe(const JournalWrite& w)
{
    return std::string(w.target == 0 ? "table" : "index") + " bytes " + std::to_string(w.offset) + "-" +
           std::to_string(w.offset + w.bytes.size() - 1);
}

void reportKept(const OsFile& table, const JournalRecordHeader& r, const std::vector<const JournalWrite*>& kept,
                bool wholeUpdate)
{
    g_kept += kept.size();
    std::string line = table.name() + ": recovery kept another program's later change: ";
    line += wholeUpdate ? "an unfinished update (never confirmed) of " : "an update of ";
    line += localTime(r.time) + (wholeUpdate ? " was left out because of " : " was not written again over ");
    for (size_t i = 0; i < kept.size() && i < 4; ++i) line += (i ? ", " : "") + describe(*kept[i]);
    if (kept.size() > 4) line += " and " + std::to_string(kept.size() - 4) + " more";
    report(line);
}

// The journal of earlier releases: one update at a time, cleared after it.
constexpr uint8_t kEarlierMagic[4] = {'Q', 'Z', 'J', '1'};
constexpr size_t kEarlierHeader = 32;

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

uint64_t randomGeneration()
{
    std::random_device device;
    return (uint64_t(device()) << 32) | device();
}

// After a restart the files may have lost what was written in place but
// not yet synced; within one boot the kernel still holds it.
bool sameBoot(const BootId& boot)
{
    static const BootId unknown {};
    return currentBootId() != unknown && boot == currentBootId();
}

bool earlierFormat(std::span<const uint8_t> block)
{
    return block.size() >= kEarlierHeader && std::memcmp(block.data(), kEarlierMagic, 4) == 0 &&
           crc32(block.data(), 20) == bytes::le32(block.data() + 20);
}

// In the order given; nothing is synced here. Without an index file (it
// was deleted, to be built again from the records) only the table's part
// is written.
void apply(const std::vector<JournalWrite>& writes, OsFile& table, OsFile* index)
{
    for (const JournalWrite& w : writes) {
        if (w.target == 0) table.writeAt(w.offset, w.bytes);
        else if (index) index->writeAt(w.offset, w.bytes);
    }
}

// One journalled update, as read back.
struct JournalUpdate {
    JournalRecordHeader header;
    std::vector<JournalWrite> writes;
};

OsFile* fileOf(const JournalWrite& w, OsFile& table, OsFile* index) { return w.target == 0 ? &table : index; }

void syncFiles(OsFile& table, OsFile* index)
{
    table.sync();
    if (index) index->sync();
}

// The index's change counter (bytes 8-11, big-endian), which every update
// bumps: it only tells readers to read afresh, so any value that moves
// serves, and another program's bump is no change of theirs to keep.
bool isChangeCounter(const JournalWrite& w) { return w.target == 1 && w.offset == 8 && w.bytes.size() == 4; }

// The end marker an append writes after its record. Once the header counts
// a record in its place (ours or another program's), it is no longer ours
// to write.
bool isEndMarker(const JournalWrite& w) { return w.target == 0 && w.bytes.size() == 1 && w.bytes[0] == 0x1A; }

// Every version of the place of `all[i]` that our updates left there, from
// before the first of them that touched it to after the last: just before
// it, the bytes it replaced; earlier ones by taking back the writes before
// it, later ones by making those after it.
std::vector<std::vector<uint8_t>> versionsOf(const std::vector<const JournalWrite*>& all, size_t i)
{
    const JournalWrite& w = *all[i];
    const uint64_t a = w.offset, b = w.offset + w.bytes.size();
    auto overlay = [&](std::vector<uint8_t>& state, const JournalWrite& x, const std::vector<uint8_t>& from) {
        const uint64_t lo = std::max(a, x.offset), hi = std::min(b, x.offset + x.bytes.size());
        if (x.target != w.target || lo >= hi || from.size() != x.bytes.size()) return false;
        std::copy(from.begin() + std::ptrdiff_t(lo - x.offset), from.begin() + std::ptrdiff_t(hi - x.offset),
                  state.begin() + std::ptrdiff_t(lo - a));
        return true;
    };
    std::vector<std::vector<uint8_t>> versions{w.replaced};
    std::vector<uint8_t> state = w.replaced;
    for (size_t j = i; j-- > 0;)
        if (overlay(state, *all[j], all[j]->replaced)) versions.push_back(state);
    state = w.replaced;
    for (size_t j = i; j < all.size(); ++j)
        if (overlay(state, *all[j], all[j]->bytes)) versions.push_back(state);
    return versions;
}

// After a restart: whether what the disk kept at `all[i]`'s place (`found`)
// is ours. A disk may keep any of the sectors of the writes since the last
// sync, of any of our updates: every sector must hold one of the versions
// our updates left there, in whatever mix.
bool keptByUs(const std::vector<const JournalWrite*>& all, size_t i, std::span<const uint8_t> found)
{
    const JournalWrite& w = *all[i];
    if (!w.checked || isHeaderStamp(w) || isChangeCounter(w)) return true;
    if (w.replaced.size() != w.bytes.size()) {
        // Earlier layout: the CRC of the whole, or a later update's bytes.
        if (std::equal(found.begin(), found.end(), w.bytes.begin(), w.bytes.end()) || crc32(found.data(), found.size()) == w.before)
            return true;
        for (size_t j = i + 1; j < all.size(); ++j) {
            const JournalWrite& x = *all[j];
            if (x.target == w.target && x.offset <= w.offset && w.offset + w.bytes.size() <= x.offset + x.bytes.size() &&
                std::equal(found.begin(), found.end(), x.bytes.begin() + std::ptrdiff_t(w.offset - x.offset)))
                return true;
        }
        return false;
    }
    const auto versions = versionsOf(all, i);
    return everySector(w, [&](size_t from, size_t to) {
        return std::any_of(versions.begin(), versions.end(), [&](const std::vector<uint8_t>& v) { return sameBytes(found, v, from, to); });
    });
}

// Where the records the table's header counts now end.
uint64_t countedEnd(OsFile& table)
{
    uint8_t h[12] = {};
    if (table.readAt(0, h) < sizeof h) return 0;
    return bytes::le16(h + 8) + uint64_t(bytes::le32(h + 4)) * bytes::le16(h + 10);
}

}  // namespace

uint64_t journalReplays() { return g_replays.load(); }
uint64_t journalKeptChanges() { return g_kept.load(); }
uint64_t journalDamagedRecords() { return g_damaged.load(); }

void reportRecovery(const std::string& line) { report(line); }

void setRecoveryReporter(std::function<void(const std::string&)> reporter)
{
    std::lock_guard<std::mutex> lock(g_reporterMutex);
    g_reporter = std::move(reporter);
}

std::filesystem::path Journal::pathFor(const std::filesystem::path& dbfPath)
{
    std::filesystem::path p = dbfPath;
    p += ".qzj";
    return p;
}

void Journal::createEmpty(const std::filesystem::path& path)
{
    // Written once with zeros, so that a commit overwrites blocks the file
    // already has and its sync need not wait for the file system's own
    // journal.
    std::vector<uint8_t> bytes(kCapacity);
    const auto header = JournalHeader{randomGeneration()}.serialize();
    std::copy(header.begin(), header.end(), bytes.begin());
    OsFile file = OsFile::createOrTruncate(path);
    file.writeAt(0, bytes);
    file.sync();
    syncDirectoryOf(path);
}

bool Journal::openExisting()
{
    if (file_.isOpen()) return true;
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) return false;
    try {
        file_ = OsFile::open(path_, true, kFileNotFound);
    } catch (const XbaseError&) {
        return false;
    }
    return file_.writable();
}

OsFile* Journal::openOrCreate()
{
    if (room_ >= kCapacity && file_.isOpen()) return &file_;
    if (!openExisting()) {
        if (cannotCreate_) return nullptr;
        try {
            createEmpty(path_);
            file_ = OsFile::open(path_, true, kFileNotFound);
        } catch (const XbaseError&) {
            // A folder where new files cannot be made (or a journal that
            // cannot be written): the table works without one.
            cannotCreate_ = true;
            return nullptr;
        }
    }
    // A journal of an earlier release is shorter: it gets the same zeros.
    room_ = file_.size();
    if (room_ < kCapacity) {
        file_.writeAt(room_, std::vector<uint8_t>(kCapacity - room_));
        file_.sync();
        room_ = kCapacity;
    }
    return &file_;
}

void Journal::writeHeader(uint64_t generation) { file_.writeAt(0, JournalHeader{generation}.serialize()); }

void Journal::restart(uint64_t generation)
{
    tail_.emplace();
    tail_->generation = generation;
}

void Journal::scanOn()
{
    Tail& t = *tail_;
    std::array<uint8_t, JournalRecordHeader::kSize> block {};
    while (file_.readAt(t.end, block) == block.size()) {
        const auto r = JournalRecordHeader::parse(block);
        if (!r || r->generation != t.generation || r->seq != t.nextSeq) return;
        if (r->bodySize > std::max(room_, file_.size()) - t.end - block.size()) return;
        t.lastOffset = t.end;
        t.last = r;
        if (t.firstTime == 0) t.firstTime = r->time;
        t.end += r->recordSize();
        ++t.nextSeq;
    }
}

Journal::Found Journal::refresh()
{
    if (!openExisting()) return Found::Nothing;
    // Without a record known, the header and the first record's place are
    // read at once: an empty journal costs one read.
    const bool lastKnown = tail_ && tail_->last;
    constexpr size_t withFirst = JournalHeader::kRecordsStart + JournalRecordHeader::kSize;
    buffer_.resize(lastKnown ? JournalHeader::kSize : withFirst);
    buffer_.resize(file_.readAt(0, buffer_));
    if (earlierFormat(buffer_)) return Found::Earlier;
    const auto header = JournalHeader::parse(buffer_);
    if (!header) {
        tail_.reset();
        return Found::Nothing;
    }
    if (!tail_ || tail_->generation != header->generation) restart(header->generation);
    Tail& t = *tail_;
    if (!t.last) {
        if (buffer_.size() == withFirst) {
            const auto first = JournalRecordHeader::parse(std::span<const uint8_t>(buffer_).subspan(JournalHeader::kRecordsStart));
            if (!first || first->generation != t.generation || first->seq != 1) return Found::Current;
        }
        scanOn();
        return Found::Current;
    }
    // The last record as it is now (its writer marks it when in place), and
    // the place after it, where others may have appended, in one read.
    buffer_.resize(t.end - t.lastOffset + JournalRecordHeader::kSize);
    buffer_.resize(file_.readAt(t.lastOffset, buffer_));
    const auto again = JournalRecordHeader::parse(buffer_);
    if (!again || again->generation != t.generation || again->seq != t.last->seq) {
        // Voided by another process's recovery: read the journal afresh.
        restart(t.generation);
        scanOn();
        return Found::Current;
    }
    t.last = again;
    const size_t after = size_t(t.end - t.lastOffset);
    if (buffer_.size() < after + JournalRecordHeader::kSize) return Found::Current;
    const auto next = JournalRecordHeader::parse(std::span<const uint8_t>(buffer_).subspan(after));
    if (next && next->generation == t.generation && next->seq == t.nextSeq) scanOn();
    return Found::Current;
}

void Journal::empty(OsFile& table, OsFile* index)
{
    syncFiles(table, index);
    const uint64_t generation = tail_ ? tail_->generation + 1 : randomGeneration();
    writeHeader(generation);
    file_.sync();
    restart(generation);
}

bool Journal::recoverEarlier(OsFile& table, OsFile* index)
{
    uint8_t h[kEarlierHeader] = {};
    file_.readAt(0, h);
    const uint64_t size = bytes::le64(h + 8);
    const bool complete = size <= file_.size() - kEarlierHeader;
    std::vector<uint8_t> body(complete ? size : 0);
    std::optional<std::vector<JournalWrite>> writes;
    if (complete && file_.readAt(kEarlierHeader, body) == size && crc32(body.data(), body.size()) == bytes::le32(h + 16))
        writes = decodeJournalBody(body, bytes::le32(h + 4), 2);
    if (writes) {
        apply(*writes, table, index);
        ++g_replays;
    }
    tail_.reset();
    empty(table, index);
    return writes.has_value();
}

bool Journal::replayAll(OsFile& table, OsFile* index)
{
    // Every record of the generation, in order, up to the first that does
    // not check out: that one was never confirmed, nor anything after it.
    const uint64_t generation = tail_->generation;
    restart(generation);
    const uint64_t size = file_.size();
    uint64_t pos = JournalHeader::kRecordsStart;
    uint64_t seq = 1;
    std::vector<JournalUpdate> updates;
    std::array<uint8_t, JournalRecordHeader::kSize> block {};
    // A record whose body does not check out ends the journal when nothing
    // follows it (it was never confirmed). Followed by records that check
    // out, it was damaged after it was confirmed: a later update is replayed
    // only where it touches none of its bytes (nor those of a later update
    // left out for that reason), and the rest is reported.
    std::optional<JournalRecordHeader> damaged;
    std::vector<JournalWrite> damagedWrites;   // its places, where they can still be read
    bool damagedPlacesKnown = false;
    size_t leftOut = 0;
    // (Not through the index's change counter: see isChangeCounter.)
    auto dependsOnDamage = [&](const std::vector<JournalWrite>& writes) {
        if (!damagedPlacesKnown) return true;
        for (const JournalWrite& w : writes)
            for (const JournalWrite& d : damagedWrites)
                if (!isChangeCounter(w) && !isChangeCounter(d) && w.target == d.target && w.offset < d.offset + d.bytes.size() &&
                    d.offset < w.offset + w.bytes.size())
                    return true;
        return false;
    };
    while (file_.readAt(pos, block) == block.size()) {
        const auto r = JournalRecordHeader::parse(block);
        if (!r || r->generation != generation || r->seq != seq || r->bodySize > size - pos - block.size()) break;
        buffer_.resize(r->bodySize);
        const bool readable = file_.readAt(pos + block.size(), buffer_) == buffer_.size();
        auto writes = decodeJournalBody(buffer_, r->count, r->version);
        if (!readable || crc32(buffer_.data(), buffer_.size()) != r->bodyCrc || !writes) {
            if (!damaged) {
                damaged = r;
                damagedPlacesKnown = writes.has_value();
                if (writes) damagedWrites = std::move(*writes);
            }
            pos += r->recordSize();
            ++seq;
            continue;
        }
        if (damaged && dependsOnDamage(*writes)) {
            ++leftOut;
            damagedWrites.insert(damagedWrites.end(), writes->begin(), writes->end());
            pos += r->recordSize();
            ++seq;
            continue;
        }
        if (r->takeBack) {
            // Reported as failed (always the last record): taken back.
            std::vector<uint8_t> now;
            takeBack(*writes, table, index, now);
            break;
        }
        updates.push_back(JournalUpdate{*r, std::move(*writes)});
        pos += r->recordSize();
        ++seq;
    }
    if (damaged && seq > damaged->seq + 1) {
        report(table.name() + ": the journal's update of " + localTime(damaged->time) +
               " is damaged and was not written again" +
               (leftOut ? "; neither were " + std::to_string(leftOut) + " later update(s) that touch the same bytes" : std::string()));
        ++g_damaged;
    }
    // What reached the files before the restart is not known: each write is
    // judged against what the disk kept (all read before anything is
    // written). Where that is ours, in any mix of our versions, every write
    // is made again in order, so each place ends as the last update left
    // it. Anything else is another program's later change: kept, and none
    // of our writes goes over it. Past the records the table counts now
    // there is no one's record (at most another program's end marker), so
    // ours are written there; an end marker of ours that a counted record
    // now covers is left to it.
    const uint64_t recordsEnd = countedEnd(table);
    std::vector<const JournalWrite*> all;
    std::vector<size_t> updateOf;
    for (size_t u = 0; u < updates.size(); ++u)
        for (const JournalWrite& w : updates[u].writes) {
            all.push_back(&w);
            updateOf.push_back(u);
        }
    std::vector<std::vector<uint8_t>> found(all.size());
    for (size_t i = 0; i < all.size(); ++i)
        if (OsFile* f = fileOf(*all[i], table, index)) readCurrent(*all[i], *f, found[i]);
    enum class Fate { Write, Skip, Kept };
    std::vector<Fate> fate(all.size(), Fate::Write);
    struct Range {
        uint8_t target;
        uint64_t from, to;
    };
    std::vector<Range> foreign;
    for (size_t i = 0; i < all.size(); ++i) {
        const JournalWrite& w = *all[i];
        if (!fileOf(w, table, index) || (isEndMarker(w) && w.offset < recordsEnd)) fate[i] = Fate::Skip;
        else if (!(w.target == 0 && w.offset >= recordsEnd) && !keptByUs(all, i, found[i])) {
            fate[i] = Fate::Kept;
            foreign.push_back(Range{w.target, w.offset, w.offset + w.bytes.size()});
        }
    }
    givenUp_.clear();
    std::vector<uint8_t> now;
    for (size_t i = 0; i < all.size(); ++i) {
        const JournalWrite& w = *all[i];
        if (fate[i] != Fate::Write) continue;
        OsFile& f = *fileOf(w, table, index);
        if (isHeaderStamp(w)) {
            readCurrent(w, f, now);
            writeOver(w, f, now);
            continue;
        }
        if (isChangeCounter(w)) {
            readCurrent(w, f, now);
            if (now != w.bytes) {
                uint8_t next[4];
                bytes::putBe32(next, bytes::be32(now.data()) + 1);
                f.writeAt(w.offset, next);
            }
            continue;
        }
        // The parts outside every range another program changed.
        uint64_t at = w.offset;
        const uint64_t end = w.offset + w.bytes.size();
        while (at < end) {
            uint64_t stop = end, skipTo = at;
            for (const Range& r : foreign)
                if (r.target == w.target && r.to > at && r.from < stop) {
                    if (r.from <= at) skipTo = std::max(skipTo, r.to);
                    else stop = r.from;
                }
            if (skipTo > at) {
                at = skipTo;
                continue;
            }
            f.writeAt(at, std::span<const uint8_t>(w.bytes).subspan(size_t(at - w.offset), size_t(stop - at)));
            at = stop;
        }
    }
    std::vector<const JournalWrite*> kept;
    for (size_t u = 0; u < updates.size(); ++u) {
        kept.clear();
        for (size_t i = 0; i < all.size(); ++i)
            if (updateOf[i] == u && fate[i] == Fate::Kept) {
                kept.push_back(all[i]);
                if (all[i]->target == 0) givenUp_.push_back(GivenUpWrite{all[i]->offset, all[i]->bytes});
            }
        if (!kept.empty()) reportKept(table, updates[u].header, kept, false);
    }
    if (!updates.empty()) ++g_replays;
    // Make all of it durable now, so that no later open writes it again.
    empty(table, index);
    return !updates.empty();
}

void Journal::voidRecord(uint64_t recordOffset)
{
    static const uint8_t zeros[4] = {};
    file_.writeAt(recordOffset, zeros);
    file_.sync();
    restart(tail_->generation);
    scanOn();
}

bool Journal::finishLast(OsFile& table, OsFile* index)
{
    Tail& t = *tail_;
    const JournalRecordHeader r = *t.last;
    buffer_.resize(r.bodySize);
    std::optional<std::vector<JournalWrite>> writes;
    if (file_.readAt(t.lastOffset + JournalRecordHeader::kSize, buffer_) == buffer_.size() &&
        crc32(buffer_.data(), buffer_.size()) == r.bodyCrc)
        writes = decodeJournalBody(buffer_, r.count, r.version);
    if (!writes) {
        // Cut short while it was written: never confirmed, never in place.
        // Voided, so that the next record takes its place.
        voidRecord(t.lastOffset);
        return false;
    }
    std::vector<uint8_t> now;
    if (r.takeBack) {
        // Its writer reported it as failed: what reached the files goes back.
        takeBack(*writes, table, index, now);
        voidRecord(t.lastOffset);
        return true;
    }
    // Never confirmed either (its writer died before it was in place): it
    // is made whole, or not at all where another program changed any of
    // its bytes since it was journalled.
    std::vector<const JournalWrite*> kept;
    std::vector<std::pair<const JournalWrite*, std::vector<uint8_t>>> due;
    const uint64_t recordsEnd = countedEnd(table);
    for (const JournalWrite& w : *writes) {
        OsFile* f = fileOf(w, table, index);
        if (!f || (isEndMarker(w) && w.offset < recordsEnd)) continue;
        readCurrent(w, *f, now);
        const Standing st = standing(w, now);
        if (st == Standing::Replaced) due.emplace_back(&w, now);
        else if (st == Standing::Changed) kept.push_back(&w);
    }
    if (!kept.empty()) {
        // Nothing of it may remain: what its writer had already put in
        // place (an index key naming the slot another program's record
        // took, a batch's first records) is taken back before it is voided.
        reportKept(table, r, kept, true);
        takeBack(*writes, table, index, now);
        voidRecord(t.lastOffset);
        return false;
    }
    for (const auto& [w, before] : due) writeOver(*w, *fileOf(*w, table, index), before);
    markInPlace(t.lastOffset);
    t.last->applied = true;
    ++g_replays;
    return true;
}

void Journal::markTakeBack(uint64_t recordOffset)
{
    static const uint8_t two = 2;
    file_.writeAt(recordOffset + JournalRecordHeader::kAppliedOffset, std::span<const uint8_t>(&two, 1));
    file_.sync();
    restart(tail_->generation);
    scanOn();
}

void Journal::markInPlace(uint64_t recordOffset)
{
    static const uint8_t one = 1;
    file_.writeAt(recordOffset + JournalRecordHeader::kAppliedOffset, std::span<const uint8_t>(&one, 1));
}

bool Journal::pending()
{
    switch (refresh()) {
    case Found::Earlier: return true;
    case Found::Nothing: return false;
    case Found::Current: break;
    }
    const auto& last = tail_->last;
    return last && (!sameBoot(last->boot) || !last->applied);
}

bool Journal::recover(OsFile& table, OsFile* index)
{
    switch (refresh()) {
    case Found::Earlier: return recoverEarlier(table, index);
    case Found::Nothing: return false;
    case Found::Current: break;
    }
    const auto& last = tail_->last;
    // Only the last record can be unfinished: every writer finishes its own
    // before it lets go of the locks, and finishes a dead writer's first.
    if (!last) return false;
    if (!sameBoot(last->boot)) return replayAll(table, index);
    if (!last->applied) return finishLast(table, index);
    return false;
}

void Journal::checkpoint(OsFile& table, OsFile* index)
{
    if (!openExisting()) return;
    // Leaves the journal as now read: no header (empty() writes one), or its records.
    recover(table, index);
    if (tail_ && !tail_->last) return;
    empty(table, index);
}

void Journal::makeRoomFor(uint64_t recordSize, OsFile& table, OsFile* index)
{
    Tail& t = *tail_;
    // Another process may have made the file larger.
    if (t.end + recordSize > room_) room_ = file_.size();
    if (t.last && (t.end + recordSize > room_ || nowNs() - t.firstTime > kMaxAgeNs)) {
        // A checkpoint: the updates so far are synced in place, and the next
        // record starts a new generation, which voids the older ones. The
        // new header is synced together with that record.
        syncFiles(table, index);
        const uint64_t generation = t.generation + 1;
        writeHeader(generation);
        restart(generation);
    }
    const uint64_t end = tail_->end + recordSize;
    if (end > room_) {
        const uint64_t needed = (end + 65535) / 65536 * 65536;
        file_.writeAt(room_, std::vector<uint8_t>(needed - room_));
        room_ = needed;
    }
}

void Journal::readReplaced(std::vector<JournalWrite>& writes, OsFile& table, OsFile* index)
{
    replaced_.resize(writes.size());
    replacedInFile_.resize(writes.size());
    for (size_t k = 0; k < writes.size(); ++k) {
        JournalWrite& w = writes[k];
        replacedInFile_[k] = readCurrent(w, *fileOf(w, table, index), replaced_[k]);
        w.before = crc32(replaced_[k].data(), replaced_[k].size());
        w.replaced = replaced_[k];
        w.checked = true;
    }
}

std::exception_ptr Journal::writeInPlace(const std::vector<JournalWrite>& writes, OsFile& table, OsFile* index,
                                         bool& undone)
{
    size_t done = 0;
    std::exception_ptr failure;
    try {
        for (; done < writes.size(); ++done) fileOf(writes[done], table, index)->writeAt(writes[done].offset, writes[done].bytes);
        return nullptr;
    } catch (const XbaseError&) {
        failure = std::current_exception();
    }
    // The update is reported as failed, so it must never be applied later:
    // what reached the files is put back (bytes past the former end of a
    // file stay, uncounted and unreferenced).
    undone = false;
    try {
        for (size_t k = std::min(done + 1, writes.size()); k-- > 0;)
            fileOf(writes[k], table, index)
                ->writeAt(writes[k].offset, std::span<const uint8_t>(replaced_[k]).first(replacedInFile_[k]));
        undone = true;
    } catch (const XbaseError&) {
    }
    return failure;
}

void Journal::commit(std::vector<JournalWrite>& writes, OsFile& table, OsFile* index)
{
    for (const JournalWrite& w : writes)
        if (w.target == 1 && !index) throw XbaseError(kIoError, "journal names an index file that is not open");
    // What each write replaces: its CRC goes into the journal, so that no
    // recovery writes over another program's later change, and the bytes
    // undo the update should writing it in place fail.
    readReplaced(writes, table, index);
    OsFile* j = openOrCreate();
    bool undone = false;
    if (!j) {
        // No journal can be made beside the table: each update is written
        // in place and synced, table then index.
        if (auto failure = writeInPlace(writes, table, index, undone)) std::rethrow_exception(failure);
        syncFiles(table, index);
        return;
    }
    // The caller's recover() has just read the journal under the same locks;
    // only a journal it found missing (and openOrCreate made) is read here.
    if (!tail_) refresh();
    if (!tail_) {
        // No journal header to be read: a new generation, whose header is
        // synced together with its first record.
        const uint64_t generation = randomGeneration();
        writeHeader(generation);
        restart(generation);
    }

    JournalRecordHeader r;
    r.count = uint32_t(writes.size());
    r.bodySize = journalBodySize(writes);
    makeRoomFor(r.recordSize(), table, index);
    Tail& t = *tail_;
    r.generation = t.generation;
    r.seq = t.nextSeq;
    r.time = nowNs();
    r.boot = currentBootId();
    buffer_.resize(r.recordSize());
    encodeJournalBody(writes, buffer_.data() + JournalRecordHeader::kSize);
    r.bodyCrc = crc32(buffer_.data() + JournalRecordHeader::kSize, r.bodySize);
    const auto header = r.serialize();
    std::copy(header.begin(), header.end(), buffer_.begin());
    j->writeAt(t.end, buffer_);
    j->sync();   // the update is committed

    if (auto failure = writeInPlace(writes, table, index, undone)) {
        // Undone: the record is voided, so that no recovery applies it. Not
        // undone (the disk still refuses writes): it is marked to be taken
        // back by the next recovery, never finished, so a repeated Post
        // adds its record once.
        try {
            if (undone) voidRecord(t.end);
            else markTakeBack(t.end);
        } catch (const XbaseError&) {
        }
        std::rethrow_exception(failure);
    }
    markInPlace(t.end);
    r.applied = true;
    t.lastOffset = t.end;
    t.last = r;
    if (t.firstTime == 0) t.firstTime = r.time;
    t.end += r.recordSize();
    ++t.nextSeq;
    // Where one boot cannot be told from the next, a later open could not
    // tell whether the kernel still holds what was written in place: sync
    // it now, as the journal would otherwise be needed for every update.
    if (currentBootId() == BootId {}) checkpoint(table, index);
}

}  // namespace xbase
