#pragma once
// The engine's table: a DBF file and its structural CDX index on disk.
#include <functional>
#include <memory>
#include <optional>
#include <set>

#include "data/storage/Checkpointer.h"
#include "data/storage/TableState.h"
#include "data/storage/XbaseTable.h"

namespace xbase {

class TableWriteLocks;

class XbaseTableImpl : public XbaseTable {
public:
    XbaseTableImpl(const std::filesystem::path& dbfPath, OpenMode mode, bool readOnly);
    ~XbaseTableImpl() override;

    const std::vector<FieldInfo>& fields() const override { return state_->header.fields; }
    uint32_t recordLength() const override { return state_->header.recordLength; }
    uint32_t recordCount() override { return state_->currentRecordCount(); }
    std::vector<uint8_t> blankRecord() const override;
    void readRecord(uint32_t recno, std::span<uint8_t> image) override;
    void lockRecord(uint32_t recno) override;
    void unlockRecord(uint32_t recno) override;
    void writeRecord(uint32_t recno, std::span<const uint8_t> image) override;
    uint32_t appendRecord(std::span<const uint8_t> image) override;
    void beginBatch() override;
    void commitBatch() override;
    void abortBatch() override;
    bool inBatch() const override { return state_->batchOpen; }
    bool hasIndex() const override { return state_->cdx.has_value(); }
    std::vector<std::string> tagNames() const override;
    std::unique_ptr<TagCursor> tag(std::string_view name) override;
    void createTag(std::string_view name, std::string_view expression, bool unique, bool descending) override;
    uint32_t indexPageSize() const override { return 512; }
    // Why the index cannot be trusted (IndexCheck.cpp); empty when it looks sound.
    std::string indexDamage();

private:
    void openIndex(const std::filesystem::path& cdxPath);
    void checkWritable(std::span<const uint8_t> image) const;
    // Runs `update` holding the header lock and the index write lock, after
    // finishing any update a crashed writer left in the journal.
    void underWriteLocks(const std::function<void()>& update);
    // Journals and applies one record change with its index changes.
    void commitRecord(uint32_t recno, const std::vector<uint8_t>* oldImage, std::span<const uint8_t> image, bool append);
    // Lowest record other than `excluded` whose key is `key` (a full scan).
    std::optional<uint32_t> firstRecordWithKey(const KeyExpression& expression, const std::string& key, uint32_t excluded);
    void rebuildIndexFile(const std::string& tagName, const std::string& expression, bool unique);
    // After a recovery gave up records of ours whose slots another
    // program's appends took: their keys in the index are replaced by the
    // keys of the records that now hold those slots.
    void reindexGivenUpSlots();
    // Takes the shared flock back after an upgrade; when another process
    // holds the table exclusively for too long, makes this object unusable
    // and throws kFileInUse.
    void retakeShare();

    std::shared_ptr<TableState> state_;
    std::set<uint32_t> lockedRecords_;
    bool wrote_ = false;   // this table has updates in the journal, checkpointed when it closes
    std::unique_ptr<Checkpointer> checkpointer_;   // started by the first update
    std::unique_ptr<TableWriteLocks> batchLocks_;  // held while a batch is open
    void checkpointSoon();
};

}  // namespace xbase
