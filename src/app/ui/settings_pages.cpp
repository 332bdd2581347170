// The fourteen settings pages of the main window and their bindings to the working settings.
#include "app/ui/settings_pages.h"

#include "app/ui/color_button.h"
#include "app/ui/filter_table.h"
#include "app/ui/focus_frame.h"
#include "imagefiles/format.h"
#include "imagefiles/size_limit.h"
#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"
#include "toolkit/text_renderer.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFontDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace quill::app::ui {

namespace text = settings::text;
namespace {

QString T(int index) {
    return QString::fromStdString(settings::uiText(index));
}

/// True when the radio button of `value` is the chosen one of `group`.
template <class Code> bool chosen(const QButtonGroup* group, Code value) {
    return group->checkedId() == int(value);
}

/// Helpers that build one page: a vertical layout of rows, each control bound as it is made.
class PageBuilder {
public:
    PageBuilder(SettingsPage& page, int titleText) : m_page(page) {
        m_page.titleText = titleText;
        m_content = new QWidget;
        m_layout = new QVBoxLayout(m_content);
        m_layout->setContentsMargins(0, 0, 0, 0);
    }

    QVBoxLayout* layout() { return m_layout; }
    QWidget* content() { return m_content; }
    SettingsPage& page() { return m_page; }
    BindingTable& bind() { return m_page.bindings; }

    QCheckBox* check(QLayout* into, int text, const char* field,
                     BindingTable::Sense sense = BindingTable::Sense::Direct) {
        auto* box = new QCheckBox(T(text));
        into->addWidget(box);
        bind().check(field, box, sense);
        return box;
    }
    /// The page's main switch: everything else on the page depends on it.
    QCheckBox* mainSwitch(int text, const char* field) {
        auto* box = check(m_layout, text, field);
        m_page.mainSwitch = box;
        return box;
    }
    QSpinBox* spin(QFormLayout* form, int label, const char* field) {
        auto* box = new QSpinBox;
        bind().spin(field, box);
        form->addRow(T(label), box);
        return box;
    }
    /// Exclusive radio buttons for the values 0.. of a field, one per text.
    QButtonGroup* radios(QLayout* into, std::initializer_list<int> texts, const char* field) {
        auto* group = new QButtonGroup(m_content);
        int value = 0;
        for (int text : texts) {
            auto* button = new QRadioButton(T(text));
            group->addButton(button, value++);
            into->addWidget(button);
        }
        bind().choice(field, group);
        return group;
    }
    QComboBox* combo(std::initializer_list<int> texts, const char* field) {
        auto* box = new QComboBox;
        int value = 0;
        for (int text : texts)
            box->addItem(T(text), value++);
        bind().combo(field, box);
        return box;
    }
    QGroupBox* group(int title, QLayout* inner) {
        auto* box = new QGroupBox(T(title));
        box->setLayout(inner);
        m_layout->addWidget(box);
        return box;
    }
    /// `widget` is enabled only while `condition` holds (and the page's switch is on).
    void dependsOn(QWidget* widget, std::function<bool()> condition) {
        m_page.dependents.emplace_back(widget, std::move(condition));
    }
    /// Every control added after the switch depends on it.
    void allDependOnSwitch(QWidget* keep = nullptr) {
        auto* on = m_page.mainSwitch;
        for (QWidget* child : m_content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child != on && child != keep) dependsOn(child, [on] { return on->isChecked(); });
        }
    }

    QWidget* finish() {
        m_layout->addStretch(1);
        m_page.widget = pageWithTitle(m_page.titleText, m_content);
        return m_page.widget;
    }

private:
    SettingsPage& m_page;
    QWidget* m_content;
    QVBoxLayout* m_layout;
};

QFormLayout* newForm() {
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    return form;
}

void buildFilterPage(SettingsPage& page) {
    PageBuilder b(page, text::kFilter);
    auto* on = b.mainSwitch(text::kApplyFilterConditions, "filterEnabled");
    on->setToolTip(T(text::kFilterConditionsText));
    // The conditions name the images to leave out, not the ones to keep: said where they are set,
    // and readable before the switch is turned on.
    auto* note = new QLabel(T(text::kFilterLeavesOutMatches));
    note->setWordWrap(true);
    b.layout()->addWidget(note);
    auto* table = new FilterTable;
    drawOwnFrame(table, OwnFrame::WhenFocused);
    b.layout()->addWidget(table, 1);
    b.bind().custom(
        "filterConditions", table,
        [table](const settings::Preset& p) { table->setConditions(p.filterConditions); },
        [table](settings::Preset& p) { p.filterConditions = table->conditions(); });
    auto* buttons = new QHBoxLayout;
    auto* add = new QPushButton(T(text::kAddCondition));
    auto* remove = new QPushButton(T(text::kRemoveCondition));
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    b.layout()->addLayout(buttons);
    QObject::connect(add, &QPushButton::clicked, table, &FilterTable::addCondition);
    QObject::connect(remove, &QPushButton::clicked, table, &FilterTable::removeSelected);
    for (QWidget* w :
         {static_cast<QWidget*>(table), static_cast<QWidget*>(add), static_cast<QWidget*>(remove)})
        b.dependsOn(w, [on] { return on->isChecked(); });
    b.finish();
    page.widget->setToolTip(QString());
}

