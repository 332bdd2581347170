// One batch run started from the window: checks, worker threads, progress, result, keep list.
#pragma once

#include "batch/run_driver.h"
#include "imagefiles/image_record.h"
#include "pipeline/run_control.h"
#include "settings/preset.h"
#include "settings/run_settings.h"
#include "toolkit/qt/questions.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QWidget;

namespace quill::batch::ui {

class DesktopOpener;
class ProgressWindow;
class ResultWindow;
class SummaryWindow;

struct WindowRunEnvironment {
    imagefiles::ImageList& images;     ///< the image list; replaced by the keep list after the run
    settings::Preset& settings;        ///< the working settings
    pipeline::RunFlags& flags;         ///< process-wide run flags (loadingPaths belongs to loaders)
    toolkit::qt::Questions& questions; ///< every box of the checks and the run
    bool ignoreWarnings = false;
    std::string standardTitle; ///< window titles
    std::string pdfCreator;    ///< creator text of PDF output
    /// Opens the output folder from the summary (null: the desktop's file manager).
    DesktopOpener* opener = nullptr;
};

/// The window form of the pre-run checks, its boxes shown through `questions` over `parent`
/// (the window run and the preview run both use it). On success `run` holds the run settings.
[[nodiscard]] bool preRunChecksWindow(const imagefiles::ImageList& images,
                                      const settings::Preset& settings, bool ignoreWarnings,
                                      settings::RunSettings& run, toolkit::qt::Questions& questions,
                                      QWidget* parent);

/// One window run: the window form of the pre-run checks, the run thread (preparation and
/// processing on worker threads), the progress window with pause/cancel and its updater, the
/// keep list, and afterwards the result window when an image failed or was skipped, else the
/// summary.
class WindowRun : public QObject {
    Q_OBJECT
public:
    WindowRun(WindowRunEnvironment environment, QWidget* mainWindow, QObject* parent = nullptr);
    /// Stops a run that is still going (cancels it after the current image) and waits for it.
    ~WindowRun() override;

    /// Runs the window pre-run checks; when they pass hides mainWindow, starts the run and
    /// returns true. Refused silently while a run, a preview run or a path loader is active.
    bool start();

    /// True from a successful start() until finished() is emitted.
    [[nodiscard]] bool running() const { return m_running; }
    /// The progress window while the run is going, else nullptr.
    [[nodiscard]] ProgressWindow* progressWindow() const;
    /// The result window while it is open, else nullptr.
    [[nodiscard]] ResultWindow* resultWindow() const;
    /// The summary while it is open, else nullptr.
    [[nodiscard]] SummaryWindow* summaryWindow() const;
    /// The minimum durations of the phases (on by default) keep the progress window readable for
    /// small batches; benchmarks and quick tests switch them off.
    void setMinimumPhaseDurations(bool on) { m_minimumDurations = on; }

signals:
    /// On the GUI thread when the run is over: the result window or the summary was closed and
    /// the image list refilled from the keep list. quitProgram: exitAfterRun was set or the user
    /// closed the progress window and confirmed.
    void finished(bool quitProgram);
    /// The result window was opened (it is modeless; tests and callers may look at it).
    void resultWindowOpened(ResultWindow* window);
    /// The summary was opened (modeless like the result window).
    void summaryWindowOpened(SummaryWindow* window);

private:
    class Asker;
    class WindowCollisions;
    class WindowDiskFull;
    class WindowFace;

    void runThread();
    /// On the GUI thread once the run thread has ended.
    void runThreadEnded();
    void closeResultAndFinish();
    /// What happens after the run.
    enum class AfterRun {
        BackToWindow, ///< the list is refilled from the keep list and the main window returns
        QuitProgram,  ///< the program ends
    };
    void finishRun(AfterRun after);

    WindowRunEnvironment m_env;
    QPointer<QWidget> m_mainWindow;
    std::unique_ptr<WindowFace> m_face;
    /// The run from a successful start() until it is over; it holds the keep list.
    std::unique_ptr<RunDriver> m_driver;
    std::unique_ptr<Asker> m_asker;
    std::atomic<std::int32_t> m_phaseTotal{0};
    std::atomic<bool> m_allOk{true};
    /// A worker thread could not be created: the fatal text, set by the run thread.
    std::string m_fatalText;
    std::thread m_thread;
    QPointer<ProgressWindow> m_progress;
    QPointer<ResultWindow> m_result;
    QPointer<SummaryWindow> m_summary;
    bool m_running = false;
    bool m_endPending = false;
    bool m_minimumDurations = true;
};

} // namespace quill::batch::ui
