#pragma once
// The table access layer: one DBF table with its structural CDX index, a
// current record, an editing state, hard seeks through a tag, and named
// field reads and writes. Errors carry "<component name>: " before the text.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/values/DateTime.h"
#include "rtl/Exceptions.h"

namespace xbase { class XbaseTable; class TagCursor; }

class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

class EDbfDatabaseError : public EDatabaseError {
public:
    EDbfDatabaseError(const std::string& message, int errorCode, std::string componentName = {},
                      std::string tableName = {}, std::string databaseName = {});
    int ErrorCode() const { return errorCode_; }
    const std::string& ComponentName() const { return componentName_; }
    const std::string& TableName() const { return tableName_; }
    const std::string& DatabaseName() const { return databaseName_; }

private:
    int errorCode_;
    std::string componentName_, tableName_, databaseName_;
};

enum class TDataSetState { Inactive, Browsing, Editing, Inserting };
enum class TTableType { ttCDX, ttNTX, ttNative, ttDefault };
enum class TFieldType { ftUnknown, ftString, ftSmallint, ftInteger, ftFloat, ftCurrency, ftBoolean,
                        ftDate, ftTime, ftDateTime, ftMemo, ftBlob, ftBytes, ftAutoInc };

enum TIndexOption : unsigned { ixUnique = 1, ixDescending = 2, ixCaseInsensitive = 4, ixExpression = 8 };
using TIndexOptions = unsigned;

struct TDbfFieldDef {
    int FieldNo = 0;            // from 1
    std::string Name;           // as stored
    TFieldType Kind = TFieldType::ftUnknown;
    char StoredType = 'C';
    int Width = 0;
    int Decimals = 0;
    int Offset = 0;             // inside the record image
};

class TDbfTable {
public:
    // What bound controls are told about.
    enum class Change { Opened, Closed, RecordMoved, StateChanged, FieldChanged };
    using Listener = std::function<void(Change)>;
    // Called before Post and Seek so bound controls can hand in pending text.
    using UpdateRecordHook = std::function<void()>;

    explicit TDbfTable(std::string componentName);
    ~TDbfTable();
    TDbfTable(const TDbfTable&) = delete;
    TDbfTable& operator=(const TDbfTable&) = delete;

    const std::string& Name() const { return name_; }

    void SetTableName(const std::string& name);
    const std::string& TableName() const { return tableName_; }
    void SetTableType(TTableType type);
    TTableType TableType() const { return tableType_; }
    void SetDatabaseName(const std::string& folder);   // one trailing separator dropped
    const std::string& DatabaseName() const { return databaseName_; }
    void SetExclusive(bool exclusive);
    bool Exclusive() const { return exclusive_; }
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const { return readOnly_; }
    void SetIndexName(const std::string& tag);
    const std::string& IndexName() const { return indexName_; }

    void Open();
    void Close();
    void SetActive(bool active) { active ? Open() : Close(); }
    bool Active() const;
    TDataSetState State() const { return state_; }
    bool HasCurrentRecord() const;                     // false when no record is visible
    bool Eof() const;

    bool Seek(std::string_view key, bool hard);

    const TDbfFieldDef& GetField(std::string_view name) const;
    const std::vector<TDbfFieldDef>& Fields() const { return fields_; }
    std::string ReadText(std::string_view field) const;
    TDateTime ReadDate(std::string_view field) const;
    void WriteText(std::string_view field, std::string_view text);
    void WriteDate(std::string_view field, TDateTime value);
    void WriteInteger(std::string_view field, long long value);

    void Edit();
    void Append();
    void Insert();
    void Post();
    void Cancel();
    void CreateIndexTag(const std::string& tag, const std::string& expression, TIndexOptions options);

    // A batch: every Post from BeginBatch to CommitBatch is committed with
    // the others and one disk sync, all of them or none (a failure, Close or
    // a crash before CommitBatch returned leaves none). Until then other
    // processes see none of it and wait to write. CancelBatch drops it.
    void BeginBatch();
    void CommitBatch();
    void CancelBatch();

    uint32_t RecNo() const;                            // 0 when there is no current record
    bool Modified() const;                             // a field written since Edit/Append/Insert

    // Index page size of the table's options: taken from the index at each
    // open (512 without one); set only while closed.
    uint32_t IndexPageSize() const;
    void SetIndexPageSize(uint32_t size);

    int AddListener(Listener listener);
    void RemoveListener(int id);
    void SetUpdateRecordHook(UpdateRecordHook hook) { updateRecordHook_ = std::move(hook); }

private:
    // Implementation-defined; the layer may add members freely.
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string name_, tableName_, databaseName_, indexName_;
    TTableType tableType_ = TTableType::ttCDX;
    bool exclusive_ = false, readOnly_ = false;
    TDataSetState state_ = TDataSetState::Inactive;
    std::vector<TDbfFieldDef> fields_;
    UpdateRecordHook updateRecordHook_;
};

// Commits a batch at Commit(); left any other way (an exception on the way)
// it drops the batch.
class TDbfBatch {
public:
    explicit TDbfBatch(TDbfTable& table) : table_(table) { table_.BeginBatch(); }
    ~TDbfBatch();
    TDbfBatch(const TDbfBatch&) = delete;
    TDbfBatch& operator=(const TDbfBatch&) = delete;
    void Commit();

private:
    TDbfTable& table_;
    bool done_ = false;
};
