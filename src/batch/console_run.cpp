// The console form of a batch run.
#include "batch/console_run.h"

#include "batch/error_log.h"
#include "batch/run_driver.h"
#include "pipeline/image_result.h"
#include "settings/output_naming.h"
#include "settings/settings_validation.h"
#include "toolkit/platform/platform.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

namespace quill::batch {
namespace {

using namespace std::chrono_literals;

/// The console answers the disk-full question by going on with the next image: the failed image
/// is reported, and later images may be smaller or go elsewhere.
class ContinueOnDiskFull final : public pipeline::DiskFullQuestion {
public:
    bool askStopAfterDiskFull(const std::string&) override { return false; }
};

/// The console face of a run: printed checks, and fixed answers instead of questions (an
/// existing output is never replaced).
class ConsoleFace final : public RunFace {
public:
    explicit ConsoleFace(ConsoleRunEnvironment& env) : m_env(env) {}
    bool passChecks(const imagefiles::ImageList&, const settings::Preset&,
                    settings::RunSettings& run) override {
        // The checks look at the user's own settings: the run's copy differs only in ending
        // the program after the run.
        return preRunChecksConsole(m_env, run);
    }
    settings::CollisionPolicy& collisions() override { return m_skipAll; }
    pipeline::DiskFullQuestion& diskFull() override { return m_continueOnDiskFull; }

private:
    ConsoleRunEnvironment& m_env;
    settings::FixedCollisionPolicy m_skipAll{settings::CollisionAnswer::SkipAll};
    ContinueOnDiskFull m_continueOnDiskFull;
};

/// The kinds of line a pre-run check prints.
enum class CheckLine {
    Error,          ///< the run is refused
    Warning,        ///< the run is refused unless warnings are ignored
    IgnoredWarning, ///< the warning was ignored and the run goes on
};

void printCheck(CheckLine kind, const std::string& message) {
    std::string line = kind == CheckLine::Error ? "Error" : "Warning";
    line += ": " + message;
    if (kind == CheckLine::IgnoredWarning)
        line += " - Ignored";
    else
        platform::consolePrint("");
    platform::consolePrint(line);
    platform::consolePrint("");
}

/// Shows images done / total and the current file on standard error while the run is active.
class ProgressLine {
public:
    ProgressLine(pipeline::RunFlags& flags, std::size_t total, bool enabled)
        : m_flags(flags), m_total(total) {
        if (!enabled || total == 0) return;
        m_thread = std::thread([this] { loop(); });
    }
    ~ProgressLine() {
        m_stop.store(true);
        if (m_thread.joinable()) {
            m_thread.join();
            platform::errorPrintControl("\r\x1b[K");
        }
    }

private:
    void loop() {
        while (!m_stop.load()) {
            std::string name, folder;
            m_flags.readCurrent(name, folder);
            const std::int32_t unitsPerImage = m_flags.phase() == pipeline::RunPhase::Preparing
                                                   ? 1
                                                   : pipeline::kProcessingUnitsPerImage;
            const std::int32_t done = m_flags.progressCounter.load() / unitsPerImage;
            // The name is printed through errorPrintStatus, which shows control characters as "?".
            platform::errorPrintControl("\r\x1b[K");
            platform::errorPrintStatus(std::to_string(done) + " / " + std::to_string(m_total) +
                                       "  " + name);
            // Five updates a second are enough for a person to follow and cost the run nothing.
            std::this_thread::sleep_for(200ms);
        }
    }
    pipeline::RunFlags& m_flags;
    std::size_t m_total;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

/// Prints the line of a run that a stop signal ended; the images without a result were not
/// processed.
ConsoleRunOutcome reportInterrupted(const ConsoleRunEnvironment& env) {
    std::size_t processed = 0;
    for (const auto& record : env.images.records())
        if (record.resultState != imagefiles::ImageResult::Pending) ++processed;
    platform::consolePrint("");
    platform::consolePrint(
        interruptedLine(env.flags.stopSignal.load(), processed, env.images.size() - processed));
    return ConsoleRunOutcome::Interrupted;
}

/// Prints the dry run's line of one image, for a person or as tab-separated values.
void printDryRunLine(const pipeline::DryRunLine& line, bool tabSeparated) {
    if (tabSeparated) {
        platform::dataPrint(tabSeparatedField(line.source) + "\t" + tabSeparatedField(line.output) +
                            "\t" + line.code + "\t" + line.reason);
        return;
    }
    if (line.code == "ok")
        platform::consolePrint(line.source + " -> " + line.output);
    else if (line.output.empty())
        platform::consolePrint(line.source + " -> not written: " + line.reason);
    else
        platform::consolePrint(line.source + " -> not written: " + line.reason + ": " +
                               line.output);
}

ConsoleRunOutcome dryRun(ConsoleRunEnvironment& env, RunDriver& driver) {
    platform::consolePrint("");
    platform::consolePrint("Dry run: nothing is written, moved or deleted.");
    platform::consolePrint("");
    std::size_t written = 0, notWritten = 0;
    const RunOutcome outcome = driver.dryRun([&](const pipeline::DryRunLine& line) {
        ++(line.code == "ok" ? written : notWritten);
        printDryRunLine(line, env.tabSeparated);
    });
    if (outcome.end == RunEnd::PreparationNotStarted) return ConsoleRunOutcome::PrepareFailed;
    if (env.flags.stopSignal.load()) return reportInterrupted(env);
    platform::consolePrint("");
    platform::consolePrint("Result: " + std::to_string(written) +
                           (written == 1 ? " image" : " images") + " would be written, " +
                           std::to_string(notWritten) + " not");
    return outcome.allOk ? ConsoleRunOutcome::AllDone : ConsoleRunOutcome::ImagesFailed;
}

} // namespace

std::string tabSeparatedField(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : logSafeText(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out.push_back(c);
            continue;
        }
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
    }
    return out;
}

std::uint32_t shardOfPath(std::string_view path, std::uint32_t count) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : path) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return count == 0 ? 0 : std::uint32_t(hash % count);
}

