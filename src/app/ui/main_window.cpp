// The main window: page list, settings pages, image list, menu bar and keyboard shortcuts.
#include "app/ui/main_window.h"

#include "app/startup.h"
#include "app/ui/field_menus.h"
#include "app/ui/focus_frame.h"
#include "app/ui/help_dialogs.h"
#include "app/ui/path_drop_handler.h"
#include "app/ui/preview/presets_window.h"
#include "app/ui/preview/preview_popup.h"
#include "app/ui/qt_translations.h"
#include "app/ui/several_presets_dialog.h"
#include "batch/ui/preview_run.h"
#include "batch/ui/window_run.h"
#include "settings/language_pack.h"
#include "settings/setting_files.h"
#include "settings/ui_text_ids.h"
#include "toolkit/platform/platform.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCollator>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unordered_set>
#include <utility>

namespace quill::app::ui {

namespace text = settings::text;
namespace {

QString T(int index) {
    return QString::fromStdString(settings::uiText(index));
}

/// How often the live preview, the unsaved mark and the popup look at the controls, in ms.
constexpr int kControlsPollMs = 75;
/// The narrowest the page list gets, in pixels.
constexpr int kPageListMinWidth = 130;
/// How long the status bar says that the settings were saved, in ms.
constexpr int kSavedMessageMs = 5000;

/// Relative luminance of a colour as WCAG defines it (sRGB channels made linear).
double relativeLuminance(const QColor& colour) {
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

/// The contrast WCAG asks of normal text against its background.
constexpr double kTextContrast = 4.5;

/// `highlight`, darkened (or lightened, under dark text) step by step until `text` on it reaches
/// kTextContrast. Many light themes pair white text with a mid blue that falls short of it.
QColor readableHighlight(QColor highlight, const QColor& text) {
    const bool darken = contrastRatio(Qt::black, text) >= contrastRatio(Qt::white, text);
    for (int step = 0; step < 64 && contrastRatio(highlight, text) < kTextContrast; ++step)
        highlight = darken ? highlight.darker(108) : highlight.lighter(108);
    if (contrastRatio(highlight, text) < kTextContrast)
        highlight = darken ? QColor(Qt::black) : QColor(Qt::white);
    return highlight;
}

/// The Start button. It is drawn as the window's default button, the action the window is for;
/// the style draws a focused button the same way, so a frame two pixels wide in the button text's
/// colour shows inside it while it has the keyboard focus.
class StartButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override {
        QPushButton::paintEvent(event);
        if (!hasFocus()) return;
        QPainter painter(this);
        QPen pen(palette().color(QPalette::ButtonText), kFrameWidth);
        pen.setStyle(Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const qreal in = kFrameWidth / 2.0 + 3;
        painter.drawRect(QRectF(rect()).adjusted(in, in, -in, -in));
    }

private:
    static constexpr int kFrameWidth = 2;
};

/// Makes the page list as wide as its longest row in bold, the look of a page that is switched
/// on.
void fixPageListWidth(QListWidget* pageList) {
    for (int row = 0; row < pageList->count(); ++row) {
        QFont font = pageList->item(row)->font();
        font.setBold(true);
        pageList->item(row)->setFont(font);
    }
    const int listWidth = std::max(kPageListMinWidth, pageList->sizeHintForColumn(0) +
                                                          2 * pageList->frameWidth() + 12);
    for (int row = 0; row < pageList->count(); ++row)
        pageList->item(row)->setData(Qt::FontRole, QVariant());
    pageList->setMinimumWidth(listWidth);
    pageList->setMaximumWidth(listWidth);
}

} // namespace

MainWindow::MainWindow(AppContext& context, imagefiles::ImageList& images,
                       pipeline::RunFlags& flags, toolkit::qt::Questions& questions,
                       batch::ui::DesktopOpener* opener, QWidget* parent)
    : QMainWindow(parent), m_context(context), m_images(images), m_flags(flags),
      m_questions(questions), m_opener(opener ? *opener : batch::ui::desktopOpener()),
      m_loader(images, flags, m_model), m_scanner(m_model) {
    useQtTranslations(m_context.languageIndex);
    connect(&m_loader, &PathLoader::started, this, [this] {
        updateListCommands();
        updateStatus();
    });
    connect(&m_loader, &PathLoader::progressed, this, [this] { updateStatus(); });
    connect(&m_loader, &PathLoader::finished, this, &MainWindow::loaderFinished);
    connect(&m_scanner, &DetailScanner::finished, this, [this] { updateStatus(); });
    connect(&m_model, &QAbstractItemModel::modelReset, this, [this] { updateListCommands(); });
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, [this] { updateListCommands(); });
    // Images added after a sort are not in its order: the header stops saying it.
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, [this] {
        m_sortColumn = -1;
        if (m_imageView) m_imageView->horizontalHeader()->setSortIndicatorShown(false);
    });
    // The popup's arrows need at least two images; its row may have gone.
    connect(&m_model, &QAbstractItemModel::modelReset, this, [this] { updatePreviewPopup(); });
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, [this] { updatePreviewPopup(); });
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, [this] { updatePreviewPopup(); });
    m_status = new QLabel;
    statusBar()->addWidget(m_status, 1);
    m_presetState = new QLabel;
    statusBar()->addPermanentWidget(m_presetState);
    updateTitle();
    createShortcuts();
    m_drops =
        new PathDropHandler([this](const imagefiles::PathList& paths) { addPaths(paths); }, this);
    createPreviews();
    build();
    settingsToControls();
    fitToPages(Fit::Open);
    // Said once the window is on screen: the presets shown are the defaults, not the user's.
    if (m_context.presetsUnreadable)
        QTimer::singleShot(0, this, [this] { (void)presetsWritable(); });
}

