// The Configuration page's handlers: beginning and ending an edit of the
// settings record, Save's folder check, the folder pickers, and the source
// folder derived from the PMS choice and a location or property code.
#include <QComboBox>
#include <QLineEdit>

#include "app/DataSource.h"
#include "app/MainWindow.h"
#include "upload/SourceFolderRules.h"
#include "scan/ExtractListing.h"
#include "scan/ExtractScan.h"

bool TForm1::SettingsBeingEdited() const {
    return DbfZAVSys.State() == TDataSetState::Editing || DbfZAVSys.State() == TDataSetState::Inserting;
}

void TForm1::PageControl1Click() {
    if (PageControl1->currentIndex() == 1) {
        DbfZAVSys.Edit();
    } else if (PageControl1->currentIndex() == 0 && SettingsBeingEdited()) {
        DbfZAVSys.Cancel();
    }
}

void TForm1::BitBtn4Click() {
    if (!SettingsBeingEdited()) return;
    // Text still pending in the focused edit (Enter pressed Save) is what
    // the user means to save, so it is checked, not the value before it.
    dataSource1_->UpdateRecord();
    const std::string copyFrom = DbfZAVSys.ReadText("COPYFROM");
    // A folder the field cannot hold with its separator would be stored cut.
    if (DirectoryExists(AbsoluteSourceFolder(Values.ProgramFolder, copyFrom)) && FitsField(WithTrailingSeparator(copyFrom), "COPYFROM")) {
        const std::string withSeparator = WithTrailingSeparator(copyFrom);
        if (withSeparator != copyFrom) DbfZAVSys.WriteText("COPYFROM", withSeparator);
        Values.SourceFolder = AbsoluteSourceFolder(Values.ProgramFolder, DbfZAVSys.ReadText("COPYFROM"));
        DbfZAVSys.Post();
        PageControl1->setCurrentIndex(0);
    } else {
        messages_->Beep();
        messages_->PlainMessage("Invalid Directory!");
        DbfZAVSys.WriteText("COPYFROM", "");
        DBEdit3->setFocus();
    }
}

void TForm1::BitBtn6Click() {
    if (SettingsBeingEdited()) DbfZAVSys.Cancel();
    PageControl1->setCurrentIndex(0);
}

bool TForm1::FitsField(const std::string& text, const char* field) const {
    return text.size() <= static_cast<std::size_t>(DbfZAVSys.GetField(field).Width);
}

void TForm1::PickFolderInto(const char* field) {
    const std::optional<std::string> folder = folderPicker_(this);
    if (!folder) return;
    // The field would cut it, and a cut path names another folder or none.
    if (DbfZAVSys.Active() && !FitsField(WithTrailingSeparator(*folder), field)) {
        messages_->Beep();
        messages_->PlainMessage("Invalid Directory!");
        return;
    }
    DbfZAVSys.WriteText(field, *folder);
}

void TForm1::BitBtn5Click() { PickFolderInto("COPYFROM"); }

void TForm1::BitBtn3Click() { PickFolderInto("COPYTO"); }

void TForm1::ApplyResetPathRules(const std::string& code) {
    if (code.empty() || DbfZAVSys.State() != TDataSetState::Editing) return;
    if (const auto folder = DerivedSourceFolder(DBComboBox1->currentText().toStdString(), code))
        DbfZAVSys.WriteText("COPYFROM", *folder);
}

// Every derivation rule needs the record in edit state; outside it nothing is
// read, so a settings table that never opened is not reported at each exit.
void TForm1::Button1Click() {
    if (DbfZAVSys.State() != TDataSetState::Editing) return;
    ApplyResetPathRules(DbfZAVSys.ReadText("PROPCODE"));
}

void TForm1::DBEdit1Exit() {
    if (DbfZAVSys.State() != TDataSetState::Editing) return;
    if (DbfZAVSys.ReadText("PROPCODE").empty()) DbfZAVSys.WriteText("PROPCODE", DbfZAVSys.ReadText("LOCCODE"));
    ApplyResetPathRules(DbfZAVSys.ReadText("PROPCODE"));
}

void TForm1::DBComboBox1Change() {
    if (DbfZAVSys.State() != TDataSetState::Editing) return;
    if (const auto folder = DerivedSourceFolder(DBComboBox1->currentText().toStdString(), DbfZAVSys.ReadText("LOCCODE")))
        DbfZAVSys.WriteText("COPYFROM", *folder);
}
