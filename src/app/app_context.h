// The start-up state, the preset list and the working settings that main owns and passes down.
#pragma once

#include "imagefiles/image_list.h"
#include "settings/preset.h"
#include "toolkit/platform/platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quill::app {

/// Exit statuses of the program.
enum ExitStatus : int {
    ExitOk = 0,            ///< finished, no image failed; also help, uninstall, window closed
    ExitImagesFailed = 1,  ///< a console run finished and at least one image failed
    ExitRunRefused = 2,    ///< a console run was refused by the pre-run checks
    ExitFatal = 3,         ///< a fatal error
    ExitOtherInstance = 4, ///< another instance is running
    ExitSignalBase = 128,  ///< + the signal number: a stop signal ended a console run early
};

/// Everything start-up decides, plus the presets and the working settings of the session.
struct AppContext {
    bool consoleMode = false;        ///< -Console was given
    bool helpRequested = false;      ///< -Help or -? was given
    int startPreset = -1;            ///< position from -Preset=; -1 = none given
    bool ignoreWarnings = false;     ///< -IgnoreWarning was given
    bool portableMode = false;       ///< setting files live next to the program
    bool uninstallRequested = false; ///< -Uninstall was given
    std::string helpTopic;           ///< -Help=TOPIC: "settings" lists the settable fields

    // Switches of console runs for scripts.
    /// -Set:NAME=VALUE in command-line order: preset fields changed for this run only.
    std::vector<std::pair<std::string, std::string>> settingAssignments;
    std::vector<std::string> listFiles; ///< -List=FILE ("-" is standard input), in order
    bool dryRun = false;                ///< -DryRun: show what the run would do, write nothing
    bool tabSeparatedOutput = false;    ///< -Output=tsv: the dry run's lines for a program
    /// -Preset=1,3: the presets run in turn over the same list (empty: only startPreset).
    std::vector<int> runPresets;
    /// -Shard=K/N: only the images whose path hashes to K of N (N = 0: no shard).
    std::uint32_t shardIndex = 0;
    std::uint32_t shardCount = 0;
    /// Switches whose value cannot be used, each with its message; a console run refuses to
    /// start with them.
    std::vector<std::string> commandLineErrors;
    /// The path arguments in command-line order; relative paths are made absolute against
    /// startDirectory. Emptied once the paths have been loaded.
    imagefiles::PathList pathArguments;
    std::string startDirectory;        ///< current directory when the program started, trailing "/"
    std::string programDirectory;      ///< directory of the executable, trailing "/"
    std::string desktopDirectory;      ///< the user's desktop folder, trailing "/"
    std::string previewDirectory;      ///< temp directory + short name + "_Preview/"
    std::string settingsPrefix;        ///< the setting file names are appended to this
    std::string languageFilePath;      ///< settingsPrefix + "Language"
    std::string presetsFilePath;       ///< settingsPrefix + "Presets"
    int languageIndex = 2;             ///< user-interface language 0..10
    bool previewDirectoryUsed = false; ///< shutDown empties previewDirectory when set

    settings::PresetList presetList; ///< the stored presets (currentIndex as read from the file)
    /// The preset file is there but could not be read at start-up: presetList holds the defaults
    /// in its place, and the file is not written over for the rest of the session.
    bool presetsUnreadable = false;
    settings::Preset workingSettings; ///< the one record that the pages edit and runs read
    /// List position of the preset the working settings belong to, which a save writes into:
    /// the one loaded last, moved along when the presets window reorders the list; -1 after the
    /// presets window deleted it or reset the presets.
    int currentPreset = 0;

    /// Held for the whole life of the process so that a second start is refused.
    std::optional<platform::InstanceLock> instanceLock;
};

} // namespace quill::app
