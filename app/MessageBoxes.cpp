#include "app/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace {

constexpr char kApplicationTitle[] = "QELZAV";

int ShowBox(QMessageBox::Icon icon, const char* caption, const std::string& text,
            QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, QString::fromUtf8(caption), QString::fromStdString(text), buttons,
                    QApplication::activeWindow());
    // Texts come from servers, file names and tables: never rendered as rich text.
    box.setTextFormat(Qt::PlainText);
    return box.exec();
}

}  // namespace

void TQtMessageBoxes::PlainMessage(const std::string& text) {
    ShowBox(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok);
}

void TQtMessageBoxes::ErrorMessage(const std::string& text) {
    ShowBox(QMessageBox::Critical, "Error", text, QMessageBox::Ok);
}

void TQtMessageBoxes::ErrorReport(const std::string& text) {
    ShowBox(QMessageBox::Critical, kApplicationTitle, text, QMessageBox::Ok);
}

bool TQtMessageBoxes::Confirm(const std::string& text) {
    return ShowBox(QMessageBox::Question, "Confirm", text, QMessageBox::Ok | QMessageBox::Cancel) ==
           QMessageBox::Ok;
}

void TQtMessageBoxes::Beep() { QApplication::beep(); }

std::string ErrorReportText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        return message + ".";
    return message;
}
