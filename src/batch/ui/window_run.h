// One batch run started from the main window.
#pragma once

#include "imagefiles/image_record.h"
#include "pipeline/run_control.h"
#include "settings/preset.h"
#include "toolkit/qt/questions.h"

#include <QObject>
#include <string>

class QWidget;

namespace quill::batch::ui {

struct WindowRunEnvironment {
    imagefiles::ImageList& images;     // the image list; replaced by the keep list after the run
    settings::Preset& settings;        // the working settings
    pipeline::RunFlags& flags;         // process-wide run flags (loadingPaths belongs to loaders)
    toolkit::qt::Questions& questions; // every box of the checks and the run
    bool ignoreWarnings = false;
    std::string standardTitle; // window titles
    std::string pdfCreator;    // creator text of PDF output
};

/// One window run: the window form of the pre-run checks, the run thread (preparation and
/// processing on worker threads), the progress window with pause/cancel and its updater, the
/// keep list, and the result window afterwards.
class WindowRun : public QObject {
    Q_OBJECT
public:
    WindowRun(WindowRunEnvironment environment, QWidget* mainWindow, QObject* parent = nullptr);
    /// Runs the window pre-run checks; when they pass hides mainWindow, starts the run and
    /// returns true. Refused silently while a run, a preview run or a path loader is active.
    bool start();
signals:
    /// On the GUI thread when the run is over: the result window (if any) was closed and the
    /// image list refilled from the keep list. quitProgram: exitAfterRun was set or the user
    /// closed the progress window and confirmed.
    void finished(bool quitProgram);

private:
    WindowRunEnvironment m_environment;
    QWidget* m_mainWindow;
};

} // namespace quill::batch::ui
