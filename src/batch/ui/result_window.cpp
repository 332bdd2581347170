// The result window.
#include "batch/ui/result_window.h"

#include "batch/error_log.h"
#include "batch/ui/ui_texts.h"
#include "toolkit/qt/file_manager.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <numeric>
#include <set>

namespace quill::batch::ui {
namespace {

/// Title, explanation and share of the help dialog's height of each failure kind, in the order
/// of the results from Unreadable to WriteFailed.
struct FailureKindText {
    int title;
    int explanation;
    int heightShare;
};
constexpr FailureKindText kFailureKinds[] = {
    {text::kUnreadableFile, text::kUnreadableFileExplained, 45},
    {text::kOutputExists, text::kOutputExistsExplained, 60},
    {text::kSameAsSource, text::kSameAsSourceExplained, 60},
    {text::kLoadingFailed, text::kLoadingFailedExplained, 60},
    {text::kProcessingFailed, text::kProcessingFailedExplained, 60},
    {text::kUnsupportedFormat, text::kUnsupportedFormatExplained, 60},
    {text::kWritingFailed, text::kWritingFailedExplained, 60},
};
constexpr int kFirstFailureKind = int(imagefiles::ImageResult::Unreadable);
constexpr int kLastFailureKind = int(imagefiles::ImageResult::WriteFailed);
static_assert(std::size(kFailureKinds) == kLastFailureKind - kFirstFailureKind + 1,
              "one help text per failure kind");

QString displayPath(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

/// The window's smallest size.
constexpr int kLeastWidth = 380;
constexpr int kLeastHeight = 278;

/// A column narrower than this hides too much to be worth showing.
constexpr int kLeastColumnWidth = 50;

/// A cell as one field of a tab-separated line: a tab or line break inside a file name would
/// split the line, so it becomes a space.
QString field(QString cell) {
    for (const QChar c : {QChar(u'\t'), QChar(u'\n'), QChar(u'\r')})
        cell.replace(c, QLatin1Char(' '));
    return cell;
}

} // namespace

ResultHelp resultHelp(const std::vector<int>& failureKinds) {
    ResultHelp help;
    int height = 0;
    for (int kind : failureKinds) {
        if (kind < kFirstFailureKind || kind > kLastFailureKind) continue;
        const FailureKindText& k = kFailureKinds[kind - kFirstFailureKind];
        help.text +=
            uiQ(k.title) + QStringLiteral("\r\n") + uiQ(k.explanation) + QStringLiteral("\r\n\r\n");
        height += k.heightShare;
    }
    if (help.text.endsWith(QStringLiteral("\r\n"))) help.text.chop(2);
    help.layout.textWidth = 340;
    help.layout.textHeight = std::max(height - 15, 0);
    help.layout.resizable = true;
    return help;
}

ResultWindow::ResultWindow(const imagefiles::ImageList& images, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_showFile(&toolkit::qt::showInFileManager) {
    setObjectName(QStringLiteral("resultWindow"));
    setWindowTitle(uiQ(text::kResult));

    // Made in tab order: the heading row, the list, then the buttons under it.
    auto* heading = new QLabel(uiQ(text::kSomeFailed) + QLatin1Char(':'), this);
    heading->setObjectName(QStringLiteral("heading"));
    auto* help = new QPushButton(QStringLiteral("?"), this);
    help->setObjectName(QStringLiteral("helpButton"));
    help->setAutoDefault(false);
    // "?" read aloud says nothing about what the button does: it opens the explanations.
    help->setAccessibleName(uiQ(text::kExplanations));
    help->setToolTip(uiQ(text::kExplanations));
    help->setFixedSize(std::max(20, help->fontMetrics().height() + 8),
                       std::max(20, help->fontMetrics().height() + 8));
    connect(help, &QPushButton::clicked, this, &ResultWindow::showHelp);

    buildList();
    fillList(images);

    auto* copy = new QPushButton(uiQ(text::kCopyList), this);
    copy->setObjectName(QStringLiteral("copyButton"));
    copy->setAutoDefault(false);
    connect(copy, &QPushButton::clicked, this, &ResultWindow::copyList);
    auto* copyKeys = new QShortcut(QKeySequence::Copy, this);
    connect(copyKeys, &QShortcut::activated, this, &ResultWindow::copyList);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    ok->setMinimumSize(140, 23);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(heading, 1);
    top->addWidget(help);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(copy);
    bottom->addStretch(1);
    bottom->addWidget(ok);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(10);
    column->addLayout(top);
    column->addWidget(m_list, 1);
    column->addLayout(bottom);

    sizeToContent(parent);
    ok->setFocus();
    // Screen readers name the window by its title.
    setAccessibleName(windowTitle());

    m_showHelp = [this](const ResultHelp& help) {
        toolkit::qt::showTextDialog(this, uiQ(text::kExplanations), help.text, help.layout);
    };
}

void ResultWindow::buildList() {
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("failedImages"));
    // Read by the heading above it.
    m_list->setAccessibleName(uiQ(text::kSomeFailed));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setUniformRowHeights(true);
    // Paths keep their beginning and their file name; the middle gives way.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setHeaderLabels({uiQ(text::kImage), uiQ(text::kOutput), uiQ(text::kError)});
    // fitColumns() shares the width out; the user may still drag a column's edge.
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(QHeaderView::Interactive);
    m_list->setMinimumSize(360, 185);
    m_list->viewport()->installEventFilter(this);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { rowActivated(item); });
}

void ResultWindow::fillList(const imagefiles::ImageList& images) {
    std::set<int> kinds;
    for (const auto& record : images.records()) {
        if (!imagefiles::isFailure(record.resultState)) continue;
        const QStringList cells{displayPath(record.sourcePath), displayPath(record.resultText),
                                QString::fromStdString(failureLine(record))};
        auto* item = new QTreeWidgetItem(m_list, cells);
        for (int c = 0; c < cells.size(); ++c)
            item->setToolTip(c, cells[c]);
        item->setData(0, Qt::UserRole, int(m_sourcePaths.size()));
        m_sourcePaths.push_back(record.sourcePath);
        kinds.insert(int(record.resultState));
    }
    m_kinds.assign(kinds.begin(), kinds.end());
}

void ResultWindow::sizeToContent(const QWidget* parent) {
    // Wide enough for every column's content where the screen allows it; fitColumns() shares
    // out whatever width the window gets.
    int contentWidth = 0;
    for (int c = 0; c < m_list->columnCount(); ++c)
        contentWidth += wantedWidth(c);
    const int frame =
        2 * m_list->frameWidth() + m_list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    int width = std::max({kLeastWidth, sizeHint().width(), contentWidth + frame + 20});
    if (const QScreen* screen = parent ? parent->screen() : QApplication::primaryScreen())
        width = std::min(width, std::max(kLeastWidth, screen->availableGeometry().width() * 3 / 4));
    resize(width, std::max(kLeastHeight, sizeHint().height()));
    setMinimumSize(kLeastWidth, kLeastHeight);
}

void ResultWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange) setAccessibleName(windowTitle());
}

