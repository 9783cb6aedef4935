#include "scan/TransferList.h"

#include <algorithm>
#include <cctype>

#include "data/table/DbfTable.h"

namespace {

std::string Cut(std::string text, std::size_t width) {
    if (text.size() > width) text.resize(width);
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string TransferDateText(TDateTime value) { return value == 0 ? std::string() : DateToStr(value); }

TTransferList::TTransferList(std::string componentName) : name_(std::move(componentName)) {}

void TTransferList::CheckActive() const {
    if (!active_) throw EDatabaseError(name_ + ": Cannot perform this operation on a closed dataset");
}

void TTransferList::Open() {
    if (active_) return;
    active_ = true;
    rows_.clear();
    current_ = 0;
    eof_ = false;
    Notify(Change::Reset);
}

void TTransferList::Close() {
    if (!active_ && rows_.empty()) return;
    active_ = false;
    rows_.clear();
    current_ = 0;
    eof_ = false;
    Notify(Change::Reset);
}

void TTransferList::Append(TransferRow row) {
    Open();
    row.Date = DateOf(row.Date);
    row.FilCreated = DateOf(row.FilCreated);
    row.Copied = Cut(std::move(row.Copied), kCopiedWidth);
    rows_.push_back(std::move(row));
    current_ = rows_.size() - 1;
    eof_ = false;
    Notify(Change::RowAppended);
}

void TTransferList::Delete(std::vector<std::size_t> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](std::size_t i) { return i >= rows_.size(); }),
               rows.end());
    if (rows.empty()) return;
    const std::size_t afterLast = rows.back() + 1 - rows.size();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) rows_.erase(rows_.begin() + static_cast<long>(*it));
    current_ = rows_.empty() ? 0 : std::min(afterLast, rows_.size() - 1);
    eof_ = false;
    Notify(Change::RowsRemoved);
}

void TTransferList::DeleteCurrent() {
    if (!rows_.empty()) Delete({current_});
}

std::size_t TTransferList::RecordCount() const {
    CheckActive();
    return rows_.size();
}

void TTransferList::First() {
    CheckActive();
    current_ = 0;
    eof_ = rows_.empty();
    Notify(Change::CurrentMoved);
}

void TTransferList::Next() {
    if (rows_.empty()) return;
    if (current_ + 1 < rows_.size()) {
        ++current_;
        Notify(Change::CurrentMoved);
    } else {
        eof_ = true;
    }
}

void TTransferList::SetCurrent(std::size_t index) {
    if (index >= rows_.size()) return;
    current_ = index;
    eof_ = false;
}

std::string TTransferList::ReadText(std::string_view field) const {
    if (rows_.empty()) return {};
    const TransferRow& row = Current();
    if (SameName(field, "DATE")) return TransferDateText(row.Date);
    if (SameName(field, "FILENAME")) return row.FileName;
    if (SameName(field, "FILCREATED")) return TransferDateText(row.FilCreated);
    if (SameName(field, "COPIED")) return row.Copied;
    throw EDatabaseError(name_ + ": Field '" + std::string(field) + "' not found");
}

TDateTime TTransferList::ReadDate(std::string_view field) const {
    if (SameName(field, "DATE")) return rows_.empty() ? 0 : Current().Date;
    if (SameName(field, "FILCREATED")) return rows_.empty() ? 0 : Current().FilCreated;
    throw EDatabaseError(name_ + ": Field '" + std::string(field) + "' not found");
}

std::string TTransferList::FilCreatedText() const { return TransferDateText(Current().FilCreated); }
