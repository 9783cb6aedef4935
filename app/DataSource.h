#pragma once
// Data-bound edits and drop-downs over one table (`DataSource1`): each
// control shows its field of the current record, starts editing the record
// when the user types or chooses, and writes its text into the field when
// the focus leaves it (or when the table posts). Controls of the same field
// show the same value.
#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QWidget;
class TDbfTable;

class TDataSource : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void()>;
    // Runs a handler so that no error escapes to the event loop.
    using Guard = std::function<void(const Handler&)>;

    TDataSource(TDbfTable& table, Guard guard);
    ~TDataSource() override;

    void BindEdit(QLineEdit* edit, const std::string& field, bool upperCase);
    void BindComboBox(QComboBox* combo, const std::string& field);
    // Raised when the focus leaves the control, after its text was written.
    void SetOnExit(QWidget* control, Handler handler);
    // Raised when the user changes the control's text (typing or choosing).
    void SetOnChange(QWidget* control, Handler handler);

    // Writes the pending text of every changed control into its field.
    void UpdateRecord();
    // Writes the pending text of the focused control, as leaving it would
    // (without its exit handler). False when the text was refused: it was
    // reported, and the control keeps the focus with its text selected.
    bool CommitFocused();
    // Shows the fields' values again in every control without pending text.
    void Refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Binding;
    class PressEater;
    Binding* Find(QObject* control);
    int TextWidth(const std::string& field) const;   // 0: no limit
    void UserChanged(Binding& binding);
    bool Commit(Binding& binding);      // false when the text was refused (reported)
    bool FocusLeft(Binding& binding, Qt::FocusReason reason);
    void IgnoreNextPress(QWidget* window);
    void Show(Binding& binding);
    void MirrorToSameField(const Binding& source);
    void TableChanged();

    TDbfTable& table_;
    Guard guard_;
    int listenerId_ = -1;
    std::vector<std::unique_ptr<Binding>> bindings_;
    std::unique_ptr<PressEater> pressEater_;
};
