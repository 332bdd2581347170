// The window side of a preview run: the checks with their boxes, the run on a worker thread
// while the window stays responsive, then opening the output with its program, or the box that
// says why there is no output or where it is when no program opened it.
#pragma once

#include "batch/run_driver.h"
#include "batch/ui/desktop_opener.h"
#include "imagefiles/image_list.h"
#include "pipeline/run_control.h"
#include "settings/preset.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class QTimer;
class QWidget;

namespace quill::toolkit::qt {
class Questions;
}

namespace quill::batch::ui {

struct PreviewRunEnvironment {
    imagefiles::ImageList& images;
    settings::Preset& settings; ///< the working settings (read, never changed)
    pipeline::RunFlags& flags;
    toolkit::qt::Questions& questions;
    DesktopOpener& opener;
    std::string previewDirectory; ///< where the output goes (ends with "/")
    bool& previewDirectoryUsed;   ///< set after each preview run; shutdown empties the folder
    std::string pdfCreator;
};

class PreviewRun : public QObject {
    Q_OBJECT
public:
    PreviewRun(PreviewRunEnvironment environment, QWidget* mainWindow, QObject* parent = nullptr);
    ~PreviewRun() override;

    /// Starts a preview run on the record `recordId` (the selected row's). Refused silently
    /// while a preview run, a batch run or a path loader is active; a missing record or a
    /// refusing check shows its box. True when the run started.
    bool start(std::int32_t recordId);
    [[nodiscard]] bool active() const { return m_thread.joinable(); }

signals:
    /// The run started: the main window shows the status text, disables its commands and the
    /// list, and the popup shows the busy picture.
    void started();
    /// The run is over and its result was opened or explained.
    void finished(bool opened);

private:
    void poll();
    /// The desktop could not open the output: says where it is and offers to open its folder.
    void offerOutputFolder(const std::string& outputPath);

    class Face;

    PreviewRunEnvironment m_env;
    QWidget* m_mainWindow;
    QTimer* m_timer;
    std::unique_ptr<Face> m_face;
    /// The preview's settings and its run, from a successful start() until the next one.
    std::unique_ptr<settings::Preset> m_settings;
    std::unique_ptr<RunDriver> m_driver;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    imagefiles::ImageResult m_state = imagefiles::ImageResult::Pending;
    std::int32_t m_code = 0;
    std::string m_output;
};

} // namespace quill::batch::ui