void buildCropPage(SettingsPage& page) {
    PageBuilder b(page, text::kCrop);
    auto* on = b.mainSwitch(text::kEnableCropping, "cropEnabled");
    auto* modes = new QVBoxLayout;
    auto* mode = b.radios(modes, {text::kCutFixedMargins, text::kTrimUniformBordersAutomatically},
                          "cropMode");
    b.layout()->addLayout(modes);
    auto* margins = new QGridLayout;
    const char* marginFields[] = {"cropLeft", "cropRight", "cropTop", "cropBottom"};
    for (int i = 0; i < 4; ++i) {
        auto* box = new QSpinBox;
        b.bind().spin(marginFields[i], box);
        // The trim sides below use the same words: the margin is named by its side in full.
        box->setAccessibleName(T(text::kLeftMargin + i));
        auto* label = new QLabel(T(text::kLeft + i));
        label->setBuddy(box);
        margins->addWidget(label, i / 2, (i % 2) * 2);
        margins->addWidget(box, i / 2, (i % 2) * 2 + 1);
    }
    auto* marginGroup = b.group(text::kMargins, margins);
    auto* trim = new QVBoxLayout;
    auto* sides = new QHBoxLayout;
    const char* trimFields[] = {"trimLeft", "trimRight", "trimTop", "trimBottom"};
    for (int i = 0; i < 4; ++i)
        b.check(sides, text::kLeft + i, trimFields[i]);
    trim->addLayout(sides);
    auto* tolerances = newForm();
    b.spin(tolerances, text::kColourTolerance, "trimColorTolerance")
        ->setToolTip(T(text::kColourTolerance));
    b.spin(tolerances, text::kOutlierTolerance, "trimOutlierTolerance")
        ->setToolTip(T(text::kOutlierTolerance));
    trim->addLayout(tolerances);
    auto* trimGroup = b.group(text::kTrimSides, trim);
    b.dependsOn(mode->button(0), [on] { return on->isChecked(); });
    b.dependsOn(mode->button(1), [on] { return on->isChecked(); });
    b.dependsOn(marginGroup, [on, mode] {
        return on->isChecked() && chosen(mode, settings::CropMode::Margins);
    });
    b.dependsOn(trimGroup,
                [on, mode] { return on->isChecked() && chosen(mode, settings::CropMode::Trim); });
    b.finish();
}

void buildRotatePage(SettingsPage& page) {
    PageBuilder b(page, text::kRotate);
    auto* on = b.mainSwitch(text::kEnableRotatingFlipping, "rotateEnabled");
    auto* modes = new QVBoxLayout;
    auto* group = b.radios(modes,
                           {text::kRotate90CounterClockwise, text::kRotate90Clockwise,
                            text::kRotate180, text::kMirrorLeftRight, text::kMirrorTopBottom,
                            text::kTranspose, text::kTransverse, text::kUprightExifOrientation},
                           "rotateMode");
    b.layout()->addLayout(modes);
    for (auto* button : group->buttons())
        b.dependsOn(button, [on] { return on->isChecked(); });
    b.finish();
}

void buildResizePage(SettingsPage& page) {
    PageBuilder b(page, text::kResize);
    auto* on = b.mainSwitch(text::kEnableResizing, "resizeEnabled");
    auto* modes = new QHBoxLayout;
    auto* mode = b.radios(modes, {text::kTargetSizePixels, text::kPercentage}, "resizeMode");
    modes->addStretch(1);
    b.layout()->addLayout(modes);
    const auto pixelsOn = [on, mode] {
        return on->isChecked() && chosen(mode, settings::ResizeMode::Pixels);
    };
    const auto percentOn = [on, mode] {
        return on->isChecked() && chosen(mode, settings::ResizeMode::Percent);
    };
    // One form for both modes keeps the labels in one column.
    auto* form = newForm();
    const auto spinRow = [&](int label, const char* field, std::function<bool()> condition) {
        auto* box = b.spin(form, label, field);
        b.dependsOn(box, condition);
        b.dependsOn(form->labelForField(box), std::move(condition));
        return box;
    };
    spinRow(text::kResizeWidth, "resizeWidth", pixelsOn)->setToolTip(T(text::kZeroDerivesSide));
    spinRow(text::kResizeHeight, "resizeHeight", pixelsOn)->setToolTip(T(text::kZeroDerivesSide));
    spinRow(text::kScale, "resizePercent", percentOn);
    b.layout()->addLayout(form);
    auto* aspect = b.check(b.layout(), text::kKeepAspectRatio, "resizeOption");
    b.dependsOn(aspect, pixelsOn);
    // The record holds which directions are allowed (1 shrink, 2 enlarge); each box restricts
    // the size to one direction by clearing the other direction's bit.
    auto* limits = new QHBoxLayout;
    auto* onlyShrink = new QCheckBox(T(text::kOnlyShrink));
    auto* onlyEnlarge = new QCheckBox(T(text::kOnlyEnlarge));
    limits->addWidget(onlyShrink);
    limits->addWidget(onlyEnlarge);
    limits->addStretch(1);
    b.bind().checkBit("resizeLimits", onlyShrink,
                      std::uint32_t(settings::ResizeLimits::EnlargeOnly),
                      BindingTable::Sense::Inverted);
    b.bind().checkBit("resizeLimits", onlyEnlarge,
                      std::uint32_t(settings::ResizeLimits::ShrinkOnly),
                      BindingTable::Sense::Inverted);
    b.dependsOn(b.group(text::kSizeLimits, limits), pixelsOn);
    b.dependsOn(mode->button(0), [on] { return on->isChecked(); });
    b.dependsOn(mode->button(1), [on] { return on->isChecked(); });
    b.finish();
}

