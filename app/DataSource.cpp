#include "app/DataSource.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPointer>
#include <QValidator>
#include <exception>

#include "data/table/DbfTable.h"

namespace {

// What a bound control takes: no more than its character field holds, so
// what it shows is never stored cut; in capitals where it wants them.
class TFieldValidator : public QValidator {
public:
    TFieldValidator(bool upperCase, std::function<int()> width, QObject* parent)
        : QValidator(parent), upperCase_(upperCase), width_(std::move(width)) {}
    State validate(QString& input, int&) const override {
        if (upperCase_) input = input.toUpper();
        const int width = width_();
        return width > 0 && input.toUtf8().size() > width ? Invalid : Acceptable;
    }

private:
    bool upperCase_;
    std::function<int()> width_;
};

bool IsEditing(const TDbfTable& table) {
    return table.State() == TDataSetState::Editing || table.State() == TDataSetState::Inserting;
}

}  // namespace

// Swallows the mouse press on its way into a window that moved the focus
// onto a control the focused one refused to leave for: the pressed button
// must not go down (and stay down, when a message box took the release).
// Disarmed by the next mouse or key input of that window; presses into other
// windows, such as the report's own box, pass.
class TDataSource::PressEater : public QObject {
public:
    ~PressEater() override { Disarm(); }
    void Arm(QWidget* window) {
        if (!armed_) qApp->installEventFilter(this);
        armed_ = true;
        window_ = window;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto type = event->type();
        const bool press = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
        const bool input = press || type == QEvent::MouseButtonRelease || type == QEvent::Wheel ||
                           type == QEvent::KeyPress;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!input || !widget || widget->window() != window_) return false;
        Disarm();
        return press;
    }

private:
    void Disarm() {
        if (armed_) qApp->removeEventFilter(this);
        armed_ = false;
        window_ = nullptr;
    }
    bool armed_ = false;
    QPointer<QWidget> window_;
};

struct TDataSource::Binding {
    QWidget* control = nullptr;   // the edit or the drop-down
    QLineEdit* edit = nullptr;    // its text part
    QComboBox* combo = nullptr;
    std::string field;
    bool modified = false;        // text typed but not yet written into the field
    Handler onExit, onChange;
};

TDataSource::TDataSource(TDbfTable& table, Guard guard) : table_(table), guard_(std::move(guard)) {
    listenerId_ = table_.AddListener([this](TDbfTable::Change) { TableChanged(); });
    table_.SetUpdateRecordHook([this] { UpdateRecord(); });
}

TDataSource::~TDataSource() {
    // The validators ask this object for widths; the edits may outlive it.
    for (auto& b : bindings_) b->edit->setValidator(nullptr);
    table_.RemoveListener(listenerId_);
    table_.SetUpdateRecordHook({});
}

void TDataSource::BindEdit(QLineEdit* edit, const std::string& field, bool upperCase) {
    auto binding = std::make_unique<Binding>();
    binding->control = edit;
    binding->edit = edit;
    binding->field = field;
    edit->setValidator(new TFieldValidator(upperCase, [this, field] { return TextWidth(field); }, edit));
    Binding* b = binding.get();
    connect(edit, &QLineEdit::textEdited, this, [this, b] { UserChanged(*b); });
    edit->installEventFilter(this);
    bindings_.push_back(std::move(binding));
    Show(*b);
}

void TDataSource::BindComboBox(QComboBox* combo, const std::string& field) {
    auto binding = std::make_unique<Binding>();
    binding->control = combo;
    binding->edit = combo->lineEdit();
    binding->combo = combo;
    binding->field = field;
    combo->lineEdit()->setValidator(new TFieldValidator(false, [this, field] { return TextWidth(field); }, combo));
    Binding* b = binding.get();
    connect(combo->lineEdit(), &QLineEdit::textEdited, this, [this, b] { UserChanged(*b); });
    connect(combo, &QComboBox::activated, this, [this, b] { UserChanged(*b); });
    combo->installEventFilter(this);
    bindings_.push_back(std::move(binding));
    Show(*b);
}

void TDataSource::SetOnExit(QWidget* control, Handler handler) {
    if (Binding* b = Find(control)) b->onExit = std::move(handler);
}