void ResultWindow::showHelp() {
    if (m_showHelp) m_showHelp(resultHelp(m_kinds));
}

QString ResultWindow::listText() const {
    QString text;
    const int columns = m_list->columnCount();
    const auto addLine = [&](const auto& cellText) {
        for (int c = 0; c < columns; ++c) {
            if (c > 0) text += QLatin1Char('\t');
            text += field(cellText(c));
        }
        text += QLatin1Char('\n');
    };
    addLine([this](int c) { return m_list->headerItem()->text(c); });
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = m_list->topLevelItem(row);
        addLine([item](int c) { return item->text(c); });
    }
    return text;
}

void ResultWindow::copyList() {
    QApplication::clipboard()->setText(listText());
}

bool ResultWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list->viewport() && event->type() == QEvent::Resize) fitColumns();
    return QDialog::eventFilter(watched, event);
}

int ResultWindow::wantedWidth(int column) const {
    // QTreeView hides its override; the public base measures the cells through the delegate.
    const QAbstractItemView* view = m_list;
    return std::max(m_list->header()->sectionSizeHint(column), view->sizeHintForColumn(column));
}

void ResultWindow::fitColumns() {
    const int columns = m_list->columnCount();
    std::vector<int> wanted(static_cast<std::size_t>(columns), 0);
    for (int c = 0; c < columns; ++c)
        wanted[std::size_t(c)] = wantedWidth(c);
    const int available = m_list->viewport()->width();
    std::vector<int> widths = wanted;
    const int total = std::accumulate(wanted.begin(), wanted.end(), 0);
    if (total <= available) {
        // Everything is whole: the rest goes to the error column, whose text is prose.
        widths.back() += available - total;
    } else {
        // The narrowest first: a column that wants less than an equal share of what is left
        // keeps its width, and the wider ones share the rest equally.
        std::vector<int> order(static_cast<std::size_t>(columns));
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(),
                  [&](int a, int b) { return wanted[std::size_t(a)] < wanted[std::size_t(b)]; });
        int left = available;
        for (int i = 0; i < columns; ++i) {
            const auto c = std::size_t(order[std::size_t(i)]);
            const int share = left / (columns - i);
            widths[c] = std::max(kLeastColumnWidth, std::min(wanted[c], share));
            left -= widths[c];
        }
    }
    for (int c = 0; c < columns; ++c)
        m_list->header()->resizeSection(c, widths[std::size_t(c)]);
}

void ResultWindow::rowActivated(QTreeWidgetItem* item) {
    if (!item) return;
    const int row = item->data(0, Qt::UserRole).toInt();
    if (row < 0 || std::size_t(row) >= m_sourcePaths.size()) return;
    if (m_showFile) m_showFile(m_sourcePaths[std::size_t(row)]);
}

} // namespace quill::batch::ui