void MainWindow::createShortcuts() {
    // The shortcuts outlive rebuilds; the menu shows them after a tab in the item text.
    const auto shortcut = [this](const QKeySequence& keys, auto slot) {
        auto* s = new QShortcut(keys, this);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_L), [this] { addFilesDialog(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { save(); });
    for (int digit = 0; digit < kMenuPresetCount; ++digit)
        shortcut(QKeySequence(Qt::CTRL | (Qt::Key_0 + digit)),
                 [this, digit] { selectPreset(digit); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), [this] { nextPage(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), [this] { previousPage(); });
    shortcut(QKeySequence(Qt::Key_F1), [this] { showAllHelpTopics(this); });
    shortcut(QKeySequence(Qt::Key_Escape), [this] { stopAdding(); });
    shortcut(QKeySequence(Qt::Key_F5), [this] { startRun(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_D), [this] { startPreviewRun(); });
}

void MainWindow::createPreviews() {
    m_livePreview = std::make_unique<LivePreview>(settings::runContextFromPlatform(0, 0));
    m_livePreview->setBackground(palette().color(QPalette::ToolTipBase));
    m_previewRun = std::make_unique<batch::ui::PreviewRun>(
        batch::ui::PreviewRunEnvironment{.images = m_images,
                                         .settings = m_context.workingSettings,
                                         .flags = m_flags,
                                         .questions = m_questions,
                                         .opener = m_opener,
                                         .previewDirectory = m_context.previewDirectory,
                                         .previewDirectoryUsed = m_context.previewDirectoryUsed,
                                         .pdfCreator = composeTitle({.version = true})},
        this);
    connect(m_previewRun.get(), &batch::ui::PreviewRun::started, this,
            &MainWindow::previewRunStarted);
    connect(m_previewRun.get(), &batch::ui::PreviewRun::finished, this,
            &MainWindow::previewRunFinished);
    createPreviewPopup();
    // The live preview and the title's mark of unsaved settings follow the page, the selection
    // and the controls every few hundredths of a second, from one reading of the controls.
    auto* previewTimer = new QTimer(this);
    connect(previewTimer, &QTimer::timeout, this, [this] {
        if (!m_imageView || m_rebuildScheduled) return;
        const settings::Preset current = settingsFromControls();
        updateLivePreview(current);
        refreshUnsavedMark(current);
    });
    // So does the popup, once a rebuilt list is on screen.
    connect(previewTimer, &QTimer::timeout, this, &MainWindow::updatePreviewPopup);
    previewTimer->start(kControlsPollMs);
}

bool MainWindow::presetsWritable() {
    if (!m_context.presetsUnreadable) return true;
    m_questions.ask(this, toolkit::qt::BoxKind::Warning, T(text::kWarning),
                    T(text::kPresetsUnreadable) + QStringLiteral("\n") +
                        QString::fromStdString(m_context.presetsFilePath));
    return false;
}

void MainWindow::fitToPages(Fit fit) {
    // The window opens large enough to show the tallest and widest page without scrolling, as
    // far as the screen allows; the pages scroll only on smaller screens. A rebuild in another
    // language only grows the window, so that longer texts fit and a size the user chose stays.
    QSize largest = m_imageListPage->sizeHint();
    for (const auto& page : m_pages)
        largest = largest.expandedTo(page->widget->sizeHint());
    // Slack for a scroll bar, so that a page that just fits never shows one.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    largest += QSize(bar, bar);
    QSize wanted;
    if (fit == Fit::GrowOnly) {
        // The shown window grows by what the pages lack.
        wanted = size() + (largest - m_stack->size()).expandedTo(QSize(0, 0));
    } else {
        const QSize minimum = m_stack->minimumSize();
        m_stack->setMinimumSize(largest.expandedTo(minimum));
        wanted = sizeHint();
        m_stack->setMinimumSize(minimum);
    }
    if (fit == Fit::GrowOnly) wanted = wanted.expandedTo(size());
    wanted = wanted.expandedTo(minimumSizeHint());
    // The first size leaves a tenth of the screen free where the pages allow.
    if (fit == Fit::Open && screen()) {
        const QSize room = screen()->availableGeometry().size() * 9 / 10;
        wanted = wanted.boundedTo(room).expandedTo(minimumSizeHint());
    }
    keepOnScreen(wanted);
}

void MainWindow::keepOnScreen(QSize wanted) {
    const QScreen* screen = this->screen();
    if (!screen) {
        resize(wanted);
        return;
    }
    // The window with its frame, and its smallest size, within the screen at any scale. The
    // frame is known once the window is shown (0 before).
    const QRect available = screen->availableGeometry();
    const QSize frame = frameGeometry().size() - size();
    const QSize room = (available.size() - frame).expandedTo(QSize(1, 1));
    setMinimumSize(minimumSizeHint().boundedTo(room));
    wanted = wanted.boundedTo(room);
    if (wanted != size()) resize(wanted);
    QRect place(pos(), wanted + frame);
    place.moveRight(std::min(place.right(), available.right()));
    place.moveBottom(std::min(place.bottom(), available.bottom()));
    place.moveLeft(std::max(place.left(), available.left()));
    place.moveTop(std::max(place.top(), available.top()));
    if (place.topLeft() != pos()) move(place.topLeft());
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Again once the frame is known.
    if (!m_placed) {
        m_placed = true;
        QTimer::singleShot(0, this, [this] { keepOnScreen(size()); });
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::build() {
    m_windowBindings = BindingTable();
    m_menu = std::make_unique<MainMenu>(*this, m_context);
    connect(m_menu.get(), &MainMenu::triggered, this, &MainWindow::runCommand);
    buildPages();
    setCentralWidget(buildCentral());
    setUpPageFrameAccess(m_pageList, m_stack, m_imageView);

    // Tab order: page list, command buttons, then the page.
    setTabOrder(m_pageList, m_addFiles);
    setTabOrder(m_addFiles, m_addFolder);
    setTabOrder(m_addFolder, m_start);
    setTabOrder(m_start, m_imageView);

    // Deleted with the pages' controls, as a child of the central widget that holds them.
    new FieldMenus(
        bindingTables(),
        {.dialogParent = this,
         .settings = [this] { return settingsFromControls(); },
         .previewOpenChanged = [this](bool open) { m_popup->setPlaceholderWindowOpen(open); }},
        centralWidget());
    updateListCommands();
}

void MainWindow::buildPages() {
    m_pageList = new QListWidget;
    // Four rows at least; the list scrolls on a small screen, where the window must fit.
    m_pageList->setMinimumSize(kPageListMinWidth, 4 * m_pageList->fontMetrics().height() + 24);
    m_pageList->setSelectionMode(QAbstractItemView::SingleSelection);

    m_stack = new QStackedWidget;
    m_imageListPage = buildImageListPage();
    m_pages = buildSettingsPages();
    m_pageList->addItem(T(text::kImageList));
    m_stack->addWidget(m_imageListPage);
    for (const auto& page : m_pages) {
        m_pageList->addItem(T(page->titleText));
        // A page taller than the window scrolls instead of being clipped.
        auto* scroll = new QScrollArea;
        scroll->setWidget(page->widget);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        m_stack->addWidget(scroll);
        const SettingsPage* p = page.get();
        p->bindings.connectChanged(this, [this, p] {
            p->updateDependents();
            refreshPageList();
        });
    }
    // Small, so that the window fits a small screen; the pages scroll in what they get.
    m_stack->setMinimumSize(200, 120);
    fixPageListWidth(m_pageList);
    makePageHighlightReadable();
    connect(m_pageList, &QListWidget::currentRowChanged, m_stack, &QStackedWidget::setCurrentIndex);
    connect(m_pageList, &QListWidget::currentRowChanged, this, [this] { updatePreviewPopup(); });
    m_windowBindings.custom(
        "selectedPage", m_pageList,
        [this](const settings::Preset& p) { m_pageList->setCurrentRow(p.selectedPage); },
        [this](settings::Preset& p) {
            if (m_pageList->currentRow() >= 0)
                p.selectedPage = std::uint8_t(m_pageList->currentRow());
        });
}

QWidget* MainWindow::buildCentral() {
    m_addFiles = new QPushButton(T(text::kAddFilesButton));
    m_addFolder = new QPushButton(T(text::kAddFolderButton));
    m_start = new StartButton(T(text::kStartButton));
    m_start->setDefault(true);
    m_drops->watch(m_addFiles);
    m_drops->watch(m_addFolder);
    connect(m_addFiles, &QPushButton::clicked, this, &MainWindow::addFilesDialog);
    connect(m_addFolder, &QPushButton::clicked, this, &MainWindow::addFolderDialog);
    connect(m_start, &QPushButton::clicked, this, &MainWindow::startRun);

    auto* central = new QWidget;
    auto* top = new QHBoxLayout(central);
    auto* frame = new QGroupBox;
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(m_stack);

    auto* right = new QVBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(m_pageList, 1);
    m_previewPanel = new LivePreviewPanel(*m_livePreview);
    m_previewPanel->setSettingNamer(
        [this](std::string_view field) { return settingName(m_pages, field); });
    m_previewPanel->hide();
    left->addWidget(m_previewPanel);
    // The compact layout keeps the command buttons in a row above the pages; the other one puts
    // them in a column under the page list.
    if (m_context.workingSettings.windowLayoutOption != 0) {
        auto* row = new QHBoxLayout;
        row->addWidget(m_addFiles);
        row->addWidget(m_addFolder);
        row->addStretch(1);
        row->addWidget(m_start);
        right->addLayout(row);
    } else {
        left->addWidget(m_addFiles);
        left->addWidget(m_addFolder);
        left->addWidget(m_start);
    }
    right->addWidget(frame, 1);
    top->addLayout(left);
    top->addLayout(right, 1);
    return central;
}

QWidget* MainWindow::buildImageListPage() {
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    m_imageView = new QTableView;
    drawOwnFrame(m_imageView, OwnFrame::WhenFocused);
    m_imageView->setModel(&m_model);
    m_imageView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_imageView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_imageView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_imageView->verticalHeader()->hide();
    m_imageView->verticalHeader()->setDefaultSectionSize(m_imageView->fontMetrics().height() + 6);
    m_imageView->setWordWrap(false);
    m_imageView->setMinimumSize(200, 80);
    m_imageView->horizontalHeader()->setStretchLastSection(false);
    m_imageView->setColumnWidth(ImageListModel::NameColumn, 155);
    sizeListColumns();
    m_imageView->horizontalHeader()->setSectionResizeMode(ImageListModel::NameColumn,
                                                          QHeaderView::Stretch);
    // A click on a header sorts the image list itself, not just the view: the run follows it.
    m_imageView->horizontalHeader()->setSectionsClickable(true);
    m_imageView->horizontalHeader()->setSortIndicatorShown(m_sortColumn >= 0);
    if (m_sortColumn >= 0)
        m_imageView->horizontalHeader()->setSortIndicator(m_sortColumn, m_sortOrder);
    connect(m_imageView->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &MainWindow::sortListBy);
    // A header click sorts; it must not also select every row, as a table does by default.
    QObject::disconnect(m_imageView->horizontalHeader(), SIGNAL(sectionPressed(int)), m_imageView,
                        nullptr);
    QObject::disconnect(m_imageView->horizontalHeader(), SIGNAL(sectionEntered(int)), m_imageView,
                        nullptr);
    m_imageView->setAcceptDrops(true);
    m_drops->watch(m_imageView->viewport());
    // The popup keeps to the list's corner as the list resizes (eventFilter).
    m_imageView->viewport()->installEventFilter(this);
    connect(m_imageView, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!index.isValid()) return;
        QDesktopServices::openUrl(QUrl::fromLocalFile(m_model.row(index.row()).path));
    });
    connect(m_imageView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        updateListCommands();
        updateStatus();
        updatePreviewPopup();
    });
    // The popup keeps to the selected row as the list scrolls.
    connect(m_imageView->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { updatePreviewPopup(); });
    layout->addWidget(m_imageView, 1);

    auto* buttons = new QHBoxLayout;
    m_removeSelected = new QPushButton(T(text::kRemoveSelected));
    m_clearList = new QPushButton(T(text::kClearList));
    buttons->addWidget(m_removeSelected);
    buttons->addWidget(m_clearList);
    connect(m_removeSelected, &QPushButton::clicked, this, &MainWindow::removeSelected);
    connect(m_clearList, &QPushButton::clicked, this, &MainWindow::clearList);
    layout->addLayout(buttons);
    return pageWithTitle(text::kImageList, content);
}

QAction* MainWindow::menuItem(MenuCommand command) const {
    return m_menu ? m_menu->action(command) : nullptr;
}

void MainWindow::runCommand(MenuCommand command) {
    using enum MenuCommand;
    if (command >= DetailsView && command <= ExitAfterRun) return optionToggled(command);
    if (const int language = command - FirstLanguage;
        language >= 0 && language < int(settings::languages().size()))
        return chooseLanguage(language);
    if (const int preset = command - FirstPreset; preset >= 0 && preset < kMenuPresetCount)
        return selectPreset(preset);
    if (const int topic = command - FirstHelpTopic; topic >= 0 && topic < kHelpTopicCount)
        return showHelpTopic(this, topic);
    switch (command) {
    case StartRun:
        return startRun();
    case StartPreview:
        return startPreviewRun();
    case RunSeveralPresets:
        return startSeveralPresetsRun();
    case AddFiles:
        return addFilesDialog();
    case AddFolder:
        return addFolderDialog();
    case Exit:
        return requestExit();
    case LanguageAutomatic:
        return followSystemLanguage();
    case Save:
        return save();
    case NewPreset:
        return showPresetsWindow(PresetsWindowMode::SaveAsNew);
    case ManagePresets:
        return showPresetsWindow(PresetsWindowMode::Manage);
    case HelpText:
        return showAllHelpTopics(this);
    case License:
        return showLicense(this);
    case Version:
        return showVersion(this, m_questions);
    case About:
        return showAbout(this, m_context);
    default:
        return;
    }
}

QWidget* MainWindow::pageWidget(int page) const {
    if (page == ImageListPage) return m_imageListPage;
    if (page < 1 || page > int(m_pages.size())) return nullptr;
    return m_pages[std::size_t(page - 1)]->widget;
}

std::vector<const BindingTable*> MainWindow::bindingTables() const {
    std::vector<const BindingTable*> tables{&m_windowBindings};
    if (m_menu) tables.push_back(&m_menu->optionBindings());
    for (const auto& page : m_pages)
        tables.push_back(&page->bindings);
    return tables;
}

void MainWindow::controlsToSettings() {
    for (const BindingTable* table : bindingTables())
        table->controlsToSettings(m_context.workingSettings);
}

void MainWindow::settingsToControls() {
    for (const BindingTable* table : bindingTables())
        table->settingsToControls(m_context.workingSettings);
    updateAllDependents();
    applyListOptions();
}

void MainWindow::updateAllDependents() {
    for (const auto& page : m_pages)
        page->updateDependents();
    refreshPageList();
}

void MainWindow::refreshPageList() {
    // A page whose step is switched on shows its row in bold.
    for (int i = 0; i < int(m_pages.size()); ++i) {
        QListWidgetItem* row = m_pageList->item(i + 1);
        if (!row) continue;
        QFont font = row->font();
        font.setBold(m_pages[std::size_t(i)]->switchedOn());
        row->setFont(font);
    }
}

void MainWindow::applyListOptions() {
    const auto& s = m_context.workingSettings;
    m_model.setDetailsView(s.listDisplayOption != 0);
    m_imageView->horizontalHeader()->setVisible(s.listDisplayOption != 0);
    // The name column takes what the others leave, with the details shown or not.
    m_imageView->horizontalHeader()->setSectionResizeMode(ImageListModel::NameColumn,
                                                          QHeaderView::Stretch);
    m_imageView->setShowGrid(s.listStyleOption != 0);
    sizeListColumns();
}

void MainWindow::sizeListColumns() {
    // The folder and size columns are at least as wide as their headers, whose words differ in
    // length from language to language; the name column takes the rest.
    QHeaderView* header = m_imageView->horizontalHeader();
    const std::pair<int, int> columns[] = {{ImageListModel::FolderColumn, 135},
                                           {ImageListModel::SizeColumn, 70}};
    for (const auto& [column, width] : columns)
        if (column < m_model.columnCount())
            m_imageView->setColumnWidth(column, std::max(width, header->sectionSizeHint(column)));
}

imagefiles::ListOptions MainWindow::listOptions() const {
    const auto& s = m_context.workingSettings;
    return {.includeSubdirectories = s.includeSubdirectories != 0,
            .includeHiddenFiles = s.includeHiddenFiles != 0,
            .videos = imagefiles::Videos{s.includeVideos != 0}};
}

void MainWindow::loadPathArguments() {
    addPaths(std::exchange(m_context.pathArguments, {}));
}

void MainWindow::addPaths(const imagefiles::PathList& paths) {
    if (paths.empty()) return;
    if (m_previewRun && m_previewRun->active()) {
        // The preview run works on a record of the list: the paths wait until it is over.
        m_pathsAfterPreview.insert(m_pathsAfterPreview.end(), paths.begin(), paths.end());
        return;
    }
    controlsToSettings();
    m_scanner.stop();
    m_loader.add(paths, listOptions());
}

void MainWindow::loaderFinished() {
    // QUILL_REPORT_LIST_TO=<file> writes the list's source paths, one a line, each time loading
    // ends: a check from outside (the installed package's) sees what the window loaded.
    if (const char* report = std::getenv("QUILL_REPORT_LIST_TO"); report && *report) {
        std::ofstream out(report, std::ios::binary | std::ios::trunc);
        for (const imagefiles::ImageRecord& record : m_images.records())
            out << record.sourcePath << '\n';
    }
    selectFirstRowIfNone();
    updateListCommands();
    if (m_focusAfterLoading) returnFocus(std::exchange(m_focusAfterLoading, nullptr));
    updateStatus();
    if (m_context.workingSettings.scanImageDetails != 0) m_scanner.scanPendingRows();
}

void MainWindow::selectFirstRowIfNone() {
    if (m_model.rowCount() == 0 || m_imageView->selectionModel()->hasSelection()) return;
    m_imageView->selectRow(0);
}

void MainWindow::updateListCommands() {
    if (!m_removeSelected) return;
    const bool loading = m_loader.busy();
    const bool any = m_model.rowCount() > 0;
    const bool selected =
        m_imageView->selectionModel() && m_imageView->selectionModel()->hasSelection();
    m_removeSelected->setEnabled(!loading && selected);
    m_clearList->setEnabled(!loading && any);
    m_start->setEnabled(!loading);
    if (QAction* a = menuItem(MenuCommand::StartRun)) a->setEnabled(!loading);
    if (QAction* a = menuItem(MenuCommand::RunSeveralPresets)) a->setEnabled(!loading);
}

void MainWindow::updateStatus() {
    if (!m_status) return;
    if (m_loader.busy()) {
        m_status->setText(T(text::kLoadingImagesPleaseWait) +
                          QStringLiteral("  %1").arg(m_loader.addedCount()));
        return;
    }
    QString text;
    if (m_model.rowCount() > 0) {
        const int selected = m_imageView->selectionModel()
                                 ? int(m_imageView->selectionModel()->selectedRows().size())
                                 : 0;
        // "Label: number" reads right for any number in every language; a word after the
        // number would have to agree with it.
        text = selected > 0
                   ? T(text::kImageAndSelectionCount)
                         .arg(QString::number(m_model.rowCount()), QString::number(selected))
                   : T(text::kImageCount).arg(QString::number(m_model.rowCount()));
    }
    if (m_scanner.running()) text += QStringLiteral("  ") + T(text::kScanningImageDetails);
    m_status->setText(text);
}

void MainWindow::startRun() {
    if (m_run || m_loader.busy()) return;
    controlsToSettings();
    m_queuedPresets.clear();
    startRunWith(m_context.workingSettings);
}

void MainWindow::startSeveralPresetsRun() {
    if (m_run || m_loader.busy()) return;
    controlsToSettings();
    const QPointer<QWidget> focus = focusWidget();
    SeveralPresetsDialog dialog(m_context.presetList, m_context.currentPreset, this);
    if (dialog.exec() != QDialog::Accepted) {
        returnFocus(focus);
        return;
    }
    const std::vector<int> order = dialog.chosen();
    if (order.empty()) return;
    if (movingPresetNotLast(m_context.presetList, order) >= 0) {
        m_questions.ask(this, toolkit::qt::BoxKind::Warning, T(text::kWarning),
                        T(text::kMovingPresetLast));
        returnFocus(focus);
        return;
    }
    m_queuedPresets.clear();
    for (const int position : order)
        m_queuedPresets.push_back(m_context.presetList.presets[std::size_t(position)]);
    m_queuedList = m_images.records();
    startNextQueuedRun();
}

void MainWindow::startNextQueuedRun() {
    if (m_queuedPresets.empty() || m_run) return;
    m_queuedRunSettings = m_queuedPresets.front();
    m_queuedPresets.erase(m_queuedPresets.begin());
    // Each preset starts from the list as it was before the first run.
    m_images.clear();
    for (const imagefiles::ImageRecord& record : m_queuedList)
        m_images.append(record);
    m_model.resetFrom(m_images);
    startRunWith(m_queuedRunSettings);
    if (!m_run) m_queuedPresets.clear(); // refused by its checks: the rest does not run either
}

void MainWindow::startRunWith(settings::Preset& runSettings) {
    m_scanner.stop();
    batch::ui::WindowRunEnvironment environment{.images = m_images,
                                                .settings = runSettings,
                                                .flags = m_flags,
                                                .questions = m_questions,
                                                .ignoreWarnings = m_context.ignoreWarnings,
                                                .standardTitle = standardTitle(),
                                                .pdfCreator = composeTitle({.version = true}),
                                                .opener = &m_opener};
    // The window is hidden during the run; the focus comes back to where it was.
    m_focusBeforeRun = focusWidget();
    m_run = std::make_unique<batch::ui::WindowRun>(environment, this);
    connect(m_run.get(), &batch::ui::WindowRun::finished, this, &MainWindow::runFinished);
    if (!m_run->start()) m_run.reset();
}

void MainWindow::runFinished(bool quit) {
    // The run object sent this signal; it goes once control returns to the event loop.
    m_run.release()->deleteLater();
    m_model.resetFrom(m_images);
    show();
    updatePreviewPopup();
    selectFirstRowIfNone();
    updateListCommands();
    updateStatus();
    returnFocus(std::exchange(m_focusBeforeRun, nullptr));
    if (quit) {
        m_queuedPresets.clear();
        quitProgram();
        return;
    }
    // A cancelled run ends a run of several presets; otherwise the next one starts.
    if (m_flags.runCancelled.load()) m_queuedPresets.clear();
    if (!m_queuedPresets.empty()) QTimer::singleShot(0, this, &MainWindow::startNextQueuedRun);
}

void MainWindow::addFilesDialog() {
    const QPointer<QWidget> focus = focusWidget();
    controlsToSettings();
    const auto filters = imagefiles::openFileFilters(
        imagefiles::Videos{m_context.workingSettings.includeVideos != 0},
        settings::uiText(text::kImageFiles));
    QStringList filterList;
    for (const auto& f : filters) {
        QStringList patterns;
        for (auto ext : f.extensions)
            patterns << QStringLiteral("*.") + QString::fromUtf8(ext.data(), qsizetype(ext.size()));
        filterList << QString::fromStdString(f.label) + QStringLiteral(" (") +
                          patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    const QStringList files = QFileDialog::getOpenFileNames(this, QString(), dialogStartFolder(),
                                                            filterList.join(QStringLiteral(";;")));
    if (!files.isEmpty()) m_lastFolder = QFileInfo(files.front()).absolutePath();
    imagefiles::PathList paths;
    for (const QString& f : files)
        paths.push_back(f.toStdString());
    addPaths(paths);
    returnFocus(focus);
}

void MainWindow::addFolderDialog() {
    const QPointer<QWidget> focus = focusWidget();
    const QString folder =
        QFileDialog::getExistingDirectory(this, T(text::kSelectFolder), dialogStartFolder());
    if (!folder.isEmpty()) {
        m_lastFolder = folder;
        addPaths({folder.toStdString()});
    }
    returnFocus(focus);
}

QString MainWindow::dialogStartFolder() const {
    if (!m_lastFolder.isEmpty() && QFileInfo(m_lastFolder).isDir()) return m_lastFolder;
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir()) return pictures;
    return QDir::homePath();
}

void MainWindow::requestExit() {
    if (!m_model.rows().empty() &&
        m_questions.ask(this, toolkit::qt::BoxKind::Question, T(text::kQuestion),
                        T(text::kReallyExit)) != toolkit::qt::Answer::Yes)
        return;
    if (!settledUnsavedChanges()) return;
    quitProgram();
}

bool MainWindow::settledUnsavedChanges() {
    if (!hasUnsavedChanges() || m_context.presetsUnreadable) return true;
    const auto answer =
        m_questions.ask(this, toolkit::qt::BoxKind::SaveQuestion, T(text::kQuestion),
                        T(text::kSaveChangesToPreset).arg(currentPresetName()));
    if (answer == toolkit::qt::Answer::Cancel) return false;
    if (answer != toolkit::qt::Answer::Yes) return true;
    save();
    // A failed write said so in a box; the settings are still unsaved and the program stays.
    return !hasUnsavedChanges();
}

QString MainWindow::currentPresetName() const {
    const auto& presets = m_context.presetList.presets;
    if (m_context.currentPreset < 0 || std::size_t(m_context.currentPreset) >= presets.size())
        return {};
    return QString::fromStdString(presets[std::size_t(m_context.currentPreset)].name);
}

bool MainWindow::hasUnsavedChanges() const {
    return differsFromItsPreset(settingsFromControls());
}

bool MainWindow::differsFromItsPreset(settings::Preset current) const {
    const auto& presets = m_context.presetList.presets;
    if (m_context.currentPreset < 0 || std::size_t(m_context.currentPreset) >= presets.size())
        return false;
    const settings::Preset& stored = presets[std::size_t(m_context.currentPreset)];
    current.index = stored.index;
    current.name = stored.name;
    // Looking at another page changes nothing the user would want to save.
    current.selectedPage = stored.selectedPage;
    return current != stored;
}

void MainWindow::refreshUnsavedMark(const settings::Preset& current) {
    const bool unsaved = differsFromItsPreset(current);
    if (unsaved != m_unsaved) {
        m_unsaved = unsaved;
        updateTitle();
    }
    // The header says whether the run follows the order shown.
    const bool presetSorts = current.sortEnabled != 0;
    if (m_headerHintSorts != presetSorts) {
        m_headerHintSorts = presetSorts;
        m_model.setHeaderHint(T(presetSorts ? text::kPresetSortsItself : text::kListOrderHint));
    }
}

void MainWindow::sortListBy(int column) {
    auto* header = m_imageView->horizontalHeader();
    if (column < 0 || column > ImageListModel::SizeColumn || m_loader.busy() || m_run ||
        (m_previewRun && m_previewRun->active())) {
        header->setSortIndicatorShown(m_sortColumn >= 0);
        if (m_sortColumn >= 0) header->setSortIndicator(m_sortColumn, m_sortOrder);
        return;
    }
    m_sortOrder = column == m_sortColumn && m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                              : Qt::AscendingOrder;
    m_sortColumn = column;
    // Names compare as people read them: case-insensitively, with digits as numbers
    // ("img2" before "img10"). Each record's keys are made once: collating the texts in every
    // comparison would cost much more on lists of tens of thousands of images.
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    auto& records = m_images.records();
    struct Keys {
        QCollatorSortKey first;
        QCollatorSortKey name;
        std::int64_t size;
    };
    std::vector<Keys> keys;
    keys.reserve(records.size());
    for (const imagefiles::ImageRecord& r : records) {
        const std::size_t nameAt = std::min(r.folder.size(), r.sourcePath.size());
        QCollatorSortKey name =
            collator.sortKey(QString::fromStdString(r.sourcePath.substr(nameAt)));
        QCollatorSortKey first = column == ImageListModel::FolderColumn
                                     ? collator.sortKey(QString::fromStdString(r.folder))
                                     : name;
        keys.push_back({std::move(first), std::move(name), r.fileSize});
    }
    const auto compare = [&](const Keys& a, const Keys& b) {
        int c = column == ImageListModel::SizeColumn ? (a.size > b.size) - (a.size < b.size)
                                                     : a.first.compare(b.first);
        if (c == 0) c = a.name.compare(b.name);
        return m_sortOrder == Qt::AscendingOrder ? c < 0 : c > 0;
    };
    std::vector<std::size_t> order(records.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return compare(keys[a], keys[b]); });
    const imagefiles::ImageRecord* current = m_images.current();
    const std::int32_t currentId = current ? current->recordId : -1;
    std::vector<imagefiles::ImageRecord> sorted;
    sorted.reserve(records.size());
    for (const std::size_t i : order)
        sorted.push_back(std::move(records[i]));
    records = std::move(sorted);
    if (currentId >= 0) m_images.setCurrentIndex(m_images.indexOfId(currentId));
    m_model.reorderLike(m_images);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, m_sortOrder);
    if (m_imageView->selectionModel()->hasSelection())
        m_imageView->scrollTo(m_imageView->selectionModel()->selectedRows().front());
}

