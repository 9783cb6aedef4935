#pragma once
// The window's message boxes behind one interface, so handlers can be driven
// by tests without a modal box blocking them.
#include <string>

class QWidget;

class TMessageBoxes {
public:
    virtual ~TMessageBoxes() = default;
    // Caption "QELZAV", no icon, one OK button.
    virtual void PlainMessage(const std::string& text) = 0;
    // Caption "Error", error icon, one OK button.
    virtual void ErrorMessage(const std::string& text) = 0;
    // The default error report: caption "QELZAV", stop icon, one OK button.
    // `text` is shown as given (the caller applies the full-stop rule).
    virtual void ErrorReport(const std::string& text) = 0;
    // Caption "Confirm", question icon, OK and Cancel; true for OK.
    virtual bool Confirm(const std::string& text) = 0;
    // The standard system beep.
    virtual void Beep() = 0;
};

// Modal QMessageBox boxes over the active window (or none before it shows).
class TQtMessageBoxes : public TMessageBoxes {
public:
    void PlainMessage(const std::string& text) override;
    void ErrorMessage(const std::string& text) override;
    void ErrorReport(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    void Beep() override;
};

// The error's message with a full stop added when its last character's code
// is above that of "." (so "!" and "." endings get none).
std::string ErrorReportText(const std::string& message);
