// The window mode: the application object, the main window and the event loop.
#pragma once

#include "app/app_context.h"

namespace quill::app::ui {

/// Opens the main window with the path arguments loading and runs the event loop until the
/// window ends the program. Returns the exit status.
[[nodiscard]] int runWindowMode(AppContext& context);

} // namespace quill::app::ui
