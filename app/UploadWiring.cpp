#include "app/UploadWiring.h"

#include <QLabel>
#include <QPushButton>

#include "app/MainWindow.h"
#include "app/PartsProgressBar.h"
#include "upload/FolderLock.h"
#include "upload/UploadRun.h"

void TUploadWindowView::ShowProgress() {
    form_.Label9->setVisible(true);
    form_.ProgressBar1->setVisible(true);
}

void TUploadWindowView::SetUploadEnabled(bool enabled) { form_.BitBtn1->setEnabled(enabled); }

void TUploadWindowView::SetQuitEnabled(bool enabled) { form_.BitBtn2->setEnabled(enabled); }

void TUploadWindowView::SetStatusText(const std::string& text, bool repaintNow) {
    form_.Label3->setText(QString::fromStdString(text));
    // The thread is about to block in a transfer, which handles no messages:
    // without this the name of the file being sent would never show.
    if (repaintNow) form_.Label3->repaint();
}

void TUploadWindowView::SetTotalParts(int total) { form_.ProgressBar1->SetTotalParts(total); }

void TUploadWindowView::SetPartsComplete(int count) { form_.ProgressBar1->SetPartsComplete(count); }

int TUploadWindowView::PartsComplete() const { return form_.ProgressBar1->PartsComplete(); }

void TUploadWindowView::ShowMessage(const std::string& text) { form_.Messages().PlainMessage(text); }

TUploadWiring::TUploadWiring(TForm1& form)
    : form_(form),
      view_(form),
      run_(std::make_unique<TUploadRun>(
          view_,
          TUploadValues{form.Values.ProgramFolder, form.Values.LocationCode, form.Values.SourceFolder,
                        form.Values.UploadPath, form.Values.FtpHost, form.Values.FtpUser, form.Values.FtpPassword,
                        form.Values.RemoteFolder},
          form.MemTable_Import, form.DbfFileLog, form.DbfZAVSys, form.DbfUpLog, form.NetFTP1)) {}

TUploadWiring::~TUploadWiring() = default;

void TUploadWiring::WaitForAuditRow() { run_->WaitForAuditRow(); }

void TUploadWiring::Run() {
    // One run per program folder, also across processes: a second one is
    // refused before it touches a control, and the error report says why.
    const TFolderLock lock(form_.Values.ProgramFolder);
    if (!lock.Held()) throw EUploadInProgress();
    run_->Run();
}