void buildColoursPage(SettingsPage& page) {
    PageBuilder b(page, text::kColoursPage);
    auto* grid = new QGridLayout;
    struct Row {
        int check, label;
        const char *flag, *level;
    };
    const Row rows[] = {
        {text::kEnableBrightness, text::kBrightnessLevel, "brightnessEnabled", "brightnessLevel"},
        {text::kEnableSaturation, text::kSaturation, "saturationEnabled", "saturationLevel"},
        {text::kEnableContrast, text::kContrast, "contrastEnabled", "contrastLevel"},
        {text::kEnableGamma, text::kGamma, "gammaEnabled", "gammaLevel"}};
    int r = 0;
    for (const Row& row : rows) {
        auto* box = new QCheckBox(T(row.check));
        b.bind().check(row.flag, box);
        page.stepSwitches.push_back(box);
        auto* level = new QSpinBox;
        b.bind().spin(row.level, level);
        level->setToolTip(T(text::kNeutralValue100));
        level->setAccessibleName(T(row.label));
        level->setAccessibleDescription(T(text::kNeutralValue100));
        grid->addWidget(box, r, 0);
        grid->addWidget(level, r, 1);
        b.dependsOn(level, [box] { return box->isChecked(); });
        ++r;
    }
    auto* channels = new QCheckBox(T(text::kEnableChannelOffsets));
    b.bind().check("channelAdjustEnabled", channels);
    page.stepSwitches.push_back(channels);
    grid->addWidget(channels, r++, 0, 1, 2);
    const char* channelFields[] = {"channelAdjustRed", "channelAdjustGreen", "channelAdjustBlue"};
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(T(text::kRed + i));
        auto* level = new QSpinBox;
        b.bind().spin(channelFields[i], level);
        level->setToolTip(T(text::kNeutralValue100));
        level->setAccessibleDescription(T(text::kNeutralValue100));
        label->setBuddy(level);
        label->setIndent(20);
        grid->addWidget(label, r, 0);
        grid->addWidget(level, r++, 1);
        b.dependsOn(label, [channels] { return channels->isChecked(); });
        b.dependsOn(level, [channels] { return channels->isChecked(); });
    }
    grid->setColumnStretch(2, 1);
    b.layout()->addLayout(grid);
    b.layout()->addWidget(new QLabel(T(text::kNeutralValue100)));
    b.finish();
}

void buildCanvasPage(SettingsPage& page) {
    PageBuilder b(page, text::kCanvas);
    auto* on = b.mainSwitch(text::kEnableCanvas, "canvasEnabled");
    auto* form = newForm();
    auto* width = b.spin(form, text::kCanvasWidth, "canvasWidth");
    auto* height = b.spin(form, text::kCanvasHeight, "canvasHeight");
    b.layout()->addLayout(form);
    auto* modes = new QVBoxLayout;
    auto* mode = b.radios(modes, {text::kFillColour, text::kTransparent, text::kExtendEdgePixels},
                          "canvasMode");
    b.layout()->addLayout(modes);
    auto* colour = new ColorButton(T(text::kChooseColourButton));
    b.bind().colour("canvasColor", colour);
    auto* colourRow = new QHBoxLayout;
    colourRow->addWidget(colour);
    colourRow->addStretch(1);
    b.layout()->addLayout(colourRow);
    for (QWidget* w : {static_cast<QWidget*>(width), static_cast<QWidget*>(height)})
        b.dependsOn(w, [on] { return on->isChecked(); });
    for (auto* button : mode->buttons())
        b.dependsOn(button, [on] { return on->isChecked(); });
    b.dependsOn(colour, [on, mode] {
        return on->isChecked() && chosen(mode, settings::CanvasMode::Colour);
    });
    b.finish();
}

/// Whether a row's widgets keep their sizes (with space after them) or share the whole width.
enum class RowFill { LeftAligned, WholeWidth };

/// A row of widgets as one widget, so that a form row can be enabled and disabled as a whole.
QWidget* rowOf(std::initializer_list<QWidget*> widgets, RowFill fill) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : widgets)
        layout->addWidget(w);
    if (fill == RowFill::LeftAligned) layout->addStretch(1);
    return row;
}

/// The widget a label of `field` names: the field, or the first control of a row of them.
QWidget* firstTabStop(QWidget* field) {
    if (field->focusPolicy() & Qt::TabFocus) return field;
    for (QWidget* child : field->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->focusPolicy() & Qt::TabFocus) return child;
    return field;
}

/// The overlay page's one form, which keeps every label of the page in one column; each row is
/// enabled only while its condition holds.
struct OverlayForm {
    /// A row without a caption: its control says what it is.
    static constexpr int kNoLabel = -1;
    using Condition = std::function<bool()>;

    PageBuilder& b;
    QFormLayout* layout;

    void row(int label, QWidget* field, Condition condition) {
        auto* caption = label != kNoLabel ? new QLabel(T(label)) : nullptr;
        if (caption) {
            caption->setBuddy(firstTabStop(field));
            layout->addRow(caption, field);
            b.dependsOn(caption, condition);
        } else {
            layout->addRow(QString(), field);
        }
        b.dependsOn(field, std::move(condition));
    }
};
constexpr int kNoLabel = OverlayForm::kNoLabel;

