#include "app/TransferListModel.h"

#include "scan/TransferList.h"

namespace {

QString DateText(TDateTime value) { return value == 0 ? QString() : QString::fromStdString(DateToStr(value)); }

}  // namespace

TTransferListModel::TTransferListModel(TTransferList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list), shownRows_(static_cast<int>(list.Rows().size())) {
    list_.SetOnChanged([this](TTransferList::Change change) { ListChanged(static_cast<int>(change)); });
}

TTransferListModel::~TTransferListModel() { list_.SetOnChanged({}); }

int TTransferListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shownRows_; }

int TTransferListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TTransferListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shownRows_) return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == ColCopied ? QVariant(Qt::AlignCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    const TransferRow& row = list_.Row(static_cast<std::size_t>(index.row()));
    switch (index.column()) {
    case ColDate: return DateText(row.Date);
    case ColFileName: return QString::fromStdString(row.FileName);
    case ColFilCreated: return DateText(row.FilCreated);
    case ColCopied: return QString::fromStdString(row.Copied);
    default: return {};
    }
}

QVariant TTransferListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const kNames[ColumnCount] = {"DATE", "FILENAME", "FILCREATED", "COPIED"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(kNames[section]) : QVariant();
}

void TTransferListModel::Flush() {
    flushQueued_ = false;
    const int rows = static_cast<int>(list_.Rows().size());
    if (rows > shownRows_) {
        beginInsertRows({}, shownRows_, rows - 1);
        shownRows_ = rows;
        endInsertRows();
    } else if (rows < shownRows_) {
        beginResetModel();
        shownRows_ = rows;
        endResetModel();
    }
}

void TTransferListModel::ListChanged(int change) {
    switch (static_cast<TTransferList::Change>(change)) {
    case TTransferList::Change::RowAppended:
        if (!flushQueued_) {
            flushQueued_ = true;
            QMetaObject::invokeMethod(this, &TTransferListModel::Flush, Qt::QueuedConnection);
        }
        break;
    case TTransferList::Change::Reset:
    case TTransferList::Change::RowsRemoved:
        beginResetModel();
        shownRows_ = static_cast<int>(list_.Rows().size());
        endResetModel();
        break;
    case TTransferList::Change::CurrentMoved:
        break;
    }
}
