// Temporary stand-in for the window run until the real one is merged: it refuses every start.
#include "batch/ui/window_run.h"

namespace quill::batch::ui {

WindowRun::WindowRun(WindowRunEnvironment environment, QWidget* mainWindow, QObject* parent)
    : QObject(parent), m_environment(environment), m_mainWindow(mainWindow) {}

bool WindowRun::start() {
    return false;
}

} // namespace quill::batch::ui
