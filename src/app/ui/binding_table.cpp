// The link between the controls of one settings page and the fields of the working settings.
#include "app/ui/binding_table.h"

#include "app/ui/color_button.h"
#include "settings/preset_fields.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTimeZone>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace quill::app::ui {
namespace {

using settings::Preset;

using Field = settings::FieldDescription<Preset>;

const Field& fieldNamed(const char* name) {
    for (const Field& field : settings::presetFields()) {
        if (std::string_view(field.name) == name) return field;
    }
    // A misspelt field name is a programming error that every test run reveals at once.
    throw std::logic_error(std::string("unknown preset field ") + name);
}

std::int64_t numericValue(const Preset& preset, const Field& field) {
    return field.number(preset);
}

// Stores a control's value clamped to what the field's storage can hold; the range check of
// the validation still judges it against the field's valid range.
void setNumericValue(Preset& preset, const Field& field, std::int64_t value) {
    const auto [low, high] = [&]() -> std::pair<std::int64_t, std::int64_t> {
        switch (field.storage) {
        case settings::FieldStorage::I8:
            return {INT8_MIN, INT8_MAX};
        case settings::FieldStorage::I16:
            return {INT16_MIN, INT16_MAX};
        case settings::FieldStorage::U32:
            return {0, UINT32_MAX};
        default:
            return {0, UINT8_MAX};
        }
    }();
    field.setNumber(preset, std::clamp(value, low, high));
}

std::string& textMember(Preset& preset, const Field& field) {
    return preset.*field.text;
}
const std::string& textMember(const Preset& preset, const Field& field) {
    return preset.*field.text;
}

QString plainFromStored(const std::string& stored) {
    QString text = QString::fromStdString(stored);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

} // namespace

void BindingTable::check(const char* field, QAbstractButton* box, Sense sense) {
    const bool inverted = sense == Sense::Inverted;
    const Field& f = fieldNamed(field);
    m_entries.push_back({field, box,
                         [&f, box, inverted](const Preset& p) {
                             box->setChecked((numericValue(p, f) != 0) != inverted);
                         },
                         [&f, box, inverted](Preset& p) {
                             setNumericValue(p, f, box->isChecked() != inverted ? 1 : 0);
                         }});
}

void BindingTable::check(const char* field, QAction* action) {
    const Field& f = fieldNamed(field);
    m_entries.push_back(
        {field, action,
         [&f, action](const Preset& p) { action->setChecked(numericValue(p, f) != 0); },
         [&f, action](Preset& p) { setNumericValue(p, f, action->isChecked() ? 1 : 0); }});
}

void BindingTable::checkBit(const char* field, QAbstractButton* box, std::uint32_t bit,
                            Sense sense) {
    const bool inverted = sense == Sense::Inverted;
    const Field& f = fieldNamed(field);
    m_entries.push_back({field, box,
                         [&f, box, bit, inverted](const Preset& p) {
                             const bool set = (std::uint64_t(numericValue(p, f)) & bit) != 0;
                             box->setChecked(set != inverted);
                         },
                         [&f, box, bit, inverted](Preset& p) {
                             std::uint64_t value = std::uint64_t(numericValue(p, f));
                             if (box->isChecked() != inverted)
                                 value |= bit;
                             else
                                 value &= ~std::uint64_t(bit);
                             setNumericValue(p, f, std::int64_t(value));
                         }});
}

void BindingTable::spin(const char* field, QSpinBox* spin) {
    const Field& f = fieldNamed(field);
    spin->setRange(int(std::max<std::int64_t>(f.low, INT32_MIN)),
                   int(std::min<std::int64_t>(f.high, INT32_MAX)));
    m_entries.push_back({field, spin,
                         [&f, spin](const Preset& p) { spin->setValue(int(numericValue(p, f))); },
                         [&f, spin](Preset& p) { setNumericValue(p, f, spin->value()); }});
}

void BindingTable::choice(const char* field, QButtonGroup* group) {
    const Field& f = fieldNamed(field);
    m_entries.push_back({field, group,
                         [&f, group](const Preset& p) {
                             if (auto* button = group->button(int(numericValue(p, f))))
                                 button->setChecked(true);
                         },
                         [&f, group](Preset& p) {
                             if (group->checkedId() >= 0) setNumericValue(p, f, group->checkedId());
                         }});
}

void BindingTable::combo(const char* field, QComboBox* combo) {
    const Field& f = fieldNamed(field);
    m_entries.push_back({field, combo,
                         [&f, combo](const Preset& p) {
                             const int at = combo->findData(int(numericValue(p, f)));
                             if (at >= 0) combo->setCurrentIndex(at);
                         },
                         [&f, combo](Preset& p) {
                             if (combo->currentIndex() >= 0)
                                 setNumericValue(p, f, combo->currentData().toInt());
                         }});
}

void BindingTable::text(const char* field, QLineEdit* edit) {
    const Field& f = fieldNamed(field);
    m_entries.push_back(
        {field, edit,
         [&f, edit](const Preset& p) { edit->setText(QString::fromStdString(textMember(p, f))); },
         [&f, edit](Preset& p) {
             // Bytes that are not UTF-8 survive when the text was not edited.
             if (edit->text() != QString::fromStdString(textMember(p, f)))
                 textMember(p, f) = edit->text().toStdString();
         }});
}

void BindingTable::text(const char* field, QPlainTextEdit* edit) {
    const Field& f = fieldNamed(field);
    m_entries.push_back(
        {field, edit,
         [&f, edit](const Preset& p) { edit->setPlainText(plainFromStored(textMember(p, f))); },
         [&f, edit](Preset& p) {
             // The edit shows line feeds; the record keeps CR LF line breaks.
             const QString shown = edit->toPlainText();
             if (shown == plainFromStored(textMember(p, f))) return;
             QString stored = shown;
             stored.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
             textMember(p, f) = stored.toStdString();
         }});
}

void BindingTable::colour(const char* field, ColorButton* button) {
    const Field& f = fieldNamed(field);
    m_entries.push_back(
        {field, button,
         [&f, button](const Preset& p) { button->setColour(std::uint32_t(numericValue(p, f))); },
         [&f, button](Preset& p) { setNumericValue(p, f, button->colour()); }});
}

void BindingTable::dateTime(const char* field, QDateTimeEdit* edit) {
    const Field& f = fieldNamed(field);
    edit->setTimeSpec(Qt::UTC);
    // The value last shown for a stored 0, so that an untouched 0 stays 0.
    auto shownForZero = std::make_shared<QDateTime>();
    m_entries.push_back({field, edit,
                         [&f, edit, shownForZero](const Preset& p) {
                             const std::int64_t seconds = numericValue(p, f);
                             QDateTime value;
                             if (seconds == 0) {
                                 // Local wall-clock time counted as if it were UTC, as every date
                                 // of the record.
                                 const QDateTime now = QDateTime::currentDateTime();
                                 value = QDateTime(now.date(),
                                                   QTime(now.time().hour(), now.time().minute()),
                                                   Qt::UTC);
                                 *shownForZero = value;
                             } else {
                                 value = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
                                 *shownForZero = QDateTime();
                             }
                             edit->setDateTime(value);
                         },
                         [&f, edit, shownForZero](Preset& p) {
                             if (shownForZero->isValid() && edit->dateTime() == *shownForZero)
                                 return;
                             setNumericValue(p, f, edit->dateTime().toSecsSinceEpoch());
                         }});
}

void BindingTable::custom(const char* field, QObject* control,
                          std::function<void(const Preset&)> load,
                          std::function<void(Preset&)> store) {
    (void)fieldNamed(field);
    m_entries.push_back({field, control, std::move(load), std::move(store)});
}

void BindingTable::settingsToControls(const Preset& preset) const {
    for (const auto& entry : m_entries)
        entry.load(preset);
}

void BindingTable::controlsToSettings(Preset& preset) const {
    for (const auto& entry : m_entries)
        entry.store(preset);
}

void BindingTable::connectChanged(QObject* context, const std::function<void()>& onChange) const {
    for (const auto& entry : m_entries) {
        QObject* c = entry.control;
        if (auto* b = qobject_cast<QAbstractButton*>(c))
            QObject::connect(b, &QAbstractButton::toggled, context, onChange);
        else if (auto* a = qobject_cast<QAction*>(c))
            QObject::connect(a, &QAction::toggled, context, onChange);
        else if (auto* g = qobject_cast<QButtonGroup*>(c))
            QObject::connect(g, &QButtonGroup::idToggled, context, onChange);
        else if (auto* s = qobject_cast<QSpinBox*>(c))
            QObject::connect(s, &QSpinBox::valueChanged, context, onChange);
        else if (auto* cb = qobject_cast<QComboBox*>(c))
            QObject::connect(cb, &QComboBox::currentIndexChanged, context, onChange);
        else if (auto* e = qobject_cast<QLineEdit*>(c))
            QObject::connect(e, &QLineEdit::textChanged, context, onChange);
    }
}

} // namespace quill::app::ui
