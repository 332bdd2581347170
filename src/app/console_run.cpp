// The console batch run: loads the path arguments and list files, checks and runs the batch with
// one preset or several in turn, prints the result.
#include "app/console_run.h"

#include "app/command_line.h"
#include "app/console_mode.h"
#include "app/startup.h"
#include "batch/console_run.h"
#include "batch/error_log.h"
#include "imagefiles/image_list.h"
#include "pipeline/run_control.h"
#include "settings/field_assignment.h"
#include "settings/language_pack.h"
#include "settings/preset_range.h"
#include "settings/run_settings.h"
#include "settings/ui_text_ids.h"
#include "toolkit/platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

namespace quill::app {
namespace {

// A list file larger than this is no list of paths.
constexpr std::uint64_t kMaxListFileBytes = std::uint64_t{1} << 30;

std::optional<std::vector<std::uint8_t>> readStandardInput() {
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0) return bytes;
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (bytes.size() + std::size_t(n) > kMaxListFileBytes) return std::nullopt;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
}

/// The paths of a list: one per line, a CR before the LF dropped, empty lines left out. The
/// bytes are taken as they are, so names that are not UTF-8 are found too.
imagefiles::PathList pathsOfList(const std::vector<std::uint8_t>& bytes) {
    imagefiles::PathList paths;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = start;
        while (end < bytes.size() && bytes[end] != '\n')
            ++end;
        std::size_t last = end;
        if (last > start && bytes[last - 1] == '\r') --last;
        if (last > start)
            paths.emplace_back(bytes.begin() + std::ptrdiff_t(start),
                               bytes.begin() + std::ptrdiff_t(last));
        start = end + 1;
    }
    return paths;
}

/// Adds the paths of every list file to the path arguments; false, with the message printed,
/// when one cannot be read.
bool readListFiles(AppContext& context) {
    for (const std::string& list : context.listFiles) {
        const bool standardInput = list == "-";
        const std::string path =
            standardInput ? list : resolvePathArguments({list}, context.startDirectory).front();
        const auto bytes =
            standardInput ? readStandardInput() : platform::readFile(path, kMaxListFileBytes);
        if (!bytes) {
            platform::consolePrint("");
            platform::consolePrint(
                "Error: the list " +
                (standardInput ? std::string("on standard input") : "\"" + list + "\"") +
                " cannot be read: " + std::strerror(standardInput ? errno : platform::lastError()));
            platform::consolePrint("");
            return false;
        }
        const imagefiles::PathList listed =
            resolvePathArguments(pathsOfList(*bytes), context.startDirectory);
        context.pathArguments.insert(context.pathArguments.end(), listed.begin(), listed.end());
    }
    return true;
}

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
        images.busy.store(0);
        flags.loadingPaths.store(0);
    });
    loader.join();
    context.pathArguments.clear();
}

/// Keeps only the images of this machine's shard.
void keepShard(const AppContext& context, imagefiles::ImageList& images) {
    if (context.shardCount == 0 || images.empty()) return;
    std::vector<std::uint8_t> other(images.size(), 0);
    for (std::size_t i = 0; i < images.size(); ++i)
        other[i] =
            batch::shardOfPath(images[i].sourcePath, context.shardCount) != context.shardIndex;
    images.eraseMarked(other);
}

void printError(const std::string& message) {
    platform::consolePrint("");
    platform::consolePrint("Error: " + message);
    platform::consolePrint("");
}

/// The presets of the run with the -Set: values applied: the working settings alone, or each
/// preset of -Preset=1,3. Nothing when one is missing or a preset that moves or replaces its
/// sources is not the last (the message is printed).
std::optional<std::vector<settings::Preset>> presetsOfRun(AppContext& context) {
    std::vector<settings::Preset> presets;
    if (context.runPresets.empty()) {
        presets.push_back(context.workingSettings);
    } else {
        for (const int index : context.runPresets) {
            const auto& stored = context.presetList.presets;
            if (std::size_t(index) >= stored.size() ||
                !settings::presetInRange(stored[std::size_t(index)])) {
                printError("Preset " + std::to_string(index) + " does not exist or cannot be used");
                return std::nullopt;
            }
            presets.push_back(stored[std::size_t(index)]);
        }
    }
    for (settings::Preset& preset : presets)
        for (const auto& [name, value] : context.settingAssignments)
            (void)settings::setFieldFromText(preset, name, value); // checked when parsed
    for (std::size_t i = 0; i + 1 < presets.size(); ++i) {
        const settings::Preset& p = presets[i];
        if (settings::takesSourcesAway(p)) {
            printError(presetLine(p) + " " + (p.outputDirEnabled ? "moves" : "replaces") +
                       " its images, so it can only be the last preset of the run");
            return std::nullopt;
        }
    }
    return presets;
}