void MainWindow::quitProgram() {
    m_quitting = true;
    m_loader.cancel();
    m_scanner.stop();
    close();
    QApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_quitting) {
        event->accept();
        return;
    }
    event->ignore();
    requestExit();
}

void MainWindow::save() {
    controlsToSettings();
    // The file may hold the user's presets, which this session never saw: writing the list
    // in memory would replace them.
    if (!presetsWritable()) return;
    auto& list = m_context.presetList;
    if (m_context.currentPreset < 0 ||
        std::size_t(m_context.currentPreset) >= list.presets.size()) {
        // The settings belong to no preset (it was deleted, or the presets were reset): they
        // are saved as a new one, under a name the user gives.
        showPresetsWindow(PresetsWindowMode::SaveAsNew);
        return;
    }
    const auto position = std::size_t(m_context.currentPreset);
    settings::storeInto(list.presets[position], m_context.workingSettings);
    list.currentIndex = position;
    if (!settings::writePresets(m_context.presetsFilePath, list)) {
        m_questions.ask(this, toolkit::qt::BoxKind::Critical, T(text::kError),
                        T(text::kWritingFailed) + QStringLiteral(":\n") +
                            QString::fromStdString(m_context.presetsFilePath));
        return;
    }
    statusBar()->showMessage(T(text::kSavedToPreset).arg(currentPresetName()), kSavedMessageMs);
    refreshUnsavedMark(settingsFromControls());
}

