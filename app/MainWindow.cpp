// The window's shell: construction, start-up sequence, closing, keys,
// the error guard, the grid's row deletion and the upload seam.
#include "app/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "app/DataSource.h"
#include "app/PartsProgressBar.h"
#include "app/TransferGrid.h"
#include "app/TransferListModel.h"
#include "app/UploadWiring.h"
#include "scan/ExtractListing.h"
#include "scan/ExtractScan.h"
#include "upload/ProgramSetup.h"

namespace {

class TScanMessageBoxes : public TScanMessages {
public:
    explicit TScanMessageBoxes(TMessageBoxes& boxes) : boxes_(boxes) {}
    void PlainMessage(const std::string& text) override { boxes_.PlainMessage(text); }
    void ErrorMessage(const std::string& text) override { boxes_.ErrorMessage(text); }

private:
    TMessageBoxes& boxes_;
};

std::string ExecutableFolder() { return QCoreApplication::applicationDirPath().toStdString() + "/"; }

}  // namespace

TForm1::TForm1(std::string programFolder, std::shared_ptr<TMessageBoxes> messages, QWidget* parent)
    : QWidget(parent),
      programFolderGiven_(std::move(programFolder)),
      messages_(messages ? std::move(messages) : std::make_shared<TQtMessageBoxes>()) {
    DbfSettings1.ApplyStoredValues();
    NameProgramTables({DbfZAVSys, DbfFileLog, DbfUpLog});
    folderPicker_ = [](QWidget* parent) -> std::optional<std::string> {
        const QString folder = QFileDialog::getExistingDirectory(parent);
        if (folder.isEmpty()) return std::nullopt;
        return folder.toStdString();
    };
    BuildWindow();
    SetUpUploadClient(NetFTP1);
    NetAntiFreeze1.ProcessMessages = [](bool handleAll) { ProcessMessages(handleAll); };
    upload_ = std::make_unique<TUploadWiring>(*this);
}

TForm1::~TForm1() {
    // Nothing here may delete the window while its upload run is on the
    // stack (the run handles events while it waits for the server).
    Q_ASSERT(!UploadRunning());
    // The bound controls outlive this object's members; detach them first.
    DBGrid3->setModel(nullptr);
    dataSource2_.reset();
    dataSource1_.reset();
}

void TForm1::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        messages_->ErrorReport(ErrorReportText(error.what()));
    } catch (...) {
        messages_->ErrorReport("Unknown error.");
    }
}

void TForm1::ProcessMessages(bool handleAll) {
    if (handleAll)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    else
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

void TForm1::setVisible(bool visible) {
    if (visible && !shownOnce_ && !isVisible()) {
        shownOnce_ = true;
        Guarded([this] { FormShow(); });
        CentreOnDesktop();
    }
    QWidget::setVisible(visible);
}

void TForm1::CentreOnDesktop() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void TForm1::FormShow() {
    // The steps `qeladmin upload` shares; the prompt and the page are the window's.
    OpenProgramTables(programFolderGiven_.empty() ? ExecutableFolder() : programFolderGiven_,
                      {DbfZAVSys, DbfFileLog, DbfUpLog},
                      {Values.ProgramFolder, Values.LocationCode, Values.SourceFolder});
    if (DbfZAVSys.ReadText("LOCCODE").empty()) SetLoccode();
    if (StartUpScans(DbfZAVSys, Values.SourceFolder)) LoadGrid("1");
    if (!DirectoryExists(Values.SourceFolder)) {
        messages_->Beep();
        messages_->PlainMessage("Invalid Directory!");
        PageControl1->setCurrentIndex(1);
        DbfZAVSys.Edit();
        DBEdit3->setFocus();
    }
}

void TForm1::SetLoccode() {
    PageControl1->setCurrentIndex(1);
    DbfZAVSys.Edit();
    if (DbfZAVSys.ReadText("COPYTO").empty()) DbfZAVSys.WriteText("COPYTO", "A:\\");
    DBEdit1->setFocus();
}

void TForm1::LoadGrid(const std::string& mode) {
    TScanMessageBoxes scanMessages(*messages_);
    try {
        ::LoadGrid(mode, Values.SourceFolder, DbfZAVSys, DbfFileLog, MemTable_Import, scanMessages);
    } catch (...) {
        dataSource2_->Flush();
        throw;
    }
    dataSource2_->Flush();
    ShowGridCurrentRow();
}

void TForm1::ShowGridCurrentRow() {
    if (MemTable_Import.IsEmpty()) return;
    const QModelIndex index = dataSource2_->index(static_cast<int>(MemTable_Import.CurrentIndex()), 0);
    DBGrid3->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

void TForm1::BitBtn1Click() {
    ++uploadRunning_;
    struct Done {
        int& running;
        ~Done() { --running; }
    } done{uploadRunning_};
    if (uploadRun_)
        uploadRun_(*this);
    else
        upload_->Run();
}

void TForm1::BitBtn2Click() { close(); }

void TForm1::FormClose() {
    // A run may be committing an audit row on its writer's thread.
    upload_->WaitForAuditRow();
    DbfUpLog.Close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    Guarded([this] { FormClose(); });
    event->accept();
}

void TForm1::DeleteGridRows() {
    // The run sends and marks the rows it started with; none goes meanwhile.
    if (UploadRunning()) return messages_->Beep();
    if (!MemTable_Import.Active() || MemTable_Import.IsEmpty()) return;
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : DBGrid3->selectionModel()->selectedRows())
        rows.push_back(static_cast<std::size_t>(index.row()));
    if (!messages_->Confirm(rows.size() > 1 ? "Delete all selected records?" : "Delete record?")) return;
    if (rows.empty()) {
        const QModelIndex current = DBGrid3->currentIndex();
        rows.push_back(current.isValid() ? static_cast<std::size_t>(current.row()) : MemTable_Import.CurrentIndex());
    }
    MemTable_Import.Delete(rows);
    ShowGridCurrentRow();
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    // Keys no focused control took: Escape presses the shown page's cancel
    // button; Enter the focused button, else the Configuration page's
    // default button.
    const bool plain = event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QPushButton* button = nullptr;
    if (plain && event->key() == Qt::Key_Escape)
        button = PageControl1->currentIndex() == 0 ? BitBtn2 : BitBtn6;
    else if (plain && enter && qobject_cast<QPushButton*>(QApplication::focusWidget()))
        button = static_cast<QPushButton*>(QApplication::focusWidget());
    else if (plain && enter && PageControl1->currentIndex() == 1)
        button = BitBtn4;
    if (button && button->isEnabled() && button->isVisible()) {
        event->accept();
        button->click();
        return;
    }
    QWidget::keyPressEvent(event);
}