int exitStatusOf(batch::ConsoleRunOutcome outcome, AppContext& context,
                 const pipeline::RunFlags& flags) {
    switch (outcome) {
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

// The worse of two statuses of preset runs: a refusal over failed images over success.
int worse(int a, int b) {
    return std::max(a, b);
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
    const auto presets = presetsOfRun(context);
    if (!presets) return ExitRunRefused;
    if (!readListFiles(context)) return ExitRunRefused;
    loadPathArguments(context, images, flags);
    keepShard(context, images);
    if (!images.empty()) {
        platform::consolePrint("Loaded images: " + std::to_string(images.size()) +
                               (context.shardCount != 0
                                    ? " (shard " + std::to_string(context.shardIndex) + "/" +
                                          std::to_string(context.shardCount) + ")"
                                    : std::string()));
        platform::consolePrint("");
    }

    // The log goes next to the program when that folder is writable, else to the per-user
    // settings folder.
    const std::string logName =
        settings::programInfoText(settings::info::kShortName) + "_Errorlog.txt";
    const std::vector<std::string> logPaths{
        context.programDirectory + logName,
        platform::appDataDirectory() + settings::programInfoText(settings::info::kProgramName) +
            "/" + logName};
    const bool several = presets->size() > 1;

    // Each preset works on its own copy of the loaded list: a run filters, sorts and marks it.
    std::vector<std::unique_ptr<imagefiles::ImageList>> lists;
    std::vector<batch::LoggedRun> failedRuns;
    int status = ExitOk;
    for (const settings::Preset& preset : *presets) {
        imagefiles::ImageList* list = &images;
        if (several) {
            lists.push_back(std::make_unique<imagefiles::ImageList>(images.lastRecordId()));
            for (const imagefiles::ImageRecord& record : images.records())
                lists.back()->append(record);
            list = lists.back().get();
            platform::consolePrint(presetLine(preset));
            platform::consolePrint("");
        }
        batch::ConsoleRunEnvironment env{
            .images = *list,
            .settings = preset,
            .flags = flags,
            .ignoreWarnings = context.ignoreWarnings,
            .standardTitle = standardTitle(),
            .pdfCreator = composeTitle({.version = true}),
            .errorLogPaths = logPaths,
            .progressOnStderr = platform::stderrIsTerminal(),
            .pauseAfterSuccess = platform::stdoutIsTerminal() && !several,
            // Shards may share the output folder with processes of other machines or runtime
            // folders: a temporary file there may be another shard's write in progress.
            .removeLeftovers = !context.dryRun && context.shardCount == 0 && context.instanceLock &&
                               context.instanceLock->held(),
            .dryRun = context.dryRun,
            .tabSeparated = context.tabSeparatedOutput,
            .reportErrors = !several,
        };
        const batch::ConsoleRunOutcome outcome = batch::consoleRun(env);
        const int presetStatus = exitStatusOf(outcome, context, flags);
        if (outcome == batch::ConsoleRunOutcome::Interrupted) return presetStatus;
        status = worse(status, presetStatus);
        if (outcome == batch::ConsoleRunOutcome::ImagesFailed && !context.dryRun)
            failedRuns.push_back({.preset = presetLine(preset), .images = list});
        if (several) {
            platform::consolePrint("");
            platform::consolePrint("----------------");
            platform::consolePrint("");
        }
    }
    if (several && !failedRuns.empty() && !presets->front().exitAfterRun)
        (void)batch::consoleErrorReport(failedRuns, standardTitle(), logPaths);
    return status;
}

} // namespace quill::app