void MainWindow::selectPreset(int position) {
    const auto before = m_context.workingSettings;
    int loaded = 0;
    if (tryLoadStartPreset(m_context, position, loaded) == PresetLoad::NoPresetZero) return;
    m_context.currentPreset = loaded;
    m_context.presetList.currentIndex = std::size_t(loaded);
    m_menu->checkPreset(loaded);
    updateTitle();
    const auto& now = m_context.workingSettings;
    if (now.listDisplayOption != before.listDisplayOption ||
        now.windowLayoutOption != before.windowLayoutOption) {
        // The settings were just loaded: the rebuild must not copy the controls over them.
        m_rebuildScheduled = true;
        QMetaObject::invokeMethod(
            this, [this] { rebuild(); }, Qt::QueuedConnection);
        settingsToControls();
        return;
    }
    settingsToControls();
    if (now.scanImageDetails != 0 && !m_loader.busy()) m_scanner.scanPendingRows();
    if (now.scanImageDetails == 0) m_scanner.stop();
}

void MainWindow::optionToggled(MenuCommand command) {
    m_menu->optionBindings().controlsToSettings(m_context.workingSettings);
    const auto& s = m_context.workingSettings;
    switch (command) {
    case MenuCommand::DetailsView:
    case MenuCommand::CompactLayout:
        scheduleRebuild();
        break;
    case MenuCommand::ScanImageDetails:
        if (s.scanImageDetails != 0 && !m_loader.busy()) m_scanner.scanPendingRows();
        if (s.scanImageDetails == 0) m_scanner.stop();
        updateStatus();
        break;
    case MenuCommand::GridLines:
        applyListOptions();
        break;
    default:
        break;
    }
}

