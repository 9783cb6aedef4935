#include "app/DataSource.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QValidator>
#include <exception>

#include "data/DbfTable.h"

namespace {

// Turns every letter typed into a capital.
class TUpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

bool IsEditing(const TDbfTable& table) {
    return table.State() == TDataSetState::Editing || table.State() == TDataSetState::Inserting;
}

}  // namespace

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
    table_.RemoveListener(listenerId_);
    table_.SetUpdateRecordHook({});
}

void TDataSource::BindEdit(QLineEdit* edit, const std::string& field, bool upperCase) {
    auto binding = std::make_unique<Binding>();
    binding->control = edit;
    binding->edit = edit;
    binding->field = field;
    if (upperCase) edit->setValidator(new TUpperCaseValidator(edit));
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

bool TDataSource::FocusLeft(Binding& binding) {
    if (binding.modified) {
        std::exception_ptr refused;
        try {
            table_.WriteText(binding.field, binding.edit->text().toStdString());
            binding.modified = false;
        } catch (...) {
            refused = std::current_exception();
        }
        if (refused) {
            // The text stays for correcting and the exit handler does not run.
            // The focus goes back before the report, so no other control is
            // entered (and left) behind the message box.
            binding.control->setFocus(Qt::OtherFocusReason);
            binding.edit->selectAll();
            guard_([&] { std::rethrow_exception(refused); });
            return false;
        }
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
            if (Binding* b = Find(watched); b && !FocusLeft(*b)) return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
