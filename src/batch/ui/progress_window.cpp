// The progress window of a window run.
#include "batch/ui/progress_window.h"

#include "batch/ui/ui_texts.h"

#include <QCloseEvent>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace quill::batch::ui {

using pipeline::RunPhase;

/// A one-line label that shortens its text to the width it gets (at the end or in the middle)
/// and shows the whole text as its tooltip.
class ElidedLabel : public QLabel {
public:
    ElidedLabel(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), m_mode(mode) {
        setTextFormat(Qt::PlainText);
        setMinimumWidth(40);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }
    void setFullText(const QString& text) {
        m_full = text;
        setToolTip(text);
        // Screen readers read the whole text, not the shortened one; a new name is announced
        // (setAccessibleName sends NameChanged), so the label reads as live text.
        setAccessibleName(text);
        refit();
    }
    [[nodiscard]] const QString& fullText() const { return m_full; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        refit();
    }

private:
    void refit() { setText(fontMetrics().elidedText(m_full, m_mode, contentsRect().width())); }
    Qt::TextElideMode m_mode;
    QString m_full;
};

namespace {
/// How often the window reads the run flags: ten times a second looks smooth and costs the
/// workers nothing, since they never wait for the window.
constexpr int kUpdateIntervalMs = 100;
constexpr int kTitleIntervalMs = 500;

/// File names and folders are bytes; show them as the file system would name them.
QString displayPath(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}
} // namespace