void MainWindow::chooseLanguage(int languageIndex) {
    if (languageIndex == m_context.languageIndex &&
        settings::readStoredLanguage(m_context.languageFilePath) == languageIndex) {
        if (QAction* a = menuItem(MenuCommand::FirstLanguage + languageIndex)) a->setChecked(true);
        return;
    }
    if (!settings::writeLanguage(m_context.languageFilePath, languageIndex)) {
        m_questions.ask(this, toolkit::qt::BoxKind::Critical, T(text::kError),
                        T(text::kWritingFailed) + QStringLiteral(":\n") +
                            QString::fromStdString(m_context.languageFilePath));
    }
    if (!settings::loadUiTexts(languageIndex)) showFatalError(m_context, kCouldNotInitialize);
    m_context.languageIndex = languageIndex;
    useQtTranslations(languageIndex);
    scheduleRebuild();
}

void MainWindow::followSystemLanguage() {
    (void)platform::deleteFile(m_context.languageFilePath);
    const int languageIndex = settings::systemLanguageIndex();
    if (!settings::loadUiTexts(languageIndex)) showFatalError(m_context, kCouldNotInitialize);
    m_context.languageIndex = languageIndex;
    useQtTranslations(languageIndex);
    scheduleRebuild();
}

void MainWindow::scheduleRebuild() {
    if (m_rebuildScheduled) return;
    controlsToSettings();
    m_rebuildScheduled = true;
    // Menu items may trigger a rebuild; their menus must outlive the signal.
    QMetaObject::invokeMethod(
        this, [this] { rebuild(); }, Qt::QueuedConnection);
}

