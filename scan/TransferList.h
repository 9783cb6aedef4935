#pragma once
// The transfer list (`MemTable_Import`): the extract files one upload run
// will send, in listing order. Rows of DATE, FILENAME (the whole name),
// FILCREATED and COPIED (3 characters). Kept in memory only.
//
// The list is closed until the first row is appended. A closed list holds no
// row; First and RecordCount on it fail with
// "MemTable_Import: Cannot perform this operation on a closed dataset",
// so a caller that walks the list checks Active() (or RecNo() > 0) first.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "data/values/DateTime.h"

struct TransferRow {
    TDateTime Date = 0;          // DATE, a calendar day
    std::string FileName;        // FILENAME, whole: never cut (the scan leaves out a name the file log cannot hold)
    TDateTime FilCreated = 0;    // FILCREATED, a calendar day
    std::string Copied;          // COPIED, "No" or "Yes"
};

// A date column read as text: the short date, empty for the zero date.
std::string TransferDateText(TDateTime value);

class TTransferList {
public:
    static constexpr std::size_t kCopiedWidth = 3;

    // What the grid's model is told after each change.
    enum class Change { Reset, RowAppended, RowsRemoved, CurrentMoved };

    explicit TTransferList(std::string componentName = "MemTable_Import");

    const std::string& Name() const { return name_; }

    bool Active() const { return active_; }
    void Open();    // a closed list becomes open and empty
    void Close();   // discards every row
    void Clear() { Close(); }

    // Opens the list when closed, adds a row at the end (texts cut to their
    // widths, dates to their day) and makes it current.
    void Append(TransferRow row);
    // Deletes the rows at these indexes (0-based); the row after the last one
    // deleted becomes current, or the new last row. The list stays open.
    void Delete(std::vector<std::size_t> rows);
    void DeleteCurrent();

    std::size_t RecordCount() const;               // fails on a closed list
    bool IsEmpty() const { return rows_.empty(); }
    // Current row number counted from 1; -1 when closed or without rows.
    int RecNo() const { return rows_.empty() ? -1 : static_cast<int>(current_) + 1; }
    void First();                                  // fails on a closed list
    void Next();
    bool Eof() const { return rows_.empty() || eof_; }
    void SetCurrent(std::size_t index);
    std::size_t CurrentIndex() const { return current_; }

    const TransferRow& Current() const { return rows_.at(current_); }
    const TransferRow& Row(std::size_t index) const { return rows_.at(index); }
    const std::vector<TransferRow>& Rows() const { return rows_; }

    // Column reads of the current row by field name (letter case ignored);
    // a date reads as short date text, empty for the zero date.
    std::string ReadText(std::string_view field) const;
    TDateTime ReadDate(std::string_view field) const;

    std::string FileNameText() const { return Current().FileName; }
    TDateTime DateValue() const { return Current().Date; }
    std::string FilCreatedText() const;

    void SetOnChanged(std::function<void(Change)> onChanged) { onChanged_ = std::move(onChanged); }

private:
    void CheckActive() const;
    void Notify(Change change) const { if (onChanged_) onChanged_(change); }

    std::string name_;
    bool active_ = false;
    std::vector<TransferRow> rows_;
    std::size_t current_ = 0;
    bool eof_ = false;
    std::function<void(Change)> onChanged_;
};