/// The text overlay's rows: the text, its font and style, alignment, spacing and colour.
void addOverlayTextRows(OverlayForm& form, const OverlayForm::Condition& on) {
    auto* text = new QPlainTextEdit;
    text->setTabChangesFocus(true);
    drawOwnFrame(text, OwnFrame::Always);
    text->setFixedHeight(text->fontMetrics().lineSpacing() * 3 + 12);
    text->setToolTip(T(text::kPlaceholdersText));
    form.b.bind().text("overlayText", text);
    form.row(text::kOverlayText, text, on);
    auto* fontName = new QLineEdit;
    form.b.bind().text("overlayFontName", fontName);
    auto* chooseFont = new QPushButton(T(text::kFont));
    auto* fontRow = rowOf({fontName, chooseFont}, RowFill::WholeWidth);
    static_cast<QHBoxLayout*>(fontRow->layout())->setStretch(0, 1);
    form.row(text::kChooseFont, fontRow, on);
    auto* fontSize = new QSpinBox;
    form.b.bind().spin("overlayFontSize", fontSize);
    form.row(text::kFontSize, rowOf({fontSize}, RowFill::LeftAligned), on);
    QObject::connect(chooseFont, &QPushButton::clicked, fontName, [fontName, fontSize] {
        bool ok = false;
        QFont initial(fontName->text());
        initial.setPixelSize(fontSize->value());
        const QFont font =
            QFontDialog::getFont(&ok, initial, fontName->window(), T(text::kChooseFont));
        if (!ok) return;
        fontName->setText(font.family());
        if (font.pixelSize() > 0) fontSize->setValue(font.pixelSize());
    });
    auto* styles = new QWidget;
    auto* styleLayout = new QHBoxLayout(styles);
    styleLayout->setContentsMargins(0, 0, 0, 0);
    const std::pair<int, std::uint32_t> styleBits[] = {
        {text::kBold, toolkit::kFontStyleBold},
        {text::kItalic, toolkit::kFontStyleItalic},
        {text::kUnderline, toolkit::kFontStyleUnderline},
        {text::kStrikeOut, toolkit::kFontStyleStrikeOut}};
    for (auto [label, bit] : styleBits) {
        auto* box = new QCheckBox(T(label));
        form.b.bind().checkBit("overlayFontStyle", box, bit);
        styleLayout->addWidget(box);
    }
    styleLayout->addStretch(1);
    form.row(kNoLabel, styles, on);
    // Combo boxes read out their value: each says what it aligns.
    auto* textAlign =
        form.b.combo({text::kAlignLeft, text::kAlignCentre, text::kAlignRight}, "overlayTextAlign");
    textAlign->setAccessibleName(T(text::kTextAlignment));
    form.row(text::kAlignment, rowOf({textAlign}, RowFill::LeftAligned), on);
    auto* spacing = new QSpinBox;
    form.b.bind().spin("overlayLineSpacing", spacing);
    form.row(text::kLineSpacing, rowOf({spacing}, RowFill::LeftAligned), on);
    auto* textColour = new ColorButton(T(text::kTextColour));
    form.b.bind().colour("overlayTextColor", textColour);
    form.row(kNoLabel, rowOf({textColour}, RowFill::LeftAligned), on);
}

/// The image overlay's rows: the image file and its scale.
void addOverlayImageRows(OverlayForm& form, const OverlayForm::Condition& on) {
    auto* imagePath = new PathEdit(PathEdit::Kind::File);
    form.b.bind().text("overlayImagePath", imagePath);
    auto* browse = new QPushButton(T(text::kBrowse));
    auto* imageRow = rowOf({imagePath, browse}, RowFill::WholeWidth);
    static_cast<QHBoxLayout*>(imageRow->layout())->setStretch(0, 1);
    form.row(text::kImageFile, imageRow, on);
    QObject::connect(browse, &QPushButton::clicked, imagePath, [imagePath] {
        const QString file = QFileDialog::getOpenFileName(imagePath->window(), T(text::kImageFile),
                                                          imagePath->text());
        if (!file.isEmpty()) imagePath->setText(file);
    });
    auto* scale = new QSpinBox;
    form.b.bind().spin("overlayImageScale", scale);
    form.row(text::kImageScale, rowOf({scale}, RowFill::LeftAligned), on);
}

/// The rows both kinds share: outline, opacity and position.
void addOverlayPlacementRows(OverlayForm& form, const OverlayForm::Condition& on) {
    auto* outline = new QCheckBox(T(text::kOutlineFrame));
    form.b.bind().check("overlayOutline", outline);
    form.row(kNoLabel, outline, on);
    const auto outlineOn = [on, outline] { return on() && outline->isChecked(); };
    auto* outlineWidth = new QSpinBox;
    form.b.bind().spin("overlayOutlineWidth", outlineWidth);
    form.row(text::kOutlineWidth, rowOf({outlineWidth}, RowFill::LeftAligned), outlineOn);
    auto* outlineColour = new ColorButton(T(text::kOutlineColour));
    form.b.bind().colour("overlayOutlineColor", outlineColour);
    form.row(kNoLabel, rowOf({outlineColour}, RowFill::LeftAligned), outlineOn);
    auto* opacity = new QSpinBox;
    form.b.bind().spin("overlayOpacity", opacity);
    form.row(text::kOpacity, rowOf({opacity}, RowFill::LeftAligned), on);
    auto* hAlign = form.b.combo({text::kFromLeft, text::kCentredHorizontally, text::kFromRight},
                                "overlayHorizontalAlign");
    hAlign->setAccessibleName(T(text::kHorizontalAlignment));
    auto* hMargin = new QSpinBox;
    hMargin->setToolTip(T(text::kMarginPixels));
    hMargin->setAccessibleName(T(text::kHorizontalMargin));
    form.b.bind().spin("overlayHorizontalMargin", hMargin);
    form.row(text::kHorizontalPosition, rowOf({hAlign, hMargin}, RowFill::LeftAligned), on);
    auto* vAlign = form.b.combo({text::kFromTop, text::kCentredVertically, text::kFromBottom},
                                "overlayVerticalAlign");
    vAlign->setAccessibleName(T(text::kVerticalAlignment));
    auto* vMargin = new QSpinBox;
    vMargin->setToolTip(T(text::kMarginPixels));
    vMargin->setAccessibleName(T(text::kVerticalMargin));
    form.b.bind().spin("overlayVerticalMargin", vMargin);
    form.row(text::kVerticalPosition, rowOf({vAlign, vMargin}, RowFill::LeftAligned), on);
}