void MainWindow::rebuild() {
    m_rebuildScheduled = false;
    m_headerHintSorts.reset(); // its text follows the language
    const bool hadFocus = isActiveWindow();
    // The rebuilt window gives the focus to the counterpart of the control that had it.
    const std::vector<QWidget*> before = focusableControls();
    const auto focused = std::find(before.begin(), before.end(), focusWidget());
    const std::ptrdiff_t focusedControl =
        !focusWidget() || focused == before.end() ? -1 : std::distance(before.begin(), focused);
    // The rebuilt list shows the same images selected, and the same current one.
    std::vector<std::int32_t> selectedIds;
    std::int32_t currentId = -1;
    if (m_imageView) {
        for (const QModelIndex& index : m_imageView->selectionModel()->selectedRows())
            selectedIds.push_back(m_model.row(index.row()).recordId);
        const QModelIndex current = m_imageView->currentIndex();
        if (current.isValid()) currentId = m_model.row(current.row()).recordId;
    }
    QWidget* old = takeCentralWidget();
    m_imageView = nullptr;
    m_removeSelected = nullptr;
    build();
    delete old;
    createPreviewPopup(); // its tooltips follow the language
    settingsToControls();
    // The new widgets know their real sizes once they are shown and polished: the zero timer
    // waits for the event loop to have done that.
    QTimer::singleShot(0, this, [this] { fitToPages(Fit::GrowOnly); });
    updateTitle();
    restoreSelection(selectedIds, currentId);
    selectFirstRowIfNone();
    updateStatus();
    updatePreviewPopup();
    if (focusedControl >= 0) {
        QWidget* control = focusableControls()[std::size_t(focusedControl)];
        if (control) returnFocus(control);
    }
    if (hadFocus) activateWindow();
}

