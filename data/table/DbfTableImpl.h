#pragma once
// What lies behind TDbfTable: the record in hand and its image, the active
// order and its seeks, pending changes and locks, the listeners, and the
// errors in the layer's words. Private to DbfTable.cpp, which holds the
// public operations over it.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>

#include "data/storage/XbaseTable.h"
#include "data/table/DbfFieldCodec.h"
#include "data/table/DbfKeyExpression.h"
#include "data/table/DbfSettings.h"
#include "data/table/DbfTable.h"
#include "data/table/DynamicConnList.h"
#include "data/values/FileNames.h"
#include "data/values/TextCase.h"
#include "rtl/Utf8Path.h"

namespace dbftable {

inline constexpr int kLayerErrorCode = 5121;
inline constexpr size_t kMaxKeyLength = 256;

inline std::string RightTrimmed(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0')) --n;
    return std::string(s.substr(0, n));
}

inline std::string Padded(std::string_view s, size_t length) {
    std::string out(s);
    if (out.size() < length) out.append(length - out.size(), ' ');
    return out;
}

}  // namespace dbftable

struct TDbfTable::Impl {
    explicit Impl(TDbfTable& owner) : t(owner) {}

    TDbfTable& t;
    std::unique_ptr<xbase::XbaseTable> table;
    std::unique_ptr<xbase::TagCursor> order;   // null: record-number order
    std::optional<DbfKeyExpression> orderKey;
    std::vector<uint8_t> blank, image;
    uint32_t recno = 0;
    bool hasRecord = false;
    bool eof = false;
    bool lastPending = false;     // end of data reached; the last record not yet loaded
    bool modified = false;
    bool appended = false;        // the record being inserted is already in the file
    uint32_t lockedRecNo = 0;
    bool insertAtEnd = true;      // Cancel of a new record goes to the last record
    uint32_t recBeforeInsert = 0;
    bool hadRecordBeforeInsert = false;
    uint32_t indexPageSize = 512;
    std::map<int, Listener> listeners;
    int nextListenerId = 1;

    // --- errors ------------------------------------------------------------
    std::string Prefixed(const std::string& text) const { return t.name_ + ": " + text; }

    // Settings that only a closed table takes.
    void CheckClosed(bool plain = false) const {
        if (!t.Active()) return;
        if (plain) PlainError("Cannot perform this operation on an open dataset");
        LayerError("Cannot perform this operation on an open dataset");
    }

    [[noreturn]] void LayerError(const std::string& text, int code = dbftable::kLayerErrorCode) const {
        throw EDbfDatabaseError(Prefixed(text), code, t.name_, t.tableName_, t.databaseName_);
    }
    [[noreturn]] void PlainError(const std::string& text) const { throw EDatabaseError(Prefixed(text)); }
    [[noreturn]] void EngineError(const xbase::XbaseError& e) const {
        throw EDbfDatabaseError(Prefixed(e.what()), e.code(), t.name_, t.tableName_, t.databaseName_);
    }

    template <class F>
    auto Engine(F&& f) const -> decltype(f()) {
        try {
            return f();
        } catch (const xbase::XbaseError& e) {
            EngineError(e);
        }
    }

    void CheckOpen() const {
        if (!table) PlainError("Cannot perform this operation on a closed dataset");
    }
    void CheckModifiable() const {
        CheckOpen();
        if (t.readOnly_) PlainError("Cannot modify a read-only dataset");
    }
    bool Changing() const {
        return t.state_ == TDataSetState::Editing || t.state_ == TDataSetState::Inserting;
    }

    void Notify(Change change) {
        // A listener may remove itself while being told.
        const auto copy = listeners;
        for (const auto& [id, listener] : copy)
            if (listener) listener(change);
    }

    void SetState(TDataSetState state) {
        if (t.state_ == state) return;
        t.state_ = state;
        Notify(Change::StateChanged);
    }

