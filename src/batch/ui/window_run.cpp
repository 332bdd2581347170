// One batch run started from the window.
#include "batch/ui/window_run.h"

#include "batch/ui/desktop_opener.h"
#include "batch/ui/progress_window.h"
#include "batch/ui/result_window.h"
#include "batch/ui/summary_window.h"
#include "batch/ui/ui_texts.h"
#include "batch/window_steps.h"
#include "settings/output_naming.h"
#include "toolkit/platform/platform.h"

#include <QFile>
#include <QWidget>

#include <chrono>
#include <map>
#include <system_error>

namespace quill::batch::ui {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

QString displayPath(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

} // namespace

/// Carries a question of a worker to the GUI thread and the answer back. The worker waits; the
/// GUI thread never does. While a question is open `questionOpen` is held, so other workers hold
/// as if paused.
class WindowRun::Asker {
public:
    Asker(QObject* context, pipeline::RunFlags& flags) : m_context(context), m_flags(flags) {}

    /// Runs `question` on the GUI thread and returns its answer, or `fallback` when the run is
    /// torn down before it was answered.
    int ask(std::function<int()> question, int fallback) {
        std::uint64_t id = 0;
        {
            std::lock_guard lock(m_mutex);
            if (m_abandoned) return fallback;
            id = ++m_lastId;
        }
        m_flags.questionOpen.fetch_add(1);
        QMetaObject::invokeMethod(
            m_context,
            [this, id, question = std::move(question)] {
                const int answer = question();
                std::lock_guard lock(m_mutex);
                m_answers[id] = answer;
                m_changed.notify_all();
            },
            Qt::QueuedConnection);
        int answer = fallback;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_abandoned || m_answers.count(id) != 0; });
            if (auto it = m_answers.find(id); it != m_answers.end()) {
                answer = it->second;
                m_answers.erase(it);
            }
        }
        m_flags.questionOpen.fetch_sub(1);
        return answer;
    }

    /// Releases every waiting worker with its fallback answer.
    void abandon() {
        std::lock_guard lock(m_mutex);
        m_abandoned = true;
        m_changed.notify_all();
    }

    [[nodiscard]] bool abandoned() {
        std::lock_guard lock(m_mutex);
        return m_abandoned;
    }

private:
    QObject* m_context;
    pipeline::RunFlags& m_flags;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_lastId = 0;
    std::map<std::uint64_t, int> m_answers;
    bool m_abandoned = false;
};

/// The overwrite question, asked in a box over the progress window.
class WindowRun::WindowCollisions final : public settings::CollisionPolicy {
public:
    explicit WindowCollisions(WindowRun& run) : m_run(run) {}
    settings::CollisionAnswer decide(const std::string& outputPath) override {
        using toolkit::qt::OverwriteAnswer;
        const int answer = m_run.m_asker->ask(
            [this, outputPath] {
                return int(m_run.m_env.questions.askOverwrite(
                    m_run.m_progress, uiQ(text::kQuestion),
                    uiQ(text::kOutputExists) + QStringLiteral(":\r\n") + displayPath(outputPath)));
            },
            int(OverwriteAnswer::SkipThis));
        switch (OverwriteAnswer(answer)) {
        case OverwriteAnswer::ReplaceThis:
            return settings::CollisionAnswer::ReplaceThis;
        case OverwriteAnswer::ReplaceAll:
            return settings::CollisionAnswer::ReplaceAll;
        case OverwriteAnswer::SkipAll:
            return settings::CollisionAnswer::SkipAll;
        case OverwriteAnswer::SkipThis:
            break;
        }
        return settings::CollisionAnswer::SkipThis;
    }

private:
    WindowRun& m_run;
};

/// The disk-full question: Yes stops the run after this image.
class WindowRun::WindowDiskFull final : public pipeline::DiskFullQuestion {
public:
    explicit WindowDiskFull(WindowRun& run) : m_run(run) {}
    bool askStopAfterDiskFull(const std::string& outputPath) override {
        const int answer = m_run.m_asker->ask(
            [this, outputPath] {
                const QString text = uiQ(text::kWritingFailed) + QStringLiteral(": ") +
                                     displayPath(outputPath) + QStringLiteral("\r\n\r\n") +
                                     uiQ(text::kWritingFailedExplained) +
                                     QStringLiteral("\r\n\r\n") + uiQ(text::kReallyCancel);
                return int(m_run.m_env.questions.ask(
                               m_run.m_progress, toolkit::qt::BoxKind::Question,
                               uiQ(text::kQuestion), text) == toolkit::qt::Answer::Yes);
            },
            1);
        return answer != 0;
    }

private:
    WindowRun& m_run;
};