std::vector<QWidget*> MainWindow::focusableControls() const {
    return {m_pageList,  m_addFiles,       m_addFolder, m_start,
            m_imageView, m_removeSelected, m_clearList};
}

void MainWindow::restoreSelection(const std::vector<std::int32_t>& selectedIds,
                                  std::int32_t currentId) {
    QItemSelection selection;
    for (const std::int32_t id : selectedIds) {
        const int row = m_model.rowOfId(id);
        if (row >= 0) selection.select(m_model.index(row, 0), m_model.index(row, 0));
    }
    auto* model = m_imageView->selectionModel();
    const int currentRow = m_model.rowOfId(currentId);
    if (currentRow >= 0)
        model->setCurrentIndex(m_model.index(currentRow, 0), QItemSelectionModel::NoUpdate);
    if (selection.isEmpty()) return;
    model->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_imageView->scrollTo(currentRow >= 0 ? m_model.index(currentRow, 0)
                                          : selection.indexes().front());
}

void MainWindow::updateTitle() {
    QString title = QString::fromStdString(standardTitle());
    const bool none = m_context.currentPreset < 0 ||
                      std::size_t(m_context.currentPreset) >= m_context.presetList.presets.size();
    if (none)
        title += QStringLiteral(" - ") + T(text::kSettingsInNoPreset);
    else
        title += QStringLiteral(" - ") + currentPresetName() +
                 (m_unsaved ? QStringLiteral("*") : QString());
    setWindowTitle(title);
    m_presetState->setText(none ? T(text::kSettingsInNoPreset) : QString());
    m_presetState->setVisible(none);
}

void MainWindow::removeSelected() {
    if (m_loader.busy() || (m_previewRun && m_previewRun->active())) return;
    std::unordered_set<std::int32_t> ids;
    for (const QModelIndex& index : m_imageView->selectionModel()->selectedRows())
        ids.insert(m_model.row(index.row()).recordId);
    if (ids.empty()) return;
    // One pass over the list, however many rows go.
    auto& records = m_images.records();
    const auto current = m_images.current();
    const std::int32_t currentId = current ? current->recordId : 0;
    std::erase_if(records,
                  [&](const imagefiles::ImageRecord& r) { return ids.count(r.recordId) != 0; });
    m_images.setCurrentIndex(currentId != 0 ? m_images.indexOfId(currentId) : -1);
    m_model.removeIds(ids);
    updateListCommands();
    updateStatus();
}

void MainWindow::clearList() {
    if (m_loader.busy() || (m_previewRun && m_previewRun->active()) || m_model.rows().empty())
        return;
    if (m_questions.ask(this, toolkit::qt::BoxKind::DestructiveQuestion, T(text::kQuestion),
                        T(text::kReallyClearImageList)) != toolkit::qt::Answer::Yes)
        return;
    m_scanner.stop();
    m_images.clear();
    m_model.clear();
    updateListCommands();
    m_status->clear();
}

void MainWindow::stopAdding() {
    m_loader.cancel();
}

void MainWindow::nextPage() {
    const int next = (m_pageList->currentRow() + 1) % m_pageList->count();
    m_pageList->setCurrentRow(next);
    m_pageList->setFocus();
}

void MainWindow::previousPage() {
    const int count = m_pageList->count();
    m_pageList->setCurrentRow((std::max(m_pageList->currentRow(), 0) + count - 1) % count);
    m_pageList->setFocus();
}

void MainWindow::makePageHighlightReadable() {
    if (!m_pageList) return;
    // From the window's palette, which follows the desktop's, not from the list's own.
    const QPalette base = palette();
    QPalette list = m_pageList->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        list.setColor(group, QPalette::Highlight,
                      readableHighlight(base.color(group, QPalette::Highlight),
                                        base.color(group, QPalette::HighlightedText)));
        list.setColor(group, QPalette::HighlightedText,
                      base.color(group, QPalette::HighlightedText));
    }
    m_pageList->setPalette(list);
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // A new desktop palette (a light or dark theme chosen while the program runs).
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        makePageHighlightReadable();
}