ProgressWindow::ProgressWindow(pipeline::RunFlags& flags,
                               const std::atomic<std::int32_t>& phaseTotal,
                               toolkit::qt::Questions& questions, QString standardTitle,
                               QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_flags(flags),
      m_phaseTotal(phaseTotal), m_questions(questions), m_standardTitle(std::move(standardTitle)) {
    setObjectName(QStringLiteral("progressWindow"));
    setWindowTitle(QString());
    setSizeGripEnabled(false);

    m_frame = new QGroupBox(this);
    m_frame->setObjectName(QStringLiteral("phaseFrame"));
    m_singleLine = new QLabel(m_frame);
    m_singleLine->setObjectName(QStringLiteral("singleLine"));
    m_singleLine->setAlignment(Qt::AlignCenter);

    m_currentLines = new QWidget(m_frame);
    m_fileName = new ElidedLabel(Qt::ElideRight, m_currentLines);
    m_fileName->setObjectName(QStringLiteral("fileName"));
    m_folder = new ElidedLabel(Qt::ElideMiddle, m_currentLines);
    m_folder->setObjectName(QStringLiteral("folder"));
    auto* lines = new QGridLayout(m_currentLines);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setHorizontalSpacing(5);
    lines->addWidget(new QLabel(uiQ(text::kFile) + QLatin1Char(':'), m_currentLines), 0, 0);
    lines->addWidget(m_fileName, 0, 1);
    lines->addWidget(new QLabel(uiQ(text::kFolder) + QLatin1Char(':'), m_currentLines), 1, 0);
    lines->addWidget(m_folder, 1, 1);
    lines->setColumnStretch(1, 1);
    m_currentLines->hide();

    m_bar = new QProgressBar(m_frame);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_bar->setMinimumHeight(30);
    // The bar shows no text; screen readers get its percentage as its description.
    m_bar->setAccessibleName(uiQ(text::kProgress));
    m_bar->setAccessibleDescription(QStringLiteral("0%"));

    auto* frameLayout = new QVBoxLayout(m_frame);
    frameLayout->setContentsMargins(10, 10, 10, 10);
    frameLayout->addWidget(m_singleLine);
    frameLayout->addWidget(m_currentLines);
    frameLayout->addWidget(m_bar);

    m_pause = new QPushButton(uiQ(text::kPause), this);
    m_pause->setObjectName(QStringLiteral("pauseButton"));
    m_pause->setDefault(true);
    m_pause->setAutoDefault(true);
    m_pause->setMinimumSize(120, 23);
    m_cancel = new QPushButton(uiQ(text::kCancel), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_cancel->setAutoDefault(false);
    m_cancel->setMinimumSize(120, 23);
    connect(m_pause, &QPushButton::clicked, this, &ProgressWindow::togglePause);
    connect(m_cancel, &QPushButton::clicked, this, [this] { askToStop(StopKind::Cancel); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pause, 1);
    buttons->addSpacing(20);
    buttons->addWidget(m_cancel, 1);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(20);
    column->addWidget(m_frame);
    column->addLayout(buttons);

    // 300 x 183 is the least size; only the width may grow.
    resize(std::max(300, sizeHint().width()), std::max(183, sizeHint().height()));
    setMinimumSize(std::max(300, minimumSizeHint().width()), height());
    setMaximumHeight(height());

    m_timer = new QTimer(this);
    m_timer->setInterval(kUpdateIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &ProgressWindow::update);
    m_timer->start();
}

ProgressWindow::~ProgressWindow() = default;

void ProgressWindow::finish() {
    m_finished = true;
    m_timer->stop();
    close();
}

void ProgressWindow::showPhase(RunPhase phase) {
    int phaseText = 0;
    switch (phase) {
    case RunPhase::Preparing:
        phaseText = text::kPreparing;
        break;
    case RunPhase::Processing:
        phaseText = text::kProcessing;
        break;
    case RunPhase::Finishing:
        phaseText = text::kFinishing;
        break;
    default: // Idle
        return;
    }
    m_phase = phase;
    m_phaseText = phaseText;
    m_frame->setTitle(frameTitle(phaseText));
    m_pausedTitleShown = false; // a pause goes on showing in the new phase
    m_total = std::max<std::int32_t>(m_phaseTotal.load(), 0);
    m_bar->setRange(0, std::max<std::int32_t>(m_total, 1));
    m_bar->setValue(0);
    m_bar->setAccessibleDescription(QStringLiteral("0%"));
    if (phase == RunPhase::Finishing) {
        // Finishing only updates the list: nothing is left to pause or cancel. A pause pressed
        // during the last image would otherwise keep the title at "Paused".
        m_flags.runPaused.store(0);
        m_pause->setText(uiQ(text::kPause));
        m_pause->setEnabled(false);
        m_cancel->setEnabled(false);
    }
    if (phase == RunPhase::Processing) {
        m_singleLine->hide();
        m_currentLines->show();
    } else {
        m_currentLines->hide();
        m_singleLine->setText(phase == RunPhase::Preparing
                                  ? uiQ(text::kReadingDetails) + QStringLiteral("...")
                                  : uiQ(text::kUpdatingList));
        m_singleLine->show();
    }
    emit phaseShown(phase);
}

QString ProgressWindow::frameTitle(int stateText) const {
    return uiQ(text::kProgress) + QStringLiteral(": ") + uiQ(stateText);
}

QString ProgressWindow::percentText() const {
    const double counter = double(m_flags.progressCounter.load());
    const double percent = m_total > 0 ? std::clamp(counter * 100.0 / m_total, 0.0, 100.0) : 0.0;
    return QString::number(percent, 'f', 2);
}

void ProgressWindow::update() {
    if (m_finished) return;
    const RunPhase phase = m_flags.phase();
    if (phase != m_phase) showPhase(phase);
    if (m_phase == RunPhase::Idle) return;

    if (m_flags.runPaused.load() || m_flags.questionOpen.load()) {
        if (!m_pausedTitleShown) {
            setWindowTitle(percentText() + QStringLiteral("% ") + uiQ(text::kPaused) +
                           QStringLiteral(" - ") + m_standardTitle);
            // The frame says it too: not every desktop shows a window's title.
            m_frame->setTitle(frameTitle(text::kPaused));
            m_pausedTitleShown = true;
        }
        return;
    }
    if (m_pausedTitleShown || !m_sinceTitle.isValid() ||
        m_sinceTitle.elapsed() >= kTitleIntervalMs) {
        setWindowTitle(percentText() + QStringLiteral("% - ") + m_standardTitle);
        if (m_pausedTitleShown) m_frame->setTitle(frameTitle(m_phaseText));
        m_sinceTitle.start();
        m_pausedTitleShown = false;
    }
    if (m_phase == RunPhase::Processing) {
        const std::int32_t id = m_flags.currentImageId.load();
        if (id != m_shownImageId) {
            std::string name, folder;
            m_flags.readCurrent(name, folder);
            // Labels show plain text, so an "&" in a name needs no doubling here.
            m_fileName->setFullText(displayPath(name));
            m_folder->setFullText(displayPath(folder));
            m_shownImageId = id;
        }
    }
    showBarValue(std::clamp<std::int32_t>(m_flags.progressCounter.load(), 0, m_bar->maximum()));
}

void ProgressWindow::showBarValue(int value) {
    if (value == m_bar->value()) return;
    m_bar->setValue(value); // tells screen readers the new value (ValueChanged)
    // Whole percents: a reader that follows the description is not flooded with hundredths.
    const int percent = m_total > 0 ? int(std::int64_t(value) * 100 / m_total) : 0;
    m_bar->setAccessibleDescription(QString::number(percent) + QLatin1Char('%'));
}

void ProgressWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // Screen readers name the window by its title, which shows the percentage and the pause.
    if (event->type() == QEvent::WindowTitleChange) setAccessibleName(windowTitle());
}

void ProgressWindow::togglePause() {
    if (m_flags.runCancelled.load()) return;
    const bool paused = m_flags.runPaused.load() == 0;
    m_flags.runPaused.store(paused ? 1 : 0);
    m_pause->setText(uiQ(paused ? text::kContinue : text::kPause));
}

void ProgressWindow::askToStop(StopKind kind) {
    const bool quit = kind == StopKind::Quit;
    if (m_finished || m_asking || m_flags.runCancelled.load()) return;
    m_asking = true;
    // Counted, so that a question of the run's workers open at the same time keeps its hold.
    m_flags.questionOpen.fetch_add(1);
    const auto answer = m_questions.ask(this, toolkit::qt::BoxKind::Question, uiQ(text::kQuestion),
                                        uiQ(quit ? text::kReallyExit : text::kReallyCancel));
    if (answer == toolkit::qt::Answer::Yes) {
        if (quit) m_flags.quitRequested.store(1);
        m_flags.runCancelled.store(1);
        m_flags.runPaused.store(0);
        m_pause->setEnabled(false);
        m_cancel->setEnabled(false);
    }
    m_flags.questionOpen.fetch_sub(1);
    m_asking = false;
    emit questionAnswered();
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    if (m_finished) {
        event->accept();
        return;
    }
    event->ignore();
    askToStop(StopKind::Quit);
}

void ProgressWindow::reject() {
    // Escape: the same as closing.
    if (m_finished) {
        QDialog::reject();
        return;
    }
    askToStop(StopKind::Quit);
}

} // namespace quill::batch::ui
