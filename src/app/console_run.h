// The console batch run: loads the path arguments, checks and runs the batch, prints the result.
#pragma once

#include "app/app_context.h"

namespace quill::app {

/// Runs one console batch over `context.pathArguments` with the working settings and returns
/// the exit status (0 all done, 1 an image failed, 2 the run was refused).
[[nodiscard]] int runConsoleBatch(AppContext& context);

} // namespace quill::app
