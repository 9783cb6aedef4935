#pragma once
// The transfer list (`MemTable_Import`): the extract files one upload run
// will send, in listing order. Rows of DATE, FILENAME (25 characters),
// FILCREATED and COPIED (3 characters).
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "data/DateTime.h"

struct TransferRow {
    TDateTime Date = 0;          // DATE
    std::string FileName;        // FILENAME, at most 25 characters
    TDateTime FilCreated = 0;    // FILCREATED
    std::string Copied;          // COPIED, "No" or "Yes"
};

class TTransferList {
public:
    static constexpr std::size_t kFileNameWidth = 25;
    static constexpr std::size_t kCopiedWidth = 3;

    // Adds a row at the end (texts cut to their widths) and makes it current.
    void Append(TransferRow row);
    void Clear();
    // Deletes the rows at these indexes (0-based); the current row moves to
    // the row after the last one deleted, as a grid expects.
    void Delete(std::vector<std::size_t> rows);

    std::size_t RecordCount() const { return rows_.size(); }
    bool IsEmpty() const { return rows_.empty(); }
    // Current row number counted from 1; -1 when the list holds no row.
    int RecNo() const { return rows_.empty() ? -1 : static_cast<int>(current_) + 1; }
    void First() { current_ = 0; }
    void Next() { if (current_ < rows_.size()) ++current_; }
    bool Eof() const { return current_ >= rows_.size(); }
    void SetCurrent(std::size_t index) { current_ = index; }
    std::size_t CurrentIndex() const { return current_; }

    const TransferRow& Current() const { return rows_.at(current_); }
    const TransferRow& Row(std::size_t index) const { return rows_.at(index); }
    const std::vector<TransferRow>& Rows() const { return rows_; }

    // Field reads as the rest of the program uses them.
    std::string FileNameText() const { return Current().FileName; }
    TDateTime DateValue() const { return Current().Date; }
    std::string FilCreatedText() const;   // short date text, empty for a blank date

    // Listeners (the grid's model) are told after every change.
    void SetOnChanged(std::function<void()> onChanged) { onChanged_ = std::move(onChanged); }

private:
    std::vector<TransferRow> rows_;
    std::size_t current_ = 0;
    std::function<void()> onChanged_;
};