void TDataSource::SetOnChange(QWidget* control, Handler handler) {
    if (Binding* b = Find(control)) b->onChange = std::move(handler);
}

int TDataSource::TextWidth(const std::string& field) const {
    if (!table_.Active()) return 0;
    try {
        const TDbfFieldDef& def = table_.GetField(field);
        return def.StoredType == 'C' ? def.Width : 0;
    } catch (const std::exception&) {
        return 0;   // a table without this field
    }
}

TDataSource::Binding* TDataSource::Find(QObject* control) {
    for (auto& b : bindings_)
        if (b->control == control) return b.get();
    return nullptr;
}

void TDataSource::UpdateRecord() {
    for (auto& b : bindings_) {
        if (!b->modified) continue;
        table_.WriteText(b->field, b->edit->text().toStdString());
        b->modified = false;
    }
}

void TDataSource::Refresh() {
    for (auto& b : bindings_)
        if (!b->modified) Show(*b);
    // A control with pending text shows it in the other controls of its field too.
    for (auto& b : bindings_)
        if (b->modified) MirrorToSameField(*b);
}

void TDataSource::MirrorToSameField(const Binding& source) {
    for (auto& b : bindings_)
        if (b.get() != &source && b->field == source.field && b->edit->text() != source.edit->text())
            b->edit->setText(source.edit->text());
}

void TDataSource::Show(Binding& binding) {
    std::string text;
    if (table_.Active()) {
        try {
            text = table_.ReadText(binding.field);
        } catch (const std::exception&) {
            text.clear();   // a table without this field shows nothing
        }
    }
    const QString shown = QString::fromStdString(text);
    if (binding.edit->text() != shown) binding.edit->setText(shown);
    binding.edit->setReadOnly(!table_.Active());
}

void TDataSource::TableChanged() {
    // Once nothing is pending in the table, no control has pending text.
    if (!IsEditing(table_))
        for (auto& b : bindings_) b->modified = false;
    Refresh();
}

void TDataSource::UserChanged(Binding& binding) {
    guard_([&] {
        binding.modified = true;
        if (!table_.Active()) {
            binding.modified = false;
            Show(binding);
            return;
        }
        if (!IsEditing(table_)) {
            try {
                table_.Edit();
            } catch (...) {
                binding.modified = false;
                Show(binding);
                throw;
            }
        }
        MirrorToSameField(binding);
        if (binding.onChange) binding.onChange();
    });
}

bool TDataSource::Commit(Binding& binding) {
    if (!binding.modified) return true;
    std::exception_ptr refused;
    try {
        table_.WriteText(binding.field, binding.edit->text().toStdString());
        binding.modified = false;
        return true;
    } catch (...) {
        refused = std::current_exception();
    }
    // The text stays for correcting. The focus goes back before the report,
    // so no other control is entered (and left) behind the message box.
    binding.control->setFocus(Qt::OtherFocusReason);
    binding.edit->selectAll();
    guard_([&] { std::rethrow_exception(refused); });
    return false;
}

bool TDataSource::CommitFocused() {
    for (auto& b : bindings_) {
        // The window's own focus: a click may reach a window not yet active.
        const QWidget* focus = b->control->window()->focusWidget();
        if (focus && (b->control == focus || b->control->isAncestorOf(focus))) return Commit(*b);
    }
    return true;
}

void TDataSource::IgnoreNextPress(QWidget* window) {
    if (!pressEater_) pressEater_ = std::make_unique<PressEater>();
    pressEater_->Arm(window);
}

bool TDataSource::FocusLeft(Binding& binding, Qt::FocusReason reason) {
    if (!Commit(binding)) {
        // A click elsewhere moved the focus: that press is still on its way.
        if (reason == Qt::MouseFocusReason) IgnoreNextPress(binding.control->window());
        return false;   // the exit handler does not run for a refused exit
    }
    if (binding.onExit) guard_(binding.onExit);
    return true;
}

bool TDataSource::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Switching windows or opening a drop-down list is not leaving the control.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            // A refused text keeps the focus: the control never sees this focus-out.
            if (Binding* b = Find(watched); b && !FocusLeft(*b, reason)) return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