    // --- reading records ---------------------------------------------------
    // Loads the record image; whether the record is visible.
    bool Load(uint32_t r) {
        Engine([&] { table->readRecord(r, image); });
        return EngineShowsDeleted() || !xbase::XbaseTable::isDeleted(image);
    }
    void Place(uint32_t r, bool has, bool atEnd, bool pending) {
        recno = r;
        hasRecord = has;
        eof = atEnd;
        lastPending = pending;
    }
    void Stand(uint32_t r) { Place(r, true, false, false); }
    void StandNowhere() {
        Place(0, false, true, false);
        image = blank;
    }
    // A missed seek leaves the last record of the order current; it is read
    // only when someone looks at it (the file-log update appends instead).
    void StandAtEndLazily() { Place(0, false, true, true); }
    void Settle() {
        if (lastPending && table) GoLast(true);
    }

    void GoFirst() {
        if (order) {
            for (auto r = Engine([&] { return order->first(); }); r; r = Engine([&] { return order->next(); }))
                if (Load(*r)) return Stand(*r);
        } else {
            const uint32_t count = Engine([&] { return table->recordCount(); });
            for (uint32_t r = 1; r <= count; ++r)
                if (Load(r)) return Stand(r);
        }
        StandNowhere();
    }

    // The last visible record of the active order; `atEnd` keeps the
    // end-of-data indicator set on it (after a seek that ran off the end).
    void GoLast(bool atEnd) {
        bool found = false;
        if (order) {
            for (auto r = Engine([&] { return order->last(); }); r; r = Engine([&] { return order->prev(); }))
                if (Load(*r)) {
                    Stand(*r);
                    found = true;
                    break;
                }
        } else {
            for (uint32_t r = Engine([&] { return table->recordCount(); }); r >= 1; --r)
                if (Load(r)) {
                    Stand(r);
                    found = true;
                    break;
                }
        }
        if (!found) StandNowhere();
        else eof = atEnd;
        lastPending = false;
    }

    // After a dropped batch the records it wrote are gone: the edit in
    // progress ends and the current record is read again.
    void DropBatchRecords() {
        if (lockedRecNo != 0) {
            try {
                Unlock();
            } catch (const EDatabaseError&) {
            }
        }
        modified = appended = false;
        if (Changing()) SetState(TDataSetState::Browsing);
        const uint32_t count = Engine([&] { return table->recordCount(); });
        if (hasRecord && recno <= count) Reread();
        else StandAtEndLazily();
        Notify(Change::RecordMoved);
    }

    void Reread() {
        if (recno == 0) return StandNowhere();
        if (Load(recno)) Stand(recno);
        else GoFirst();   // gone from view meanwhile
    }

    // Append (`here` false: at the end) and Insert (where the current record
    // stands) begin a new record the same way.
    void BeginInsert(bool here) {
        CheckOpen();
        FinishPending();
        CheckModifiable();
        if (here) Settle();
        insertAtEnd = !here || !hasRecord || eof;
        hadRecordBeforeInsert = hasRecord;
        recBeforeInsert = recno;
        image = blank;
        modified = appended = false;
        SetState(TDataSetState::Inserting);
        Notify(Change::RecordMoved);
    }

    // --- pending changes ---------------------------------------------------
    void FinishPending() {
        if (!Changing()) return;
        if (t.updateRecordHook_) t.updateRecordHook_();
        if (modified) t.Post();
        else t.Cancel();
    }

    void Unlock() {
        if (lockedRecNo == 0) return;
        const uint32_t r = lockedRecNo;
        Engine([&] { table->unlockRecord(r); });
        lockedRecNo = 0;
    }

