#pragma once
// The grid's view of the transfer list (`DataSource2`): one row per list
// row, columns DATE, FILENAME, FILCREATED, COPIED. Appends are gathered and
// shown together, so a scan of many files does not redo the view per row.
#include <QAbstractTableModel>

class TTransferList;

class TTransferListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColDate, ColFileName, ColFilCreated, ColCopied, ColumnCount };

    explicit TTransferListModel(TTransferList& list, QObject* parent = nullptr);
    ~TTransferListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Shows rows appended since the last call.
    void Flush();

private:
    void ListChanged(int change);

    TTransferList& list_;
    int shownRows_ = 0;
    bool flushQueued_ = false;
};