/// The window face of a run: the checks in boxes over the main window, the questions in boxes
/// over the progress window, and each phase on screen for a minimum time.
class WindowRun::WindowFace final : public RunFace {
public:
    explicit WindowFace(WindowRun& run) : m_run(run), m_collisions(run), m_diskFull(run) {}

    bool passChecks(const imagefiles::ImageList& images, const settings::Preset& settings,
                    settings::RunSettings& run) override {
        return preRunChecksWindow(images, settings, m_run.m_env.ignoreWarnings, run,
                                  m_run.m_env.questions, m_run.m_mainWindow);
    }
    settings::CollisionPolicy& collisions() override { return m_collisions; }
    pipeline::DiskFullQuestion& diskFull() override { return m_diskFull; }

    void phaseStarting(pipeline::RunPhase, std::int32_t units) override {
        m_run.m_phaseTotal.store(units);
        m_phaseStarted = Clock::now();
    }

    /// Keeps a phase on screen for a minimum time, so that the progress window of a small batch
    /// can be read instead of flashing past; a large batch takes longer anyway and is not
    /// delayed. A cancelled run is not held: the user asked for it to end. Polled in 20 ms steps
    /// so that an abandoned or cancelled run stops waiting at once.
    void phaseDone(pipeline::RunPhase phase) override {
        if (!m_run.m_minimumDurations) return;
        const std::chrono::milliseconds least = phase == pipeline::RunPhase::Preparing    ? 750ms
                                                : phase == pipeline::RunPhase::Processing ? 1250ms
                                                                                          : 1500ms;
        while (Clock::now() - m_phaseStarted < least && !m_run.m_asker->abandoned() &&
               !m_run.m_env.flags.runCancelled.load())
            std::this_thread::sleep_for(20ms);
    }

private:
    WindowRun& m_run;
    WindowCollisions m_collisions;
    WindowDiskFull m_diskFull;
    Clock::time_point m_phaseStarted;
};

bool preRunChecksWindow(const imagefiles::ImageList& images, const settings::Preset& settings,
                        bool ignoreWarnings, settings::RunSettings& run,
                        toolkit::qt::Questions& questions, QWidget* parent) {
    const ShowCheckBox show = [&questions, parent](const CheckBox& box) {
        using toolkit::qt::BoxKind;
        BoxKind kind = BoxKind::Information;
        switch (box.kind) {
        case CheckBox::Kind::Information:
            break;
        case CheckBox::Kind::Warning:
            kind = BoxKind::Warning;
            break;
        case CheckBox::Kind::Question:
            kind = BoxKind::Question;
            break;
        case CheckBox::Kind::DestructiveQuestion:
            kind = BoxKind::DestructiveQuestion;
            break;
        }
        return questions.ask(parent, kind, uiQ(box.titleIndex), QString::fromStdString(box.text)) ==
               toolkit::qt::Answer::Yes;
    };
    return batch::preRunChecksWindow(images, settings, ignoreWarnings, run, show,
                                     settings::currentUiTexts());
}

WindowRun::WindowRun(WindowRunEnvironment environment, QWidget* mainWindow, QObject* parent)
    : QObject(parent), m_env(std::move(environment)), m_mainWindow(mainWindow) {}

WindowRun::~WindowRun() {
    if (m_thread.joinable()) {
        // Torn down while the run goes on: stop after the current image and release any worker
        // waiting for an answer.
        m_env.flags.runCancelled.store(1);
        m_env.flags.runActive.store(0);
        if (m_asker) m_asker->abandon();
        m_thread.join();
    }
    delete m_progress.data();
    delete m_result.data();
    delete m_summary.data();
}

ProgressWindow* WindowRun::progressWindow() const {
    return m_progress.data();
}
ResultWindow* WindowRun::resultWindow() const {
    return m_result.data();
}
SummaryWindow* WindowRun::summaryWindow() const {
    return m_summary.data();
}

