#include "data/storage/TableState.h"

#include <algorithm>
#include <cctype>

#include "data/storage/Bytes.h"
#include "data/storage/CdxTree.h"

namespace xbase {
namespace {

constexpr int kLockWaitMs = 5000;

std::string upper(std::string s)
{
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::filesystem::path findStructuralIndex(const std::filesystem::path& dbfPath)
{
    std::error_code ec;
    const std::string stem = upper(Utf8FromPath(dbfPath.stem()));
    for (const char* ext : {".CDX", ".cdx"}) {
        auto candidate = dbfPath;
        candidate.replace_extension(ext);
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
    }
    auto dir = dbfPath.parent_path();
    if (dir.empty()) dir = ".";
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const auto& p = it->path();
        if (upper(Utf8FromPath(p.extension())) == ".CDX" && upper(Utf8FromPath(p.stem())) == stem && it->is_regular_file(ec)) return p;
    }
    return {};
}

std::filesystem::path newIndexPathFor(const std::filesystem::path& dbfPath)
{
    auto p = dbfPath;
    const std::string ext = Utf8FromPath(dbfPath.extension());
    const bool lower = !ext.empty() && std::islower(static_cast<unsigned char>(ext.back()));
    p.replace_extension(lower ? ".cdx" : ".CDX");
    return p;
}

uint32_t TableState::currentRecordCount()
{
    checkUsable();
    if (shared()) {
        uint8_t b[8];
        dbf.readExact(0, b, kCorruptTable, "record count");
        const uint32_t count = bytes::le32(b + DbfHeader::kCountOffset);
        const uint64_t needed = uint64_t(header.headerLength) + uint64_t(count) * header.recordLength;
        // Tables only grow while shared, so the size is asked for only when
        // the count reaches past what is known to be there.
        if (needed > knownTableSize) {
            const uint64_t size = dbf.size();
            if (needed > size)
                throw XbaseError(kCorruptTable, dbfName() + ": record count " + std::to_string(count) + " needs " +
                                                    std::to_string(needed) + " bytes but the file has " + std::to_string(size));
            knownTableSize = size;
        }
        std::copy(b + 1, b + 8, headerStamp);
        header.recordCount = count;
    }
    return header.recordCount;
}

uint32_t TableState::indexChangeCounter() const
{
    if (!cdx) return 0;
    uint8_t b[4];
    cdx->readExact(8, b, kCorruptIndex, "index header");
    return bytes::be32(b);
}

uint32_t TableState::refreshIndexCache()
{
    const uint32_t counter = indexChangeCounter();
    indexCache.restart(counter, cdx->size(), tags.size());   // other writers may leave the counter alone
    return counter;
}

uint32_t TableState::tagRoot(size_t tagIndex)
{
    uint32_t& root = indexCache.roots.at(tagIndex);
    if (root != 0) return root;
    const TagInfo& tag = tags.at(tagIndex);
    uint8_t b[4];
    cdx->readExact(tag.headerOffset, b, kCorruptIndex, "tag header");
    const uint32_t onDisk = bytes::le32(b);
    if (onDisk % kCdxPageSize != 0 || onDisk < kCdxHeaderSize || uint64_t(onDisk) + kCdxPageSize > indexCache.fileSize)
        throw XbaseError(kCorruptIndex, cdxName() + ": tag " + tag.name + " root pointer " + std::to_string(onDisk) + " is outside the file");
    root = onDisk;
    return root;
}

void TableState::loadTags()
{
    tags.clear();
    indexCache.drop();
    if (!cdx) return;
    const std::string name = cdxName();
    const uint64_t size = cdx->size();
    if (size < kCdxHeaderSize + kCdxPageSize)
        throw XbaseError(kCorruptIndex, name + ": index file too short (" + std::to_string(size) + " bytes)");
    CdxHeader dir;
    cdx->readExact(0, dir.raw, kCorruptIndex, "index header");
    dir.validate(name, 0, size);
    if (dir.keyLength() > 240) throw XbaseError(kCorruptIndex, name + ": invalid tag directory key length");
    FilePageStore store(*cdx);
    CdxTree directory(store, CdxKeyFormat{dir.keyLength(), 0x20}, dir.root());
    auto pos = directory.first();
    size_t guard = 0;
    while (pos) {
        if (++guard > 10000) throw XbaseError(kCorruptIndex, name + ": too many tags in the tag directory");
        const CdxEntry& e = pos->entry();
        TagInfo tag;
        std::string tagName = e.key;
        while (!tagName.empty() && (tagName.back() == ' ' || tagName.back() == '\0')) tagName.pop_back();
        tag.name = upper(tagName);
        tag.headerOffset = e.recno;
        if (tag.headerOffset % kCdxPageSize != 0 || tag.headerOffset < kCdxHeaderSize ||
            uint64_t(tag.headerOffset) + kCdxHeaderSize > size)
            throw XbaseError(kCorruptIndex, name + ": tag " + tag.name + " header offset " + std::to_string(tag.headerOffset) + " is outside the file");
        cdx->readExact(tag.headerOffset, tag.header.raw, kCorruptIndex, "tag header");
        tag.header.validate(name, tag.headerOffset, size);
        tag.expression = KeyExpression::parse(tag.header.keyExpression(), header.fields);
        tag.format.keyLength = tag.header.keyLength();
        tag.format.pad = tag.expression.padByte();
        if (!tag.expression.canEvaluate())
            tag.writeProblem = tag.expression.problem();
        else if (tag.expression.length() != tag.format.keyLength)
            tag.writeProblem = "key expression '" + tag.header.keyExpression() + "' gives " + std::to_string(tag.expression.length()) +
                               " bytes but the tag's keys have " + std::to_string(tag.format.keyLength);
        else if (tag.header.descending())
            tag.writeProblem = "descending tags are not maintained by this engine";
        else if (tag.header.hasFor())
            tag.writeProblem = "tags with a FOR clause are not maintained by this engine";
        if (!tag.writeProblem.empty()) tag.writeProblem = name + ": tag " + tag.name + ": " + tag.writeProblem;
        tags.push_back(std::move(tag));
        if (!directory.next(*pos)) break;
    }
}

void TableState::forgetUnwritten()
{
    indexCache.drop();
    knownTableSize = 0;
    uint8_t b[8];
    if (dbf.readAt(0, b) == sizeof b) {
        std::copy(b + 1, b + 8, headerStamp);
        header.recordCount = bytes::le32(b + DbfHeader::kCountOffset);
    }
}

void TableState::recoverIfPending()
{
    if (batchOpen || !dbf.writable() || (cdx && !cdx->writable())) return;
    if (!journal.pending()) return;
    indexCache.drop();
    if (!shared()) {
        journal.recover(dbf, cdx ? &*cdx : nullptr);
        return;
    }
    if (!dbf.lockRangeWithin(scheme.headerLock(), 1, OsFile::LockKind::Exclusive, kLockWaitMs)) return;
    bool indexLocked = false;
    try {
        if (cdx) {
            indexLocked = cdx->lockRangeWithin(locks::kIndexLockOffset, 1, OsFile::LockKind::Exclusive, kLockWaitMs);
            if (!indexLocked) throw XbaseError(kFileInUse, cdxName() + ": index is locked by another process (timed out)");
        }
        journal.recover(dbf, cdx ? &*cdx : nullptr);
    } catch (...) {
        if (indexLocked) cdx->unlockRange(locks::kIndexLockOffset, 1);
        dbf.unlockRange(scheme.headerLock(), 1);
        throw;
    }
    if (indexLocked) cdx->unlockRange(locks::kIndexLockOffset, 1);
    dbf.unlockRange(scheme.headerLock(), 1);
}

IndexReadLock::IndexReadLock(TableState& state) : state_(state)
{
    state_.checkUsable();
    // A batch holds the write lock (a read lock taken on the same handle
    // would replace it).
    if (!state_.shared() || !state_.cdx || state_.batchOpen) return;
    for (int attempt = 0;; ++attempt) {
        if (!state_.cdx->lockRangeWithin(locks::kIndexLockOffset, 1, OsFile::LockKind::Shared, kLockWaitMs))
            throw XbaseError(kFileInUse, state_.cdxName() + ": index is being updated by another process (timed out)");
        // Writers have their update in place before they let go of the
        // index, so one pending here was left by a writer that died (or
        // before the machine restarted): finish it.
        if (attempt > 0 || !state_.journal.pending()) break;
        state_.cdx->unlockRange(locks::kIndexLockOffset, 1);
        state_.recoverIfPending();
    }
    held_ = true;
}

IndexReadLock::~IndexReadLock()
{
    if (held_) state_.cdx->unlockRange(locks::kIndexLockOffset, 1);
}

}  // namespace xbase
