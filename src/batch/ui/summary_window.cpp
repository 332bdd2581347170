// The summary after a window run in which nothing failed.
#include "batch/ui/summary_window.h"

#include "batch/ui/desktop_opener.h"
#include "batch/ui/ui_texts.h"
#include "toolkit/platform/platform.h"

#include <QApplication>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace quill::batch::ui {

RunSummary summarizeRun(const imagefiles::ImageList& images) {
    RunSummary summary;
    for (const auto& record : images.records()) {
        if (record.resultState != imagefiles::ImageResult::Done) continue;
        ++summary.processed;
        if (summary.outputFolder.empty() && !record.resultText.empty())
            summary.outputFolder = platform::directoryPart(record.resultText);
    }
    return summary;
}

SummaryWindow::SummaryWindow(const RunSummary& summary, DesktopOpener& opener, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_opener(opener), m_outputFolder(summary.outputFolder) {
    setObjectName(QStringLiteral("summaryWindow"));
    setWindowTitle(uiQ(text::kFinished));

    // "Label: number" reads correctly for every count in every language, where "39 images"
    // would need plural forms.
    auto* processed = new QLabel(QString::number(qulonglong(summary.processed)), this);
    processed->setObjectName(QStringLiteral("processedCount"));
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->addWidget(new QLabel(uiQ(text::kImagesProcessed) + QLatin1Char(':'), this), 0, 0);
    grid->addWidget(processed, 0, 1);
    grid->setColumnStretch(1, 1);

    auto* open = new QPushButton(uiQ(text::kOpenOutputFolder), this);
    open->setObjectName(QStringLiteral("openFolderButton"));
    open->setAutoDefault(false);
    connect(open, &QPushButton::clicked, this, &SummaryWindow::openOutputFolder);
    QLineEdit* folder = nullptr;
    if (m_outputFolder.empty()) {
        open->hide();
    } else {
        // A read-only field: a long path scrolls instead of being cut, and it can be copied.
        folder = new QLineEdit(QFile::decodeName(QByteArray::fromStdString(m_outputFolder)), this);
        folder->setObjectName(QStringLiteral("outputFolder"));
        folder->setReadOnly(true);
        folder->setCursorPosition(0);
        folder->setToolTip(folder->text());
        grid->addWidget(new QLabel(uiQ(text::kSummaryOutputFolder) + QLatin1Char(':'), this), 1, 0);
        grid->addWidget(folder, 1, 1);
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    ok->setMinimumWidth(100);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(open);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(14);
    column->addLayout(grid);
    column->addStretch(1);
    column->addLayout(buttons);

    // Wide enough for the whole folder path where the screen allows it.
    int width = std::max(380, sizeHint().width());
    if (folder) {
        const int pathWidth = folder->fontMetrics().horizontalAdvance(folder->text()) + 24;
        width = std::max(width, sizeHint().width() - folder->sizeHint().width() + pathWidth);
    }
    const QScreen* screen = parent ? parent->screen() : QApplication::primaryScreen();
    if (screen) width = std::min(width, screen->availableGeometry().width() * 2 / 3);
    resize(std::max(width, minimumSizeHint().width()), sizeHint().height());
    ok->setFocus();
}

void SummaryWindow::openOutputFolder() {
    if (m_outputFolder.empty()) return;
    // A failure needs no box of its own: the path is on screen to be copied.
    (void)m_opener.openFolder(m_outputFolder);
}

} // namespace quill::batch::ui
