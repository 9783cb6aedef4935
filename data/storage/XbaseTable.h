#pragma once
// The storage engine under the table layer: one DBF file with its structural
// compound index (same base name, ".CDX"), read and written directly on disk.
// Knows nothing of the table layer's states; reports failures as XbaseError.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace xbase {

// Error numbers carried by XbaseError (the layer passes them on as its
// engine codes). Stable: tests and stored messages rely on them.
enum ErrorCode : int {
    kOk = 0,
    kIoError = 5001,          // read/write/sync failed
    kFileNotFound = 5002,     // table or index file missing
    kFileInUse = 5003,        // exclusive open refused / file held exclusively elsewhere
    kRecordLocked = 5004,     // record lock held by another process
    kCorruptTable = 5005,     // bad DBF header, field descriptors, record count
    kCorruptIndex = 5006,     // bad CDX header, page, pointer, loop
    kTagNotFound = 5007,      // no tag of that name in the structural index
    kBadExpression = 5008,    // tag expression the engine cannot evaluate (write refused)
    kReadOnly = 5009,         // write on a table opened read-only
    kBadRecordNumber = 5010,  // record number out of range
    kAppendLocked = 5011,     // could not get the append lock in time
    kNotFound = 5068,         // key not found / no current record (harmless after a seek)
};

class XbaseError : public std::runtime_error {
public:
    XbaseError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

// One field descriptor as stored in the table header.
struct FieldInfo {
    std::string name;       // as stored, upper case as written by xBase tools
    char type = 'C';        // 'C','D','N','L','F','M','I','B','G','T','Y','0', ...
    uint16_t width = 0;     // bytes in the record
    uint8_t decimals = 0;
    uint32_t offset = 0;    // from the start of the record image (byte 0 is the deletion flag)
};

enum class OpenMode { Shared, Exclusive };

// Recovery never writes an update from the journal over bytes another
// program changed after the update was journalled: it keeps the newer
// bytes and says so, one line per update it left (partly) alone, through
// this reporter. Without one (the default, or nullptr) the line goes to
// standard error. Process-wide; may be called from the table's checkpoint
// thread.
void setRecoveryReporter(std::function<void(const std::string&)> reporter);
// Passes a line to that reporter (or standard error): start-up says so
// when it rebuilds a damaged index.
void reportRecovery(const std::string& line);

// Why the structural index beside `dbfPath` cannot be trusted: it cannot be
// read (a damaged header, tag directory or tree, a walk that goes round in
// a loop), or it plainly does not belong to the table (the first and last
// records' keys do not lead back to them). Empty when it looks sound, when
// there is none, or when the table cannot be opened for other reasons.
// Cheap: a few pages and two records per tag.
std::string indexDamage(const std::filesystem::path& dbfPath);

// Walks one tag in key order. Positions are record numbers (1-based).
// In shared mode every call sees what other processes have written.
class TagCursor {
public:
    virtual ~TagCursor() = default;
    virtual std::string name() const = 0;        // upper case
    virtual std::string expression() const = 0;
    virtual uint16_t keyLength() const = 0;
    // Hard seek: the first record in key order whose key equals `key`
    // (the key is compared as given, blank-padded to the key length; trailing
    // blanks do not count). Leaves the cursor there; nullopt (and the cursor
    // at end of data) when there is none.
    virtual std::optional<uint32_t> seek(std::string_view key) = 0;
    virtual std::optional<uint32_t> first() = 0;
    virtual std::optional<uint32_t> last() = 0;
    virtual std::optional<uint32_t> next() = 0;   // nullopt at end
    virtual std::optional<uint32_t> prev() = 0;   // nullopt at beginning
};

class XbaseTable {
public:
    virtual ~XbaseTable() = default;

    // Opens `dbfPath` and, when it exists, its structural index. Exclusive
    // opens fail while another process has the table open, and the reverse.
    static std::unique_ptr<XbaseTable> open(const std::filesystem::path& dbfPath, OpenMode mode,
                                            bool readOnly);

    // Writes a new empty table (no records, no index) at `dbfPath`; fails when
    // the file exists. Version 0x03 (dBASE III / FoxPro 2.x layout) unless
    // another is given (0x30 adds the Visual FoxPro backlink). Field offsets
    // are computed from the widths; names are stored upper case.
    static void create(const std::filesystem::path& dbfPath, const std::vector<FieldInfo>& fields,
                       uint8_t version = 0x03);

    virtual const std::vector<FieldInfo>& fields() const = 0;
    virtual uint32_t recordLength() const = 0;   // including the deletion flag byte
    virtual uint32_t recordCount() = 0;          // as now on disk (other processes may append)
    virtual std::vector<uint8_t> blankRecord() const = 0;

    // Record images include the deletion flag at byte 0 ('*' = deleted).
    virtual void readRecord(uint32_t recno, std::span<uint8_t> image) = 0;
    static bool isDeleted(std::span<const uint8_t> image) { return !image.empty() && image[0] == '*'; }

    // Record locks, seen by other xBase tools (no-ops when opened exclusively).
    virtual void lockRecord(uint32_t recno) = 0;
    virtual void unlockRecord(uint32_t recno) = 0;

    // Writes keep every tag up to date and return only after the update is
    // on disk (synced in the table's journal) and written in place, where
    // other processes read it. A tag whose expression cannot be
    // evaluated makes every write fail with kBadExpression before anything
    // is written.
    virtual void writeRecord(uint32_t recno, std::span<const uint8_t> image) = 0;
    virtual uint32_t appendRecord(std::span<const uint8_t> image) = 0;

    // A batch: every write from beginBatch to commitBatch is committed with
    // one journal record and one sync, all of them or none. The write locks
    // are held from beginBatch on; until the commit this table (and its
    // cursors) sees the batch's writes and other processes see none of them.
    // abortBatch, a commitBatch that fails, or closing the table drops them
    // all, as does a crash before commitBatch returned.
    virtual void beginBatch() = 0;
    virtual void commitBatch() = 0;
    virtual void abortBatch() = 0;
    virtual bool inBatch() const = 0;

    virtual bool hasIndex() const = 0;
    virtual std::vector<std::string> tagNames() const = 0;
    virtual std::unique_ptr<TagCursor> tag(std::string_view name) = 0;   // kTagNotFound
    // Adds (or replaces) a tag in the structural index, creating the index
    // file when missing, built over every record.
    virtual void createTag(std::string_view name, std::string_view expression, bool unique,
                           bool descending) = 0;
    virtual uint32_t indexPageSize() const = 0;   // 512 when there is no index
};

}  // namespace xbase
