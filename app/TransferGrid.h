#pragma once
// The data grid of the first page: whole-row, multiple selection, read-only,
// Tab leaves it; Ctrl+Delete asks the window to delete rows.
#include <QTableView>

class TTransferGrid : public QTableView {
    Q_OBJECT
public:
    explicit TTransferGrid(QWidget* parent = nullptr);

signals:
    void deleteRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