void buildOverlayPage(SettingsPage& page) {
    PageBuilder b(page, text::kOverlay);
    auto* on = b.mainSwitch(text::kEnableOverlay, "overlayEnabled");
    auto* kinds = new QHBoxLayout;
    auto* kind = b.radios(kinds, {text::kTextOverlay, text::kImageOverlay}, "overlayKind");
    kinds->addStretch(1);
    b.layout()->addLayout(kinds);
    b.dependsOn(kind->button(0), [on] { return on->isChecked(); });
    b.dependsOn(kind->button(1), [on] { return on->isChecked(); });

    OverlayForm form{b, new QFormLayout};
    form.layout->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    b.layout()->addLayout(form.layout);
    addOverlayTextRows(
        form, [on, kind] { return on->isChecked() && chosen(kind, settings::OverlayKind::Text); });
    addOverlayImageRows(
        form, [on, kind] { return on->isChecked() && chosen(kind, settings::OverlayKind::Image); });
    addOverlayPlacementRows(form, [on] { return on->isChecked(); });
    b.finish();
}

void buildSortingPage(SettingsPage& page) {
    PageBuilder b(page, text::kSorting);
    auto* on = b.mainSwitch(text::kEnableSorting, "sortEnabled");
    auto* form = newForm();
    auto* key =
        b.combo({text::kRandomOrder, text::kSortFileName, text::kSortFileSize, text::kSortImageDate,
                 text::kSortWidth, text::kSortHeight, text::kSortPixelCount, text::kAspectRatio,
                 text::kSortColourCount, text::kAverageBrightness},
                "sortKey");
    form->addRow(T(text::kSortBy), key);
    b.layout()->addLayout(form);
    auto* directions = new QHBoxLayout;
    // The record stores 1 for ascending: button ids are the stored values.
    auto* group = new QButtonGroup(b.content());
    auto* ascending = new QRadioButton(T(text::kAscending));
    auto* descending = new QRadioButton(T(text::kDescending));
    group->addButton(ascending, 1);
    group->addButton(descending, 0);
    directions->addWidget(ascending);
    directions->addWidget(descending);
    directions->addStretch(1);
    b.bind().choice("sortAscending", group);
    b.layout()->addLayout(directions);
    for (QWidget* w : {static_cast<QWidget*>(key), static_cast<QWidget*>(ascending),
                       static_cast<QWidget*>(descending)})
        b.dependsOn(w, [on] { return on->isChecked(); });
    // Random order has no direction.
    const auto ordered = [on, key] {
        return on->isChecked() && key->currentIndex() != int(settings::SortKey::Random);
    };
    b.dependsOn(ascending, ordered);
    b.dependsOn(descending, ordered);
    b.finish();
}

void buildMetadataPage(SettingsPage& page) {
    PageBuilder b(page, text::kMetadata);
    auto* comment = b.mainSwitch(text::kWriteComment, "commentEnabled");
    auto* form = newForm();
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    auto* text = new QLineEdit;
    text->setToolTip(T(text::kPlaceholdersText));
    b.bind().text("commentText", text);
    form->addRow(T(text::kCommentText), text);
    b.layout()->addLayout(form);
    b.dependsOn(text, [comment] { return comment->isChecked(); });
    // The page shows the opposite of keepMetadata.
    auto* removeMetadata =
        b.check(b.layout(), text::kRemoveMetadata, "keepMetadata", BindingTable::Sense::Inverted);
    removeMetadata->setToolTip(T(text::kMetadataFileDatesText));
    // Location removal acts on the metadata that is kept: greyed while all of it is removed.
    auto* removeLocation = b.check(b.layout(), text::kRemoveLocation, "removeLocation");
    b.dependsOn(removeLocation, [removeMetadata] { return !removeMetadata->isChecked(); });
    b.check(b.layout(), text::kConvertToSrgb, "convertToSrgb");
    b.finish();
}

void buildFileDatesPage(SettingsPage& page) {
    PageBuilder b(page, text::kFileDates);
    auto* on = b.mainSwitch(text::kSetFileDates, "setFileDates");
    auto* sources = new QVBoxLayout;
    auto* source = b.radios(
        sources,
        {text::kKeepSourceDates, text::kFixedDate, text::kImageDateExif, text::kShiftSourceDates},
        "fileDateSource");
    auto* sourceBox = b.group(text::kDateSource, sources);
    auto* form = newForm();
    auto* date = new QDateTimeEdit;
    date->setCalendarPopup(true);
    date->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    date->setMinimumDateTime(QDateTime::fromSecsSinceEpoch(1, Qt::UTC));
    date->setMaximumDateTime(QDateTime::fromSecsSinceEpoch(0xFFFFFFFFll, Qt::UTC));
    b.bind().dateTime("fixedFileDate", date);
    // Its label is also the caption of the choice that turns it on.
    date->setAccessibleName(T(text::kFixedDateAndTime));
    form->addRow(T(text::kFixedDate), date);
    auto* shift = new QSpinBox;
    b.bind().spin("fileDateShiftMinutes", shift);
    shift->setToolTip(T(text::kDateShift));
    form->addRow(T(text::kShiftMinutes), shift);
    b.layout()->addLayout(form);
    b.dependsOn(sourceBox, [on] { return on->isChecked(); });
    b.dependsOn(date, [on, source] {
        return on->isChecked() && chosen(source, settings::FileDateSource::Fixed);
    });
    b.dependsOn(shift, [on, source] {
        return on->isChecked() && chosen(source, settings::FileDateSource::Shifted);
    });
    b.check(b.layout(), text::kResetFileAttributes, "resetFileAttributes")
        ->setToolTip(T(text::kNormal));
    b.finish();
}

