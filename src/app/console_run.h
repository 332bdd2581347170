// The console batch run: loads the path arguments, checks and runs the batch, prints the result.
#pragma once

#include "app/app_context.h"

namespace quill::app {

/// Runs one console batch over `context.pathArguments` with the working settings and returns
/// the exit status (0 all done, 1 an image failed, 2 the run was refused, 128 + the signal when
/// SIGINT, SIGTERM or SIGHUP stopped it: the image in progress is finished or rolled back, no
/// further image starts).
[[nodiscard]] int runConsoleBatch(AppContext& context);

} // namespace quill::app