bool WindowRun::start() {
    auto& flags = m_env.flags;
    if (m_running || flags.previewRun.load() || flags.runActive.load() || flags.loadingPaths.load())
        return false;

    if (!m_face) m_face = std::make_unique<WindowFace>(*this);
    m_driver = std::make_unique<RunDriver>(RunSetup{.images = m_env.images,
                                                    .settings = m_env.settings,
                                                    .flags = flags,
                                                    .pdfCreator = m_env.pdfCreator},
                                           *m_face);
    if (!m_driver->begin()) {
        m_driver.reset();
        return false;
    }

    m_fatalText.clear();
    m_allOk.store(true);
    m_endPending = false;
    if (m_mainWindow) m_mainWindow->hide();
    m_phaseTotal.store(std::int32_t(m_env.images.size()));

    m_progress = new ProgressWindow(flags, m_phaseTotal, m_env.questions,
                                    QString::fromStdString(m_env.standardTitle));
    connect(m_progress, &ProgressWindow::questionAnswered, this, [this] {
        if (m_endPending) runThreadEnded();
    });
    m_progress->show();
    m_asker = std::make_unique<Asker>(this, flags);
    m_running = true;
    try {
        m_thread = std::thread([this] { runThread(); });
    } catch (const std::system_error&) {
        m_fatalText = "Fatal error!\r\n\r\nCouldn't initialize preparation.";
        flags.runActive.store(0);
        runThreadEnded();
    }
    return true;
}

void WindowRun::runThread() {
    const RunOutcome outcome = m_driver->work();
    if (outcome.end == RunEnd::PreparationNotStarted)
        m_fatalText = "Fatal error!\r\n\r\nCouldn't initialize preparation.";
    if (outcome.end == RunEnd::ProcessingNotStarted)
        m_fatalText = "Fatal error!\r\n\r\nCouldn't initialize process.";
    m_allOk.store(outcome.allOk);
    QMetaObject::invokeMethod(
        this, [this] { runThreadEnded(); }, Qt::QueuedConnection);
}

void WindowRun::runThreadEnded() {
    // One of the progress window's questions is still open: go on once it is answered.
    if (m_progress && m_progress->asking()) {
        m_endPending = true;
        return;
    }
    m_endPending = false;
    if (m_thread.joinable()) m_thread.join();
    if (m_progress) {
        m_progress->finish();
        m_progress->deleteLater();
        m_progress = nullptr;
    }
    if (!m_fatalText.empty()) {
        (void)m_env.questions.ask(nullptr, toolkit::qt::BoxKind::Critical,
                                  QString::fromStdString(m_env.standardTitle),
                                  QString::fromStdString(m_fatalText));
        finishRun(AfterRun::QuitProgram);
        return;
    }
    if (m_env.flags.quitRequested.load() || m_env.settings.exitAfterRun) {
        finishRun(AfterRun::QuitProgram);
        return;
    }
    if (!m_allOk.load()) {
        m_result = new ResultWindow(m_env.images);
        m_result->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_result, &QDialog::finished, this, [this] { finishRun(AfterRun::BackToWindow); });
        m_result->show();
        emit resultWindowOpened(m_result);
        return;
    }
    // Nothing failed: say so, rather than return to the main window as if nothing happened.
    m_summary = new SummaryWindow(summarizeRun(m_env.images),
                                  m_env.opener ? *m_env.opener : desktopOpener());
    m_summary->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_summary, &QDialog::finished, this, [this] { finishRun(AfterRun::BackToWindow); });
    m_summary->show();
    emit summaryWindowOpened(m_summary);
}

void WindowRun::finishRun(AfterRun after) {
    const bool quitProgram = after == AfterRun::QuitProgram;
    if (!quitProgram && m_driver)
        refillFromKeepList(m_env.images, m_driver->keepList(), m_env.settings);
    m_driver.reset();
    m_asker.reset();
    m_running = false;
    m_env.flags.enterPhase(pipeline::RunPhase::Idle);
    if (!quitProgram && m_mainWindow) {
        m_mainWindow->show();
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    }
    emit finished(quitProgram);
}

} // namespace quill::batch::ui
