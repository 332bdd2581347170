// The result window.
#include "batch/ui/result_window.h"

#include "batch/error_log.h"
#include "batch/ui/ui_texts.h"
#include "toolkit/qt/file_manager.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <set>

namespace quill::batch::ui {
namespace {

/// Title, explanation and share of the help dialog's height of failure kind 2..8.
struct FailureKindText {
    int title;
    int explanation;
    int heightShare;
};
constexpr FailureKindText kFailureKinds[] = {
    {390, 391, 45}, {392, 393, 60}, {394, 395, 60}, {396, 397, 60},
    {398, 399, 60}, {400, 401, 60}, {402, 403, 60},
};

QString displayPath(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

} // namespace

ResultHelp resultHelp(const std::vector<int>& failureKinds) {
    ResultHelp help;
    int height = 0;
    for (int kind : failureKinds) {
        if (kind < 2 || kind > 8) continue;
        const FailureKindText& k = kFailureKinds[kind - 2];
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

    auto* heading = new QLabel(uiQ(text::kSomeFailed) + QLatin1Char(':'), this);
    heading->setObjectName(QStringLiteral("heading"));
    auto* help = new QPushButton(QStringLiteral("?"), this);
    help->setObjectName(QStringLiteral("helpButton"));
    help->setAutoDefault(false);
    help->setFixedSize(std::max(20, help->fontMetrics().height() + 8),
                       std::max(20, help->fontMetrics().height() + 8));
    connect(help, &QPushButton::clicked, this, &ResultWindow::showHelp);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("failedImages"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setUniformRowHeights(true);
    // Paths keep their beginning and their file name; the middle gives way.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setHeaderLabels({uiQ(text::kImage), uiQ(text::kOutput), uiQ(text::kError)});
    m_list->setColumnWidth(0, 110);
    m_list->setColumnWidth(1, 110);
    m_list->setColumnWidth(2, 115);
    m_list->setMinimumSize(360, 185);

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
    connect(m_list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { rowActivated(item); });

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    ok->setMinimumSize(140, 23);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(heading, 1);
    top->addWidget(help);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(ok);
    bottom->addStretch(1);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(10);
    column->addLayout(top);
    column->addWidget(m_list, 1);
    column->addLayout(bottom);

    resize(std::max(380, sizeHint().width()), std::max(278, sizeHint().height()));
    setMinimumSize(380, 278);
    ok->setFocus();

    m_showHelp = [this](const ResultHelp& help) {
        toolkit::qt::showTextDialog(this, uiQ(text::kExplanations), help.text, help.layout);
    };
}

void ResultWindow::showHelp() {
    if (m_showHelp) m_showHelp(resultHelp(m_kinds));
}

void ResultWindow::rowActivated(QTreeWidgetItem* item) {
    if (!item) return;
    const int row = item->data(0, Qt::UserRole).toInt();
    if (row < 0 || std::size_t(row) >= m_sourcePaths.size()) return;
    if (m_showFile) m_showFile(m_sourcePaths[std::size_t(row)]);
}

} // namespace quill::batch::ui
