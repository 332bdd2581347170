// One batch run started from the window.
#include "batch/ui/window_run.h"
#include "batch/worker_thread.h"

#include "batch/prepare.h"
#include "batch/ui/desktop_opener.h"
#include "batch/ui/progress_window.h"
#include "batch/ui/result_window.h"
#include "batch/ui/summary_window.h"
#include "batch/ui/ui_texts.h"
#include "batch/window_steps.h"
#include "pipeline/process_loop.h"
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

    if (!preRunChecksWindow(m_env.images, m_env.settings, m_env.ignoreWarnings, m_run,
                            m_env.questions, m_mainWindow))
        return false;

    m_keepList = std::make_unique<imagefiles::ImageList>(m_env.images.lastRecordId());
    flags.resetForRun();
    for (auto& record : m_env.images.records()) {
        record.resultState = imagefiles::ImageResult::Pending;
        record.resultCode = imagefiles::DetailNone;
        record.resultText.clear();
    }
    m_env.images.setCurrentIndex(0);
    m_fatalText.clear();
    m_allOk.store(true);
    m_endPending = false;
    if (m_mainWindow) m_mainWindow->hide();
    flags.runActive.store(1);
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
    auto& flags = m_env.flags;
    auto& images = m_env.images;
    // Keeps a phase on screen for at least `least`, so that the progress window of a small
    // batch can be read instead of flashing past; a large batch takes longer anyway and is not
    // delayed. Polled in 20 ms steps so that an abandoned run stops waiting at once.
    const auto holdUntil = [this](Clock::time_point start, std::chrono::milliseconds least) {
        if (!m_minimumDurations) return;
        while (Clock::now() - start < least && !m_asker->abandoned())
            std::this_thread::sleep_for(20ms);
    };

    if (m_run.needsImageData) {
        flags.runPhase.store(1);
        flags.preparing.store(1);
        const auto started = Clock::now();
        PrepareEnvironment prep{.images = images,
                                .keepList = *m_keepList,
                                .settings = m_env.settings,
                                .run = m_run,
                                .flags = flags};
        if (!runOnWorker([&prep] { prepare(prep); }))
            m_fatalText = "Fatal error!\r\n\r\nCouldn't initialize preparation.";
        holdUntil(started, 750ms);
        flags.preparing.store(0);
        flags.progressCounter.store(0);
        images.setCurrentIndex(0);
    }
    if (m_fatalText.empty() && !flags.runCancelled.load()) {
        m_phaseTotal.store(pipeline::kProcessingUnitsPerImage * std::int32_t(images.size()));
        flags.runPhase.store(2);
        const auto started = Clock::now();
        WindowCollisions collisions(*this);
        WindowDiskFull diskFull(*this);
        pipeline::ProcessEnvironment processing{.images = images,
                                                .keepList = *m_keepList,
                                                .settings = m_env.settings,
                                                .run = m_run,
                                                .flags = flags,
                                                .collisions = collisions,
                                                .diskFull = diskFull,
                                                .pdfCreator = m_env.pdfCreator};
        if (!runOnWorker([&processing] { pipeline::processImages(processing); }))
            m_fatalText = "Fatal error!\r\n\r\nCouldn't initialize process.";
        // A question a worker asked may still be on screen: the run ends only once it is
        // answered, polled like the pause flags.
        while (flags.questionOpen.load() && !m_asker->abandoned())
            std::this_thread::sleep_for(50ms);
        holdUntil(started, 1250ms);
    }

    bool allOk = true;
    for (const auto& record : images.records())
        if (imagefiles::isFailure(record.resultState)) allOk = false;
    m_allOk.store(allOk);

    if (m_fatalText.empty() && !flags.runCancelled.load() && !flags.quitRequested.load() &&
        !m_env.settings.exitAfterRun && allOk) {
        m_phaseTotal.store(pipeline::kProcessingUnitsPerImage * std::int32_t(images.size()));
        flags.runPhase.store(3);
        holdUntil(Clock::now(), 1500ms);
    }
    flags.runActive.store(0);
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
    if (!quitProgram && m_keepList) refillFromKeepList(m_env.images, *m_keepList, m_env.settings);
    m_keepList.reset();
    m_asker.reset();
    m_running = false;
    m_env.flags.runPhase.store(0);
    if (!quitProgram && m_mainWindow) {
        m_mainWindow->show();
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    }
    emit finished(quitProgram);
}

} // namespace quill::batch::ui
