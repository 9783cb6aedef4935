#include "data/table/DbfTable.h"

#include "data/table/DbfTableImpl.h"

using dbftable::kMaxKeyLength;
using dbftable::RightTrimmed;

EDbfDatabaseError::EDbfDatabaseError(const std::string& message, int errorCode, std::string componentName,
                                     std::string tableName, std::string databaseName)
    : EDatabaseError(message),
      errorCode_(errorCode),
      componentName_(std::move(componentName)),
      tableName_(std::move(tableName)),
      databaseName_(std::move(databaseName)) {}

TDbfTable::TDbfTable(std::string componentName)
    : impl_(std::make_unique<Impl>(*this)), name_(std::move(componentName)) {}

TDbfTable::~TDbfTable() {
    try {
        Close();
    } catch (...) {
        // Nothing to report to while being destroyed.
    }
}

void TDbfTable::SetTableName(const std::string& name) {
    impl_->CheckClosed();
    tableName_ = name;
}

void TDbfTable::SetTableType(TTableType type) {
    impl_->CheckClosed();
    tableType_ = type;
}

void TDbfTable::SetDatabaseName(const std::string& folder) {
    impl_->CheckClosed();
    std::string path = folder;
    if (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    databaseName_ = path;
}

void TDbfTable::SetExclusive(bool exclusive) {
    impl_->CheckClosed(true);
    exclusive_ = exclusive;
}

void TDbfTable::SetReadOnly(bool readOnly) {
    impl_->CheckClosed(true);
    readOnly_ = readOnly;
}

void TDbfTable::SetIndexName(const std::string& tag) {
    if (!Active()) {
        indexName_ = tag;
        return;
    }
    const std::string previous = indexName_;
    indexName_ = tag;
    try {
        impl_->UseOrder(tag);
    } catch (...) {
        indexName_ = previous;
        throw;
    }
}

uint32_t TDbfTable::IndexPageSize() const { return impl_->indexPageSize; }

void TDbfTable::SetIndexPageSize(uint32_t size) {
    if (Active()) impl_->LayerError("Table must not be Active.");
    impl_->indexPageSize = size;
}

void TDbfTable::Open() {
    if (Active()) return;
    Impl& d = *impl_;
    try {
        d.table = d.OpenFile();
        d.blank = d.table->blankRecord();
        d.image = d.blank;
        d.indexPageSize = d.table->hasIndex() ? d.table->indexPageSize() : 512;
        d.BuildFields();
        d.UseOrder(indexName_);
        d.modified = d.appended = false;
        d.lockedRecNo = 0;
        d.GoFirst();
    } catch (...) {
        d.order.reset();
        d.orderKey.reset();
        d.table.reset();
        fields_.clear();
        d.StandNowhere();
        throw;
    }
    state_ = TDataSetState::Browsing;
    d.Notify(Change::Opened);
}

void TDbfTable::Close() {
    Impl& d = *impl_;
    if (!d.table) return;
    if (d.lockedRecNo != 0) {
        try {
            d.Unlock();
        } catch (const EDatabaseError&) {
            // Closing the file releases its locks anyway.
        }
    }
    d.order.reset();
    d.orderKey.reset();
    d.table.reset();
    fields_.clear();
    d.StandNowhere();
    d.eof = false;
    d.modified = d.appended = false;
    d.lockedRecNo = 0;
    state_ = TDataSetState::Inactive;
    d.Notify(Change::Closed);
}

bool TDbfTable::Active() const { return impl_->table != nullptr; }

bool TDbfTable::HasCurrentRecord() const {
    if (!Active()) return false;
    impl_->Settle();
    return impl_->Changing() || impl_->hasRecord;
}

bool TDbfTable::Eof() const { return !Active() || impl_->eof; }

uint32_t TDbfTable::RecNo() const {
    const Impl& d = *impl_;
    if (!Active()) return 0;
    impl_->Settle();
    if (state_ == TDataSetState::Inserting) return d.appended ? d.recno : 0;
    return d.hasRecord ? d.recno : 0;
}

bool TDbfTable::Modified() const { return impl_->modified; }

bool TDbfTable::Seek(std::string_view key, bool hard) {
    Impl& d = *impl_;
    d.CheckOpen();
    d.FinishPending();
    const std::string sought(key.substr(0, std::min(key.size(), kMaxKeyLength)));
    if (!d.order) d.LayerError("No index tag is active for a seek", xbase::kTagNotFound);
    const bool found = hard ? d.HardSeek(sought) : d.SoftSeek(sought);
    d.Notify(Change::RecordMoved);
    return found;
}

const TDbfFieldDef& TDbfTable::GetField(std::string_view name) const {
    for (const TDbfFieldDef& f : fields_)
        if (SameTextIgnoringCase(f.Name, name)) return f;
    impl_->PlainError("Field '" + std::string(name) + "' not found");
}

std::string TDbfTable::ReadText(std::string_view field) const {
    const TDbfFieldDef& f = GetField(field);
    const auto bytes = impl_->Bytes(f);
    if (bytes.empty()) return {};
    return dbfcodec::DecodeText(f, bytes);
}

TDateTime TDbfTable::ReadDate(std::string_view field) const {
    const TDbfFieldDef& f = GetField(field);
    const auto bytes = impl_->Bytes(f);
    if (bytes.empty()) return 0;
    if (f.Kind == TFieldType::ftDate) return dbfcodec::DecodeDate(bytes).value_or(0);
    const std::string text = dbfcodec::DecodeText(f, bytes);
    return text.empty() ? 0 : StrToDate(text);
}

void TDbfTable::WriteText(std::string_view field, std::string_view text) {
    const TDbfFieldDef& f = GetField(field);
    Impl& d = *impl_;
    d.CheckEditMode();   // before the text is parsed: the state is the error to report
    switch (f.Kind) {
        case TFieldType::ftDate: {
            std::optional<TDateTime> date;
            if (!text.empty()) date = StrToDate(text);
            d.Store(f, [&] { return date ? dbfcodec::EncodeDate(*date, f.Width) : dbfcodec::EncodeText("", f.Width); });
            break;
        }
        case TFieldType::ftSmallint:
        case TFieldType::ftFloat: {
            const std::string trimmed = RightTrimmed(text.substr(std::min(text.find_first_not_of(' '), text.size())));
            std::optional<double> value;
            if (!trimmed.empty()) {
                char* end = nullptr;
                const double v = std::strtod(trimmed.c_str(), &end);
                if (end == nullptr || *end != '\0')
                    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
                value = v;
            }
            d.Store(f, [&] { return value ? dbfcodec::EncodeFloat(f, *value) : dbfcodec::EncodeText("", f.Width); });
            break;
        }
        case TFieldType::ftBoolean: {
            const bool truth = !text.empty() && std::string_view("1TYty").find(text[0]) != std::string_view::npos;
            d.Store(f, [&] { return text.empty() ? std::string(" ") : std::string(truth ? "T" : "F"); });
            break;
        }
        case TFieldType::ftString:
        case TFieldType::ftBytes:
            d.Store(f, [&] { return dbfcodec::EncodeText(text, f.Width); });
            break;
        default:
            d.PlainError("Field '" + f.Name + "' cannot be written as text");
    }
}

void TDbfTable::WriteDate(std::string_view field, TDateTime value) {
    const TDbfFieldDef& f = GetField(field);
    Impl& d = *impl_;
    if (f.Kind == TFieldType::ftDate) {
        d.Store(f, [&] { return dbfcodec::EncodeDate(value, f.Width); });
    } else if (f.Kind == TFieldType::ftString) {
        d.Store(f, [&] { return dbfcodec::EncodeText(DateToStr(value), f.Width); });
    } else {
        d.PlainError("Field '" + f.Name + "' cannot be written as a date");
    }
}

void TDbfTable::WriteInteger(std::string_view field, long long value) {
    const TDbfFieldDef& f = GetField(field);
    Impl& d = *impl_;
    if (f.Kind == TFieldType::ftSmallint || f.Kind == TFieldType::ftFloat) {
        d.Store(f, [&] { return dbfcodec::EncodeInteger(f, value); });
    } else if (f.Kind == TFieldType::ftString) {
        d.Store(f, [&] { return dbfcodec::EncodeText(std::to_string(value), f.Width); });
    } else {
        d.PlainError("Field '" + f.Name + "' cannot be written as an integer");
    }
}

void TDbfTable::Edit() {
    Impl& d = *impl_;
    d.CheckOpen();
    if (d.Changing()) return;
    d.Settle();
    if (!d.hasRecord) return Insert();
    d.CheckModifiable();
    const uint32_t r = d.recno;
    if (!exclusive_) {
        d.Engine([&] { d.table->lockRecord(r); });
        d.lockedRecNo = r;
    }
    try {
        d.Load(r);   // start from the values stored now
    } catch (...) {
        try {
            d.Unlock();
        } catch (const EDatabaseError&) {
            // The read error is the one to report.
        }
        throw;
    }
    d.modified = false;
    d.SetState(TDataSetState::Editing);
    d.Notify(Change::RecordMoved);
}

void TDbfTable::Append() { impl_->BeginInsert(false); }

void TDbfTable::Insert() { impl_->BeginInsert(true); }

void TDbfTable::Post() {
    Impl& d = *impl_;
    if (d.Changing() && updateRecordHook_) updateRecordHook_();
    if (!d.Changing()) d.PlainError("Dataset not in edit or insert mode");
    if (state_ == TDataSetState::Editing) {
        d.Engine([&] { d.table->writeRecord(d.recno, d.image); });
        d.Unlock();
    } else if (d.appended) {
        // A retry after a failed post: the new record is already in the file.
        d.Engine([&] { d.table->writeRecord(d.recno, d.image); });
    } else {
        const uint32_t before = d.Engine([&] { return d.table->recordCount(); });
        try {
            d.recno = d.table->appendRecord(d.image);
            d.appended = true;
        } catch (const xbase::XbaseError& e) {
            // When the record reached the file before the failure, a retry
            // must write into it rather than append a second one.
            try {
                if (d.table->recordCount() == before + 1) {
                    std::vector<uint8_t> stored(d.image.size());
                    d.table->readRecord(before + 1, stored);
                    if (stored == d.image) {
                        d.recno = before + 1;
                        d.appended = true;
                    }
                }
            } catch (const xbase::XbaseError&) {
                // Keep the first error.
            }
            d.EngineError(e);
        }
    }
    d.modified = false;
    d.Stand(d.recno);   // the image just written is the stored record
    d.SetState(TDataSetState::Browsing);
    d.Notify(Change::RecordMoved);
}

void TDbfTable::Cancel() {
    Impl& d = *impl_;
    if (!d.Changing()) return;
    if (state_ == TDataSetState::Editing) {
        d.Unlock();
        d.Reread();
    } else if (d.insertAtEnd || !d.hadRecordBeforeInsert) {
        d.GoLast(false);
    } else {
        d.recno = d.recBeforeInsert;
        d.Reread();
    }
    d.modified = d.appended = false;
    d.SetState(TDataSetState::Browsing);
    d.Notify(Change::RecordMoved);
}

void TDbfTable::CreateIndexTag(const std::string& tag, const std::string& expression, TIndexOptions options) {
    Impl& d = *impl_;
    if ((options & ixCaseInsensitive) && (options & ixExpression))
        d.LayerError("ixCaseInsensitive is not supported with ixExpression indexes");

    // A closed table is opened just for the call.
    std::unique_ptr<xbase::XbaseTable> temporary;
    xbase::XbaseTable* target = d.table.get();
    std::vector<xbase::FieldInfo> fieldInfos;
    if (target == nullptr) {
        temporary = d.OpenFile();
        target = temporary.get();
    }
    fieldInfos = target->fields();

    std::string expr = expression;
    if (options & ixCaseInsensitive) {
        std::string wrapped;
        size_t start = 0;
        while (start <= expr.size()) {
            size_t semi = expr.find(';', start);
            if (semi == std::string::npos) semi = expr.size();
            std::string name = expr.substr(start, semi - start);
            bool character = false;
            for (const xbase::FieldInfo& fi : fieldInfos)
                if (SameTextIgnoringCase(fi.name, name)) character = fi.type == 'C';
            if (!wrapped.empty()) wrapped += ';';
            wrapped += character ? "UPPER(" + name + ")" : name;
            start = semi + 1;
        }
        expr = wrapped;
    }
    if (tableType_ == TTableType::ttCDX) std::replace(expr.begin(), expr.end(), ';', '+');

    d.Engine([&] { target->createTag(tag, expr, (options & ixUnique) != 0, (options & ixDescending) != 0); });
    if (d.table && !indexName_.empty()) {
        d.Settle();
        d.UseOrder(indexName_);
    }   // cursors over the old file are stale
}

void TDbfTable::BeginBatch() {
    Impl& d = *impl_;
    d.CheckModifiable();
    d.Engine([&] { d.table->beginBatch(); });
}

void TDbfTable::CommitBatch() {
    Impl& d = *impl_;
    if (!d.table || !d.table->inBatch()) return;
    try {
        d.table->commitBatch();
    } catch (const xbase::XbaseError& e) {
        d.DropBatchRecords();
        d.EngineError(e);
    }
}

void TDbfTable::CancelBatch() {
    Impl& d = *impl_;
    if (!d.table || !d.table->inBatch()) return;
    d.table->abortBatch();
    d.DropBatchRecords();
}

TDbfBatch::~TDbfBatch() {
    if (done_) return;
    try {
        table_.CancelBatch();
    } catch (const std::exception&) {
        // Closing the table drops it too.
    }
}

void TDbfBatch::Commit() {
    done_ = true;
    table_.CommitBatch();
}

int TDbfTable::AddListener(Listener listener) {
    const int id = impl_->nextListenerId++;
    impl_->listeners.emplace(id, std::move(listener));
    return id;
}

void TDbfTable::RemoveListener(int id) { impl_->listeners.erase(id); }