    // --- opening -----------------------------------------------------------
    void BuildFields() {
        t.fields_.clear();
        int number = 1;
        for (const xbase::FieldInfo& info : table->fields()) {
            TDbfFieldDef def;
            def.FieldNo = number++;
            def.Name = info.name;
            def.StoredType = info.type;
            def.Width = info.width;
            def.Decimals = info.decimals;
            def.Offset = static_cast<int>(info.offset);
            def.Kind = dbfcodec::KindOf(info.type, info.width, info.decimals);
            t.fields_.push_back(def);
        }
    }

    void UseOrder(const std::string& tagName) {
        if (tagName.empty()) {
            order.reset();
            orderKey.reset();
            return;
        }
        auto cursor = Engine([&] { return table->tag(tagName); });
        orderKey = DbfKeyExpression::Parse(cursor->expression(), t.fields_);
        order = std::move(cursor);
    }

    std::unique_ptr<xbase::XbaseTable> OpenFile() const {
        if (t.tableName_.empty()) LayerError("Missing TableName property");
        if (t.databaseName_.empty())
            LayerError("One of the DatabaseName property or the DbfConnection property must have a value.");
        if (TDynamicConnList::Instance().Connect(t.databaseName_) <= 0)
            LayerError("Internal Error: invalid connection handle.");
        const auto path = ResolveIgnoringCase(PathFromUtf8(t.databaseName_), t.tableName_);
        return Engine([&] {
            return xbase::XbaseTable::open(path, t.exclusive_ ? xbase::OpenMode::Exclusive : xbase::OpenMode::Shared,
                                           t.readOnly_);
        });
    }

    // --- seeking -----------------------------------------------------------
    bool KeyMatches(const std::string& key) const {
        return orderKey && dbftable::RightTrimmed(orderKey->Evaluate(image)) == dbftable::RightTrimmed(key);
    }

    bool HardSeek(const std::string& key) {
        std::optional<uint32_t> hit;
        try {
            hit = order->seek(key);
        } catch (const xbase::XbaseError& e) {
            if (e.code() != xbase::kNotFound) EngineError(e);
        }
        // The first visible record among those with the key.
        for (bool first = true; hit; first = false) {
            const bool visible = Load(*hit);
            if (!first && !KeyMatches(key)) break;
            if (visible) {
                Stand(*hit);
                return true;
            }
            if (!orderKey) break;   // cannot tell where the equal keys end
            hit = Engine([&] { return order->next(); });
        }
        StandAtEndLazily();
        return false;
    }

    // First visible record whose key is not below `key`.
    bool SoftSeek(const std::string& key) {
        if (HardSeek(key)) return true;
        if (orderKey) {
            const size_t length = std::max<size_t>(key.size(), order->keyLength());
            const std::string sought = dbftable::Padded(key, length);
            for (auto r = Engine([&] { return order->first(); }); r; r = Engine([&] { return order->next(); })) {
                const bool visible = Load(*r);
                if (visible && dbftable::Padded(orderKey->Evaluate(image), length) >= sought) {
                    Stand(*r);
                    return false;
                }
            }
        }
        GoLast(true);
        return false;
    }

    // --- field access --------------------------------------------------------
    std::span<const uint8_t> Bytes(const TDbfFieldDef& f) {
        Settle();
        if (!table || (!hasRecord && !Changing())) return {};
        const size_t end = static_cast<size_t>(f.Offset + f.Width);
        if (end > image.size()) return {};
        return std::span<const uint8_t>(image).subspan(static_cast<size_t>(f.Offset), static_cast<size_t>(f.Width));
    }

    void CheckEditMode() const {
        if (!Changing()) LayerError("Dataset not in edit mode");
    }

    template <class Encode>
    void Store(const TDbfFieldDef& f, Encode&& encode) {
        CheckEditMode();
        std::string bytes;
        try {
            bytes = encode();
        } catch (const dbfcodec::FieldWriteError& e) {
            LayerError(e.message);
        }
        std::memcpy(image.data() + f.Offset, bytes.data(), std::min<size_t>(bytes.size(), f.Width));
        modified = true;
        Notify(Change::FieldChanged);
    }
};