void MainWindow::returnFocus(const QPointer<QWidget>& widget) {
    if (!widget || widget->window() != this) return;
    if (widget->isEnabled()) {
        widget->setFocus(Qt::OtherFocusReason);
        m_focusAfterLoading = nullptr;
    } else {
        // Start is disabled while the loader fills the list: it gets the focus back after.
        m_focusAfterLoading = widget;
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (m_imageView && watched == m_imageView->viewport() && event->type() == QEvent::Resize)
        QMetaObject::invokeMethod(
            this, [this] { updatePreviewPopup(); }, Qt::QueuedConnection);
    return QMainWindow::eventFilter(watched, event);
}

} // namespace quill::app::ui

namespace quill::app::ui {

void MainWindow::startPreviewRun() {
    if (m_run || !m_imageView || !m_imageView->selectionModel()) return;
    controlsToSettings();
    const QModelIndexList rows = m_imageView->selectionModel()->selectedRows();
    const std::int32_t id = rows.isEmpty() ? -1 : m_model.row(rows.front().row()).recordId;
    m_previewRun->start(id);
}

void MainWindow::previewRunStarted() {
    m_popup->setPreviewRunActive(true);
    m_status->setText(T(text::kCreatingPreviewPleaseWait));
    m_imageView->setEnabled(false);
    menuBar()->setEnabled(false);
    for (QPushButton* b : {m_addFiles, m_addFolder, m_start, m_removeSelected, m_clearList})
        if (b) b->setEnabled(false);
}

void MainWindow::previewRunFinished() {
    m_popup->setPreviewRunActive(false);
    m_imageView->setEnabled(true);
    menuBar()->setEnabled(true);
    for (QPushButton* b : {m_addFiles, m_addFolder, m_start})
        b->setEnabled(true);
    updateListCommands();
    updateStatus();
    if (!m_pathsAfterPreview.empty()) addPaths(std::exchange(m_pathsAfterPreview, {}));
}

void MainWindow::showPresetsWindow(PresetsWindowMode mode) {
    // The window writes the file when it closes and deletes it on reset.
    if (!presetsWritable()) return;
    PresetsWindow window({m_context.presetList,
                          m_context.workingSettings,
                          m_context.currentPreset,
                          m_context.presetsFilePath,
                          m_questions,
                          [this] { controlsToSettings(); },
                          {},
                          {}},
                         mode, this);
    window.exec(); // modal: the main window is disabled meanwhile
    // The preset menu and controls show the changed list.
    scheduleRebuild();
}

settings::Preset MainWindow::settingsFromControls() const {
    settings::Preset current = m_context.workingSettings;
    for (const BindingTable* table : bindingTables())
        table->controlsToSettings(current);
    return current;
}

void MainWindow::updateLivePreview(const settings::Preset& current) {
    if (!m_previewPanel || !m_pageList || !m_imageView || !m_imageView->selectionModel()) return;
    const int page = m_pageList->currentRow();
    const QModelIndexList rows = m_imageView->selectionModel()->selectedRows();
    const PreviewDecision decision = m_previewEnabling.evaluate(page, !rows.isEmpty(), current);
    if (decision.enabled) {
        if (!rows.isEmpty()) {
            const ImageRow& row = m_model.row(rows.front().row());
            m_livePreview->setSelection(row.recordId, row.path.toStdString(),
                                        imagefiles::FormatKind::None);
        }
        if (decision.refresh || page != m_previewPage || !(current == m_previewSettings)) {
            m_previewSettings = current;
            m_previewPage = page;
            m_livePreview->setSettings(current, page);
        }
    }
    m_previewPanel->setVisible(decision.enabled);
}

} // namespace quill::app::ui

namespace quill::app::ui {

void MainWindow::createPreviewPopup() {
    delete m_popup;
    m_popup = new PreviewPopup(settings::runContextFromPlatform(0, 0), this);
    m_popup->hide();
    m_popup->setPreviewRunActive(m_previewRun && m_previewRun->active());
    connect(m_popup, &PreviewPopup::previousRequested, this, [this] { stepSelection(-1); });
    connect(m_popup, &PreviewPopup::nextRequested, this, [this] { stepSelection(1); });
    connect(m_popup, &PreviewPopup::previewRunRequested, this, &MainWindow::startPreviewRun);
}

void MainWindow::updatePreviewPopup() {
    if (!m_popup) return;
    m_popup->setImageCount(m_model.rowCount());
    QItemSelectionModel* selection = m_imageView ? m_imageView->selectionModel() : nullptr;
    const QModelIndexList rows = selection ? selection->selectedRows() : QModelIndexList();
    const bool listPage = m_pageList && m_pageList->currentRow() == ImageListPage;
    if (!listPage || rows.size() != 1 || m_run || !m_imageView->isVisible()) {
        m_popup->hide();
        return;
    }
    const int row = rows.front().row();
    const ImageRow& image = m_model.row(row);
    m_popup->setSelection(image.recordId, image.path.toStdString(), imagefiles::FormatKind::None);

    // In the bottom right corner of the list, where a short list leaves room; in the top right
    // corner when the selected row lies under it; beside the row when the list is too low for
    // either. The selected row itself stays readable.
    QWidget* viewport = m_imageView->viewport();
    const QRect area(viewport->mapTo(this, QPoint(0, 0)), viewport->size());
    const QRect rowRect = m_imageView->visualRect(rows.front());
    const QRect selected(viewport->mapTo(this, rowRect.topLeft()), rowRect.size());
    const int side = PreviewPopup::kSide;
    const int margin = 4;
    const int x = area.right() - side - margin;
    const auto clear = [&](int y) {
        return y >= area.top() && y + side <= area.bottom() + 1 &&
               (selected.bottom() < y || selected.top() >= y + side);
    };
    int y = area.bottom() + 1 - side - margin;
    if (!clear(y)) y = area.top() + margin;
    if (!clear(y)) y = selected.bottom() + 1;
    if (!clear(y)) y = selected.top() - side;
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - side));
    if (area.width() < side + 8 || x < area.left()) {
        m_popup->hide();
        return;
    }
    if (m_popup->pos() != QPoint(x, y)) m_popup->move(x, y);
    if (!m_popup->isVisible()) {
        m_popup->raise();
        m_popup->show();
    }
}

void MainWindow::stepSelection(int step) {
    if (!m_imageView || !m_imageView->selectionModel()) return;
    const QModelIndexList rows = m_imageView->selectionModel()->selectedRows();
    if (rows.size() != 1) return;
    const int target = rows.front().row() + step;
    if (target < 0 || target >= m_model.rowCount()) return;
    m_imageView->selectRow(target);
    m_imageView->scrollTo(m_model.index(target, 0));
}

} // namespace quill::app::ui
