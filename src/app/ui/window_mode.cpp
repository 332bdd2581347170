// The window mode: the application object, the main window and the event loop.
#include "app/ui/window_mode.h"

#include "app/startup.h"
#include "app/ui/main_window.h"
#include "imagefiles/image_list.h"
#include "pipeline/run_control.h"
#include "toolkit/platform/platform.h"
#include "toolkit/qt/questions.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace quill::app::ui {
namespace {

/// Whether a window can be shown at all; without a display Qt would abort the process.
bool displayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    // "-platform offscreen" (or vnc, ...) on the command line needs no display either.
    for (std::string_view argument : toolkitArguments()) {
        if (argument.starts_with("--")) argument.remove_prefix(1);
        if (argument == "-platform" || argument.starts_with("-platform=")) return true;
    }
    return false;
}

} // namespace

int runWindowMode(AppContext& context) {
    if (!displayAvailable()) {
        showFatalError(context, "Fatal error!\r\n\r\nCouldn't open the window: no display was "
                                "found. Start with -Console to work without a window (see -Help).");
    }
    // Qt's own options of the command line (style, style sheet, platform theme, right to left)
    // go to the application object, which reads them; the program name comes first. They live
    // as long as the application object, which keeps argv.
    std::vector<std::string> storage{"quillmere"};
    const std::vector<std::string>& toolkit = toolkitArguments();
    storage.insert(storage.end(), toolkit.begin(), toolkit.end());
    std::vector<char*> argv;
    for (std::string& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int argc = int(storage.size());
    // No palette or style is set here: the window follows the desktop's (or -style's).
    QApplication application(argc, argv.data());

    // From here on a fatal error is a message box, as the user sees no console.
    setFatalErrorPresenter([](const std::string& message) {
        QMessageBox::critical(nullptr, QString::fromStdString(standardTitle()),
                              QString::fromStdString(message));
    });

    imagefiles::ImageList images;
    pipeline::RunFlags flags;
    // A stop signal (logout, kill, Ctrl+C in the terminal that started the program) ends the
    // program in good order: the event loop ends, and tearing down the window lets a run in
    // progress finish or roll back its current image, so no temporary file is left behind.
    const platform::StopSignals stopSignals([&images, &flags, &application](int signal) {
        flags.stopForSignal(signal);
        images.cancel.store(1);
        QMetaObject::invokeMethod(
            &application, [signal] { QCoreApplication::exit(ExitSignalBase + signal); },
            Qt::QueuedConnection);
    });
    MainWindow window(context, images, flags, toolkit::qt::dialogQuestions());
    window.show();
    // A zero timer fires once the event loop runs, that is once the window is on screen, so the
    // user sees the window before the loader starts filling its list.
    QTimer::singleShot(0, &window, [&window] { window.loadPathArguments(); });
    const int status = QApplication::exec();
    setFatalErrorPresenter({});
    return status == 0 ? ExitOk : status;
}

} // namespace quill::app::ui