// The text of each output choice, by the format it writes; the PDF choice has no row of its own.
int outputChoiceText(imagefiles::FormatKind kind) {
    switch (kind) {
    case imagefiles::FormatKind::Jpeg:
        return text::kJpeg;
    case imagefiles::FormatKind::Png:
        return text::kPng;
    case imagefiles::FormatKind::Bmp:
        return text::kBmp;
    case imagefiles::FormatKind::Jpeg2000:
        return text::kJpeg2000;
    case imagefiles::FormatKind::Webp:
        return text::kWebp;
    case imagefiles::FormatKind::Avif:
        return text::kAvif;
    case imagefiles::FormatKind::JpegXl:
        return text::kJpegXl;
    case imagefiles::FormatKind::Tiff:
        return text::kTiff;
    default:
        return -1;
    }
}

// The choices of `outputFormat` in the order of their values: the writable formats of the format
// table, and PDF.
QButtonGroup* outputFormatChoices(PageBuilder& b, QGridLayout* into) {
    constexpr int kPerRow = 5;
    auto* group = new QButtonGroup(b.content());
    const int choices = int(settings::OutputFormat::Tiff) + 1;
    for (int value = 0; value < choices; ++value) {
        const imagefiles::FormatInfo* format = imagefiles::formatForOutputChoice(value);
        const int label = value == int(settings::OutputFormat::Pdf) ? text::kPdf
                          : format != nullptr                       ? outputChoiceText(format->kind)
                                                                    : -1;
        if (label < 0) continue;
        auto* button = new QRadioButton(T(label));
        group->addButton(button, value);
        into->addWidget(button, value / kPerRow, value % kPerRow);
    }
    into->setColumnStretch(kPerRow, 1);
    b.bind().choice("outputFormat", group);
    return group;
}

// What the quality value means for the chosen output format.
int qualityScaleText(bool converting, int outputFormat) {
    const imagefiles::FormatInfo* format = imagefiles::formatForOutputChoice(outputFormat);
    if (!converting || format == nullptr) return text::kQualityScale;
    switch (format->quality) {
    case imagefiles::QualityScale::LosslessAtTop:
        return text::kQualityScaleLossless;
    case imagefiles::QualityScale::None:
        return text::kQualityNotUsed;
    default:
        return text::kQualityScale;
    }
}

void buildOutputFormatPage(SettingsPage& page) {
    PageBuilder b(page, text::kOutputFormat);
    auto* on = b.mainSwitch(text::kConvertFormat, "convertFormat");
    auto* formats = new QGridLayout;
    auto* format = outputFormatChoices(b, formats);
    b.layout()->addLayout(formats);
    for (auto* button : format->buttons())
        b.dependsOn(button, [on] { return on->isChecked(); });
    auto* grid = new QGridLayout;
    auto* quality = new QCheckBox(T(text::kSetQuality));
    b.bind().check("qualityEnabled", quality);
    auto* qualitySpin = new QSpinBox;
    qualitySpin->setToolTip(T(text::kQuality110));
    qualitySpin->setAccessibleName(T(text::kQuality110));
    b.bind().spin("quality", qualitySpin);
    // The scale of the value on show under it, not only in its tooltip; a row of its own keeps
    // the columns as narrow as the controls.
    auto* qualityScale = new QLabel(T(text::kQualityScale));
    qualityScale->setIndent(20);
    grid->addWidget(quality, 0, 0);
    grid->addWidget(qualitySpin, 0, 1);
    grid->addWidget(qualityScale, 1, 0, 1, 3);
    auto* depth = new QCheckBox(T(text::kSetColourDepth));
    b.bind().check("colorDepthEnabled", depth);
    auto* depthCombo = b.combo({text::kDepth1Bit, text::kDepth4Bits, text::kDepth8Bits,
                                text::kDepth24Bits, text::kDepth32Bits},
                               "colorDepth");
    depthCombo->setAccessibleName(T(text::kColourDepth));
    grid->addWidget(depth, 2, 0);
    grid->addWidget(depthCombo, 2, 1);
    // The largest file a lossy format may write, in KiB; 0 writes any size.
    auto* sizeLabel = new QLabel(T(text::kOutputSizeLimit));
    auto* sizeSpin = new QSpinBox;
    sizeSpin->setSuffix(QStringLiteral(" KiB"));
    sizeSpin->setSpecialValueText(T(text::kSizeLimitOff));
    sizeSpin->setAccessibleName(T(text::kOutputSizeLimit));
    sizeLabel->setBuddy(sizeSpin);
    b.bind().spin("outputSizeLimit", sizeSpin);
    grid->addWidget(sizeLabel, 3, 0);
    grid->addWidget(sizeSpin, 3, 1);
    grid->setColumnStretch(3, 1);
    b.layout()->addLayout(grid);
    auto* reduce = b.check(b.layout(), text::kReduceColoursPalette, "colorDepthOption");
    b.dependsOn(qualitySpin, [quality] { return quality->isChecked(); });
    b.dependsOn(qualityScale, [quality] { return quality->isChecked(); });
    // The scale under the value is read with it as its description.
    qualitySpin->setAccessibleDescription(qualityScale->text());
    const auto showScale = [qualityScale, qualitySpin, on, format] {
        qualityScale->setText(T(qualityScaleText(on->isChecked(), format->checkedId())));
        qualitySpin->setAccessibleDescription(qualityScale->text());
    };
    QObject::connect(format, &QButtonGroup::idToggled, qualityScale, showScale);
    QObject::connect(on, &QCheckBox::toggled, qualityScale, showScale);
    // Without a conversion each source keeps its format, which may take the limit.
    const auto limitApplies = [on, format] {
        if (!on->isChecked() || format->checkedId() == int(settings::OutputFormat::Pdf))
            return true;
        const imagefiles::FormatInfo* chosen =
            imagefiles::formatForOutputChoice(format->checkedId());
        return chosen != nullptr && imagefiles::takesSizeLimit(chosen->encoder);
    };
    b.dependsOn(sizeLabel, limitApplies);
    b.dependsOn(sizeSpin, limitApplies);
    b.dependsOn(depthCombo, [depth] { return depth->isChecked(); });
    // The palette reduction only applies below 24 bits.
    b.dependsOn(reduce, [depth, depthCombo] {
        return depth->isChecked() && depthCombo->currentIndex() < int(settings::ColorDepth::Bits24);
    });
    b.finish();
}

