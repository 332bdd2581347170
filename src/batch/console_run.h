// The console form of a batch run: the pre-run checks and the run itself.
#pragma once

#include "imagefiles/image_record.h"
#include "pipeline/run_control.h"
#include "settings/preset.h"
#include "settings/run_settings.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quill::batch {

/// Everything a console run needs besides the image list.
struct ConsoleRunEnvironment {
    imagefiles::ImageList& images;
    /// The working settings. The run works on its own copy, so the caller's record is never
    /// changed, not even for the duration of the run.
    const settings::Preset& settings;
    pipeline::RunFlags& flags;
    bool ignoreWarnings = false;
    std::string standardTitle;              ///< heads the error log
    std::string pdfCreator;                 ///< creator text of PDF output
    std::vector<std::string> errorLogPaths; ///< where the log may go, in order of preference
    /// Show a one-line progress indicator on standard error (when it is a terminal).
    bool progressOnStderr = false;
    /// Wait 1.5 s after "Result: Processed successfully" so that a person can read it; only
    /// worth it when standard output is a terminal, never for a script or a pipe.
    bool pauseAfterSuccess = false;
    /// Clear the output folders of temporary files that an interrupted run left there, and say
    /// so. Only while the instance lock is held, so that no other run of this user is writing.
    bool removeLeftovers = false;
    /// Show what the run would do instead of doing it (see RunDriver::dryRun).
    bool dryRun = false;
    /// The dry run's lines as tab-separated values on standard output: source, output, result
    /// code, reason (see tabSeparatedField).
    bool tabSeparated = false;
    /// Print the error report at the end of a run with failures; off when a caller that runs
    /// several presets reports them together.
    bool reportErrors = true;
};

/// A field of a tab-separated line: logSafeText, with every control character (a tab too)
/// written as "\xNN", so that a field never holds a separator.
[[nodiscard]] std::string tabSeparatedField(std::string_view text);

/// The share of `path` among `count` shards: the 64-bit FNV-1a hash of its bytes modulo `count`.
/// Every machine gives a path the same share.
[[nodiscard]] std::uint32_t shardOfPath(std::string_view path, std::uint32_t count);

/// The outcome of a console run.
enum class ConsoleRunOutcome {
    Refused,       ///< the pre-run checks refused the run
    AllDone,       ///< the run finished and no image failed
    ImagesFailed,  ///< the run finished and at least one image failed
    PrepareFailed, ///< the preparation thread could not be started
    ProcessFailed, ///< the processing thread could not be started
    Interrupted,   ///< a stop signal ended the run early (flags.stopSignal says which)
};

/// The line a console run prints when a stop signal ended it: the signal, how many images were
/// processed and how many were not.
[[nodiscard]] std::string interruptedLine(int signal, std::size_t processed,
                                          std::size_t notProcessed);

/// The pre-run checks in their console form; prints the refusal or the ignored warning. On
/// success `run` holds the derived run settings.
[[nodiscard]] bool preRunChecksConsole(ConsoleRunEnvironment& environment,
                                       settings::RunSettings& run);

/// Checks and runs the batch over the image list, printing the result lines and, when images
/// failed, the error report.
[[nodiscard]] ConsoleRunOutcome consoleRun(ConsoleRunEnvironment& environment);

} // namespace quill::batch
