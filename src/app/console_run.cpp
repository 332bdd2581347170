// The console batch run: loads the path arguments, checks and runs the batch, prints the result.
#include "app/console_run.h"

#include "app/startup.h"
#include "batch/console_run.h"
#include "imagefiles/image_list.h"
#include "pipeline/run_control.h"
#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"
#include "toolkit/platform/platform.h"

#include <string>
#include <thread>

namespace quill::app {
namespace {

/// Adds the path arguments to the list on a loader thread and prints how many images it holds.
void loadPathArguments(AppContext& context, imagefiles::ImageList& images,
                       pipeline::RunFlags& flags) {
    if (context.pathArguments.empty()) return;
    const auto& s = context.workingSettings;
    const imagefiles::ListOptions options{.includeSubdirectories = s.includeSubdirectories != 0,
                                          .includeHiddenFiles = s.includeHiddenFiles != 0,
                                          .videos = imagefiles::Videos{s.includeVideos != 0}};
    flags.loadingPaths.store(1);
    images.busy.store(1);
    std::thread loader([&] {
        imagefiles::addPaths(context.pathArguments, images, options);
        if (!images.empty()) {
            platform::consolePrint("Loaded images: " + std::to_string(images.size()));
            platform::consolePrint("");
        }
        images.busy.store(0);
        flags.loadingPaths.store(0);
    });
    loader.join();
    context.pathArguments.clear();
}

} // namespace

int runConsoleBatch(AppContext& context) {
    imagefiles::ImageList images;
    pipeline::RunFlags flags;
    // Ctrl+C, a closed terminal or a polite kill stops the run in good order instead of cutting
    // a write short: loading stops, no further image starts, the current one finishes or rolls
    // back. A second signal ends the program at once.
    const platform::StopSignals stopSignals([&images, &flags](int signal) {
        flags.stopForSignal(signal);
        images.cancel.store(1);
    });
    loadPathArguments(context, images, flags);

    // The log goes next to the program when that folder is writable, else to the per-user
    // settings folder.
    const std::string logName =
        settings::programInfoText(settings::info::kShortName) + "_Errorlog.txt";
    batch::ConsoleRunEnvironment env{
        .images = images,
        .settings = context.workingSettings,
        .flags = flags,
        .ignoreWarnings = context.ignoreWarnings,
        .standardTitle = standardTitle(),
        .pdfCreator = composeTitle({.version = true}),
        .errorLogPaths = {context.programDirectory + logName,
                          platform::appDataDirectory() +
                              settings::programInfoText(settings::info::kProgramName) + "/" +
                              logName},
        .progressOnStderr = platform::stderrIsTerminal(),
        .pauseAfterSuccess = platform::stdoutIsTerminal(),
        .removeLeftovers = context.instanceLock && context.instanceLock->held(),
    };

    switch (batch::consoleRun(env)) {
    case batch::ConsoleRunOutcome::AllDone:
        return ExitOk;
    case batch::ConsoleRunOutcome::ImagesFailed:
        return ExitImagesFailed;
    case batch::ConsoleRunOutcome::Refused:
        return ExitRunRefused;
    case batch::ConsoleRunOutcome::Interrupted:
        return ExitSignalBase + flags.stopSignal.load();
    case batch::ConsoleRunOutcome::PrepareFailed:
        showFatalError(context, "Fatal error!\r\n\r\nCouldn't initialize preparation.");
    case batch::ConsoleRunOutcome::ProcessFailed:
        showFatalError(context, "Fatal error!\r\n\r\nCouldn't initialize process.");
    }
    return ExitOk;
}

} // namespace quill::app
