// The context menus of the main window's pattern and size fields: insertion menus, preset sizes
// and the pattern preview.
#include "app/ui/field_menus.h"

#include "app/ui/preview/pattern_preview_window.h"
#include "app/ui/preview/placeholder_menu.h"
#include "settings/language_pack.h"
#include "settings/setting_files.h"
#include "settings/ui_text_ids.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSpinBox>

#include <utility>

namespace quill::app::ui {

namespace text = settings::text;
namespace {

QString T(int index) {
    return QString::fromStdString(settings::uiText(index));
}

/// Shows the field's own context menu at `at`, made by `makeMenu`, and deletes it after.
template <class Field, class MakeMenu>
void showMenuOf(Field* field, const QPoint& at, MakeMenu makeMenu) {
    QMenu* menu = makeMenu();
    menu->exec(field->mapToGlobal(at));
    delete menu;
}

} // namespace

FieldMenus::FieldMenus(const std::vector<const BindingTable*>& tables, Window window,
                       QObject* parent)
    : QObject(parent), m_window(std::move(window)) {
    for (const BindingTable* table : tables)
        for (const auto& entry : table->entries())
            m_controls.emplace(entry.field, entry.control);
    attachPatternMenus();
    attachSizeMenus();
}

QObject* FieldMenus::control(const char* field) const {
    const auto it = m_controls.find(field);
    return it == m_controls.end() ? nullptr : it->second;
}

void FieldMenus::showPatternPreview() {
    PatternPreviewWindow window(m_window.settings(), settings::shellFoldersFromPlatform(),
                                m_window.dialogParent);
    m_window.previewOpenChanged(true);
    window.exec();
    m_window.previewOpenChanged(false);
}

void FieldMenus::extendPatternMenu(QMenu* menu, QMenu* insert) {
    menu->addSeparator();
    insert->setTitle(T(text::kInsertPlaceholder));
    menu->addMenu(insert);
    menu->addAction(T(text::kPreview), this, [this] { showPatternPreview(); });
}

void FieldMenus::attachPatternMenus() {
    // The standard edit menu, then the placeholders and the pattern preview.
    const std::pair<const char*, InsertField> patterns[] = {
        {"overlayText", InsertField::OverlayText},
        {"commentText", InsertField::CommentText},
        {"renamePattern", InsertField::RenamePattern},
        {"outputDirPattern", InsertField::OutputDirPattern},
    };
    const auto attach = [this](auto* edit, InsertField kind) {
        edit->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(edit, &QWidget::customContextMenuRequested, this,
                [this, edit, kind](const QPoint& at) {
                    showMenuOf(edit, at, [&] {
                        QMenu* menu = edit->createStandardContextMenu();
                        extendPatternMenu(menu, makeInsertionMenu(menu, edit, kind));
                        return menu;
                    });
                });
    };
    for (const auto& [field, kind] : patterns) {
        QObject* object = control(field);
        if (auto* edit = qobject_cast<QLineEdit*>(object))
            attach(edit, kind);
        else if (auto* plain = qobject_cast<QPlainTextEdit*>(object))
            attach(plain, kind);
    }
}

void FieldMenus::attachSizeMenus() {
    // A preset size writes both fields and, for resizing, chooses the pixel mode; a percent
    // value chooses the percent mode.
    auto* resizeMode = qobject_cast<QButtonGroup*>(control("resizeMode"));
    const auto chooseMode = [resizeMode](settings::ResizeMode mode) {
        if (resizeMode && resizeMode->button(int(mode))) resizeMode->button(int(mode))->click();
    };
    enum class OnPick { ChoosePixelMode, KeepMode };
    const auto sizeMenu = [&](const char* widthField, const char* heightField, OnPick onPick) {
        auto* width = qobject_cast<QSpinBox*>(control(widthField));
        auto* height = qobject_cast<QSpinBox*>(control(heightField));
        if (!width || !height) return;
        for (QSpinBox* spin : {width, height}) {
            spin->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(spin, &QWidget::customContextMenuRequested, this,
                    [spin, width, height, onPick, chooseMode](const QPoint& at) {
                        showMenuOf(spin, at, [&] {
                            return makeSizeMenu(spin, [=](int w, int h) {
                                width->setValue(w);
                                height->setValue(h);
                                if (onPick == OnPick::ChoosePixelMode)
                                    chooseMode(settings::ResizeMode::Pixels);
                            });
                        });
                    });
        }
    };
    sizeMenu("resizeWidth", "resizeHeight", OnPick::ChoosePixelMode);
    sizeMenu("canvasWidth", "canvasHeight", OnPick::KeepMode);
    if (auto* percent = qobject_cast<QSpinBox*>(control("resizePercent"))) {
        percent->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(percent, &QWidget::customContextMenuRequested, this,
                [percent, chooseMode](const QPoint& at) {
                    showMenuOf(percent, at, [&] {
                        return makePercentMenu(percent, [=](int value) {
                            percent->setValue(value);
                            chooseMode(settings::ResizeMode::Percent);
                        });
                    });
                });
    }
}

} // namespace quill::app::ui