void buildRenamingPage(SettingsPage& page) {
    PageBuilder b(page, text::kRenaming);
    auto* on = b.mainSwitch(text::kRename, "renameEnabled");
    on->setToolTip(T(text::kOutputNamesText));
    auto* form = newForm();
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    auto* pattern = new QLineEdit;
    pattern->setToolTip(T(text::kPlaceholdersText));
    b.bind().text("renamePattern", pattern);
    form->addRow(T(text::kNamePattern), pattern);
    b.layout()->addLayout(form);
    auto* perFolder = b.check(b.layout(), text::kNumberPerOutputFolder, "perFolderNumbering");
    auto* noPadding = b.check(b.layout(), text::kNumbersWithoutLeadingZeros, "noZeroPadding");
    for (QWidget* w : {static_cast<QWidget*>(pattern), static_cast<QWidget*>(perFolder),
                       static_cast<QWidget*>(noPadding)})
        b.dependsOn(w, [on] { return on->isChecked(); });
    b.finish();
}

void buildOutputDirectoryPage(SettingsPage& page) {
    PageBuilder b(page, text::kOutputDirectory);
    auto* targets = new QVBoxLayout;
    auto* group = new QButtonGroup(b.content());
    auto* toFolder = new QRadioButton(T(text::kOutputFolder));
    auto* replace = new QRadioButton(T(text::kReplaceSourceFiles));
    group->addButton(toFolder, 1);
    group->addButton(replace, 0);
    targets->addWidget(toFolder);
    targets->addWidget(replace);
    b.bind().choice("outputDirEnabled", group);
    b.layout()->addLayout(targets);
    auto* form = newForm();
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    auto* row = new QHBoxLayout;
    auto* pattern = new PathEdit(PathEdit::Kind::Directory);
    pattern->setToolTip(T(text::kPlaceholdersText));
    b.bind().text("outputDirPattern", pattern);
    auto* browse = new QPushButton(T(text::kBrowse));
    row->addWidget(pattern, 1);
    row->addWidget(browse);
    auto* patternLabel = new QLabel(T(text::kDirectoryPattern));
    patternLabel->setBuddy(pattern);
    form->addRow(patternLabel, row);
    QObject::connect(browse, &QPushButton::clicked, pattern, [pattern] {
        QString dir = QFileDialog::getExistingDirectory(pattern->window(), T(text::kSelectFolder));
        if (dir.isEmpty()) return;
        if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
        pattern->setText(dir);
    });
    b.layout()->addLayout(form);
    auto* mirror = b.check(b.layout(), text::kMirrorSubfolders, "mirrorSubfolders");
    auto* move = b.check(b.layout(), text::kMoveOriginals, "moveOriginal");
    for (QWidget* w : {static_cast<QWidget*>(pattern), static_cast<QWidget*>(browse),
                       static_cast<QWidget*>(mirror), static_cast<QWidget*>(move)})
        b.dependsOn(w, [toFolder] { return toFolder->isChecked(); });
    b.finish();
}

/// Whether a layout item holds a widget that is enabled.
bool anyEnabled(QLayoutItem* item) {
    if (QWidget* widget = item->widget()) return widget->isEnabled();
    if (QLayout* layout = item->layout()) {
        for (int i = 0; i < layout->count(); ++i)
            if (anyEnabled(layout->itemAt(i))) return true;
    }
    return false;
}

/// A label's text as read: without its mnemonic marker and a closing colon.
QString readable(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    text = text.trimmed();
    if (text.endsWith(QLatin1Char(':'))) text.chop(1);
    return text.trimmed();
}

/// The text that labels `control` on `page`: a button's own text, the title of the group of a
/// choice, or the label of the form row that holds the control.
QString controlLabel(QObject* control, QWidget* page) {
    if (auto* button = qobject_cast<QAbstractButton*>(control)) return readable(button->text());
    if (auto* group = qobject_cast<QButtonGroup*>(control)) {
        const auto buttons = group->buttons();
        auto* box =
            buttons.isEmpty() ? nullptr : qobject_cast<QGroupBox*>(buttons.front()->parentWidget());
        return box ? readable(box->title()) : QString();
    }
    auto* widget = qobject_cast<QWidget*>(control);
    if (!widget || !page) return {};
    for (QFormLayout* form : page->findChildren<QFormLayout*>()) {
        // The control itself, the row widget around it, or the row layout that holds it.
        for (QWidget* up = widget; up && up != page; up = up->parentWidget()) {
            if (auto* label = qobject_cast<QLabel*>(form->labelForField(up)))
                return readable(label->text());
        }
        for (int row = 0; row < form->rowCount(); ++row) {
            QLayoutItem* field = form->itemAt(row, QFormLayout::FieldRole);
            if (!field || !field->layout() || field->layout()->indexOf(widget) < 0) continue;
            if (auto* label = qobject_cast<QLabel*>(form->labelForField(field->layout())))
                return readable(label->text());
        }
    }
    // A grid row: the label or switch to the left of the control.
    for (QGridLayout* grid : page->findChildren<QGridLayout*>()) {
        const int at = grid->indexOf(widget);
        if (at < 0) continue;
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(at, &row, &column, &rows, &columns);
        for (int left = column - 1; left >= 0; --left) {
            QLayoutItem* item = grid->itemAtPosition(row, left);
            QWidget* neighbour = item ? item->widget() : nullptr;
            if (auto* label = qobject_cast<QLabel*>(neighbour)) return readable(label->text());
            if (auto* button = qobject_cast<QAbstractButton*>(neighbour))
                return readable(button->text());
        }
    }
    return {};
}