std::string interruptedLine(int signal, std::size_t processed, std::size_t notProcessed) {
    return "Interrupted by signal " + std::to_string(signal) + " (" +
           platform::StopSignals::signalName(signal) + "): " + std::to_string(processed) +
           (processed == 1 ? " image" : " images") + " processed, " + std::to_string(notProcessed) +
           " not processed; temporary files removed.";
}

bool preRunChecksConsole(ConsoleRunEnvironment& env, settings::RunSettings& run) {
    if (env.images.empty()) {
        printCheck(CheckLine::Error, "No files");
        return false;
    }
    const auto& s = env.settings;
    const std::int64_t now = platform::localFromUtc(std::int64_t(std::time(nullptr)));
    run = settings::deriveRunSettings(s, settings::runContextFromPlatform(env.images.size(), now));

    std::string ignoredWarning;
    using settings::ValidationResult;
    switch (settings::settingsValidation(settings::ValidationScope::Whole, s, run,
                                         settings::listedVideos(env.images))) {
    case ValidationResult::Valid:
        break;
    case ValidationResult::OutOfRange:
        printCheck(CheckLine::Error, "Invalid settings");
        return false;
    case ValidationResult::Contradictory:
        printCheck(CheckLine::Error, "Wrong settings");
        return false;
    case ValidationResult::NothingToDo:
        printCheck(CheckLine::Error, "No task");
        return false;
    case ValidationResult::VideosNeedDetails:
        if (!env.ignoreWarnings) {
            printCheck(CheckLine::Warning, "Settings interfere the loaded videos");
            return false;
        }
        ignoredWarning = "Settings interfere the loaded videos";
        break;
    case ValidationResult::BadFilterValue:
        printCheck(CheckLine::Error, "Wrong filter conditions");
        return false;
    }
    auto warn = [&](const char* message) {
        if (!env.ignoreWarnings) {
            printCheck(CheckLine::Warning, message);
            return false;
        }
        ignoredWarning = message;
        return true;
    };
    if (!s.outputDirEnabled && !warn("Replacing is disabled")) return false;
    if (s.outputDirEnabled && s.moveOriginal && !warn("Moving is disabled")) return false;
    if (!ignoredWarning.empty()) printCheck(CheckLine::IgnoredWarning, ignoredWarning);
    return true;
}

ConsoleRunOutcome consoleRun(ConsoleRunEnvironment& env) {
    // A signal while the paths were loaded: nothing was started, nothing is checked.
    if (env.flags.stopSignal.load()) return reportInterrupted(env);

    // No keep list is built in the console: the run behaves as if the program quits after it.
    // The result lines below still follow the user's own choice.
    settings::Preset runSettings = env.settings;
    runSettings.exitAfterRun = 1;
    RunSetup setup{.images = env.images,
                   .settings = runSettings,
                   .flags = env.flags,
                   .pdfCreator = env.pdfCreator};
    if (env.removeLeftovers)
        setup.leftoversRemoved = [](const std::string& folder, std::size_t removed) {
            platform::consolePrint("Removed " + std::to_string(removed) + " leftover temporary " +
                                   (removed == 1 ? "file" : "files") +
                                   " of an interrupted run from " + folder);
        };
    ConsoleFace face(env);
    RunDriver driver(std::move(setup), face);
    if (!driver.begin()) return ConsoleRunOutcome::Refused;
    if (env.dryRun) return dryRun(env, driver);

    platform::consolePrint("");
    platform::consolePrint("Processing, please wait...");
    RunOutcome outcome;
    {
        ProgressLine progress(env.flags, env.images.size(), env.progressOnStderr);
        outcome = driver.work();
    }
    switch (outcome.end) {
    case RunEnd::Finished:
        break;
    case RunEnd::PreparationNotStarted:
        return ConsoleRunOutcome::PrepareFailed;
    case RunEnd::ProcessingNotStarted:
        return ConsoleRunOutcome::ProcessFailed;
    }
    // Every write of the run is finished or rolled back by now, and the rolled-back ones removed
    // their temporary files. The error report is left out: the caller asked for an end.
    if (env.flags.stopSignal.load()) return reportInterrupted(env);

    platform::consolePrint("");
    platform::consolePrint("");
    if (!env.settings.exitAfterRun) {
        if (outcome.allOk) {
            platform::consolePrint("Result: Processed successfully");
            // A person at a terminal gets a moment to read the line before the prompt returns.
            if (env.pauseAfterSuccess) std::this_thread::sleep_for(1500ms);
        }
    } else {
        platform::consolePrint("Result: Finished");
    }

    if (env.reportErrors && !env.flags.quitRequested.load() && !env.settings.exitAfterRun &&
        !outcome.allOk)
        (void)consoleErrorReport(env.images, env.standardTitle, env.errorLogPaths);
    return outcome.allOk ? ConsoleRunOutcome::AllDone : ConsoleRunOutcome::ImagesFailed;
}

} // namespace quill::batch
