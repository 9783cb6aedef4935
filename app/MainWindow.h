#pragma once
// The main window `TForm1`: two pages ("Files To Copy", "Configuration"),
// the three local tables, the transfer list and the working values. Every
// handler runs inside Guarded(), so no error reaches Qt's event loop: each
// one ends in the default error report instead.
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/MessageBoxes.h"
#include "app/PageControl.h"
#include "app/WorkingValues.h"
#include "data/table/DbfSettings.h"
#include "data/table/DbfTable.h"
#include "ftp/commands/NetFTP.h"
#include "ftp/iohandler/NetAntiFreeze.h"
#include "scan/TransferList.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class TDataSource;
class TPartsProgressBar;
class TTransferGrid;
class TTransferListModel;
class TUploadWiring;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // The folder picker: the chosen folder's path, or nothing when cancelled.
    using FolderPicker = std::function<std::optional<std::string>(QWidget* parent)>;
    // The upload run behind the Upload button (`BitBtn1Click`). It gets the
    // window, whose tables, transfer list, working values and controls
    // (Label3, Label9, ProgressBar1, BitBtn1, BitBtn2, Messages()) it uses;
    // an error it raises ends in the default error report. Unless one is
    // plugged in, Upload runs the window's own upload run.
    using UploadRun = std::function<void(TForm1& form)>;

    // An empty `programFolder` means the executable's folder. Without
    // `messages` the window shows real message boxes.
    explicit TForm1(std::string programFolder = {}, std::shared_ptr<TMessageBoxes> messages = {},
                    QWidget* parent = nullptr);
    ~TForm1() override;
    // True while the upload run is on its way (also after the window closed).
    bool UploadRunning() const { return uploadRunning_ > 0; }

    // Shown for the first time: the start-up sequence runs before the window appears.
    void setVisible(bool visible) override;

    void SetFolderPicker(FolderPicker picker) { folderPicker_ = std::move(picker); }
    void SetUploadRun(UploadRun run) { uploadRun_ = std::move(run); }
    TMessageBoxes& Messages() { return *messages_; }

    // Runs `handler`; an error leaving it is shown by the default error report.
    void Guarded(const std::function<void()>& handler);
    // Lets the window handle pending events: what the anti-freeze calls
    // while a network wait blocks this thread.
    static void ProcessMessages(bool handleAll = true);

    // Handlers.
    void FormShow();
    void FormClose();
    void SetLoccode();
    void LoadGrid(const std::string& mode);
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn5Click();
    void BitBtn6Click();
    void Button1Click();
    void DBEdit1Exit();
    void DBComboBox1Change();
    void PageControl1Click();
    void DeleteGridRows();

    // Components, owned for the life of the window.
    TDbfSettings DbfSettings1;
    TDbfTable DbfZAVSys{"DbfZAVSys"};
    TDbfTable DbfFileLog{"DbfFileLog"};
    TDbfTable DbfUpLog{"DbfUpLog"};
    TTransferList MemTable_Import{"MemTable_Import"};
    TWorkingValues Values;
    // Passive, 100 s per reply, port 21. Tests may point it elsewhere (port,
    // time-outs) before pressing Upload; the program itself never does.
    TNetFTP NetFTP1;
    // Lets the window handle its events while NetFTP1 waits for the network.
    TNetAntiFreeze NetAntiFreeze1;

    // Controls (children of the window; named as their objectName).
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label1 = nullptr;
    QListWidget* FileListBox1 = nullptr;
    TPageControl* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    TTransferGrid* DBGrid3 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* DBEdit5 = nullptr;
    QLabel* Label7 = nullptr;
    QLineEdit* DBEdit6 = nullptr;
    QLabel* Label9 = nullptr;
    TPartsProgressBar* ProgressBar1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* DBEdit1 = nullptr;
    QLabel* Label10 = nullptr;
    QLineEdit* DBEdit8 = nullptr;
    QLabel* Label148 = nullptr;
    QComboBox* DBComboBox1 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* DBEdit2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* DBEdit3 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* DBEdit4 = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* DBEdit7 = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn6 = nullptr;

    TDataSource& DataSource1() { return *dataSource1_; }
    TTransferListModel& DataSource2() { return *dataSource2_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildWindow();
    void BuildFilesPage();
    void BuildConfigurationPage();
    void BindSettings();
    void SetTabOrders();
    void CentreOnDesktop();
    bool SettingsBeingEdited() const;
    void ApplyResetPathRules(const std::string& code);
    void PickFolderInto(const char* field);
    bool FitsField(const std::string& text, const char* field) const;
    void ShowGridCurrentRow();

    std::string programFolderGiven_;
    std::shared_ptr<TMessageBoxes> messages_;
    FolderPicker folderPicker_;
    UploadRun uploadRun_;
    // Declared after NetFTP1 and the tables its run uses, so it is destroyed first.
    std::unique_ptr<TUploadWiring> upload_;
    // Upload runs in progress: the run's stack holds the window while it
    // waits for the network and handles events in between.
    int uploadRunning_ = 0;
    bool shownOnce_ = false;
    std::unique_ptr<TDataSource> dataSource1_;
    std::unique_ptr<TTransferListModel> dataSource2_;
};