/// Draws the focused row of a list with a 2-pixel frame, where the style draws a thin dotted line
/// or nothing: in the highlight colour, or in the highlighted text's colour inside a selected
/// row, whose background is the highlight colour.
class FocusFrameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem plain(option);
        plain.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, plain, index);
        if (!(option.state & QStyle::State_HasFocus)) return;
        const bool selected = option.state & QStyle::State_Selected;
        QPen pen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Highlight),
                 kFocusFrameWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter->save();
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        // On a selected row the frame stands inside the highlight, which then borders it.
        const qreal in = kFocusFrameWidth / 2.0 + (selected ? kFocusFrameWidth : 0);
        painter->drawRect(QRectF(option.rect).adjusted(in, in, -in, -in));
        painter->restore();
    }

    // Each row leaves room above and below its text for the frame (and, on a selected row, for
    // the highlight around it), so that the frame never covers the page's name.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(0, 4 * kFocusFrameWidth);
    }

    static constexpr int kFocusFrameWidth = 2;
};

} // namespace

void setUpPageFrameAccess(QListWidget* pageList, QStackedWidget* pages, QTableView* imageView) {
    pageList->setAccessibleName(T(text::kSettingsPages));
    pageList->setItemDelegate(new FocusFrameDelegate(pageList));
    for (int i = 0; i < pages->count(); ++i) {
        if (auto* scroll = qobject_cast<QScrollArea*>(pages->widget(i))) {
            scroll->setFocusPolicy(Qt::NoFocus);
            scroll->viewport()->setFocusPolicy(Qt::NoFocus);
        }
    }
    imageView->setAccessibleName(T(text::kImageList));
    // Tab goes on to the list's buttons; the arrow keys move between the rows.
    imageView->setTabKeyNavigation(false);
}

QString settingName(const std::vector<std::unique_ptr<SettingsPage>>& pages,
                    std::string_view field) {
    for (const auto& page : pages) {
        for (const auto& entry : page->bindings.entries()) {
            if (entry.field != field) continue;
            const QString title = readable(T(page->titleText));
            const QString label = controlLabel(entry.control, page->widget);
            return label.isEmpty() ? title : title + QStringLiteral(": ") + label;
        }
    }
    return {};
}

void SettingsPage::updateDependents() const {
    // A later condition on the same widget refines an earlier one: all must hold.
    std::vector<std::pair<QWidget*, bool>> states;
    for (const auto& [widget, condition] : dependents) {
        auto it = std::find_if(states.begin(), states.end(),
                               [w = widget](const auto& s) { return s.first == w; });
        if (it == states.end())
            states.emplace_back(widget, condition());
        else
            it->second = it->second && condition();
    }
    for (const auto& [widget, enabled] : states)
        widget->setEnabled(enabled);
    // The label of a form row is greyed out with its field (a field of several widgets counts
    // as enabled while any of them is).
    if (!widget) return;
    for (QFormLayout* form : widget->findChildren<QFormLayout*>()) {
        for (int row = 0; row < form->rowCount(); ++row) {
            QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole);
            QLayoutItem* field = form->itemAt(row, QFormLayout::FieldRole);
            if (label && label->widget() && field) label->widget()->setEnabled(anyEnabled(field));
        }
    }
}

bool SettingsPage::switchedOn() const {
    if (mainSwitch) return mainSwitch->isChecked();
    return std::any_of(stepSwitches.begin(), stepSwitches.end(),
                       [](const QAbstractButton* box) { return box->isChecked(); });
}

PathEdit::PathEdit(Kind kind, QWidget* parent)
    : QLineEdit(parent), m_directory(kind == Kind::Directory) {}

void PathEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        QLineEdit::dragEnterEvent(event);
}

void PathEdit::dropEvent(QDropEvent* event) {
    const auto urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) {
        QLineEdit::dropEvent(event);
        return;
    }
    // Only the first dropped path is taken.
    QString path = urls.first().toLocalFile();
    if (m_directory && !path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    setText(path);
    event->acceptProposedAction();
}

QWidget* pageWithTitle(int titleText, QWidget* content) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* title = new QLabel(T(titleText));
    QFont font = title->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.3);
    title->setFont(font);
    layout->addWidget(title);
    layout->addWidget(content, 1);
    return page;
}

std::vector<std::unique_ptr<SettingsPage>> buildSettingsPages() {
    std::vector<std::unique_ptr<SettingsPage>> pages;
    void (*const builders[])(SettingsPage&) = {
        buildFilterPage,         buildCropPage,      buildRotatePage,       buildResizePage,
        buildColoursPage,        buildCanvasPage,    buildOverlayPage,      buildSortingPage,
        buildMetadataPage,       buildFileDatesPage, buildOutputFormatPage, buildRenamingPage,
        buildOutputDirectoryPage};
    for (auto* build : builders) {
        pages.push_back(std::make_unique<SettingsPage>());
        build(*pages.back());
    }
    return pages;
}

} // namespace quill::app::ui
