// Program start-up, the standard title, fatal errors and the single shutdown path.
#pragma once

#include "app/app_context.h"

#include <functional>
#include <string>
#include <vector>

namespace quill::app {

/// Shown on standard error when relative path arguments meet a current folder that cannot be
/// read: resolving them against anything else would process files the user did not name.
inline constexpr const char* kCurrentFolderUnreadable =
    "Relative paths can't be used: the current folder can't be read (was it deleted?). Give "
    "absolute paths or start from an existing folder.";

/// The console's refusal when the preset file is there but could not be read (`error` the
/// errno): a run with the defaults in its place would not be the run the user asked for.
[[nodiscard]] std::string presetsUnreadableText(const std::string& path, int error);
/// The console's note when the preset file is damaged or foreign and the defaults stand in.
[[nodiscard]] std::string presetsDamagedText(const std::string& path);

/// The fixed text of every fatal start-up failure.
inline constexpr const char* kCouldNotInitialize =
    "Fatal error!\r\n\r\nCouldn't initialize program.";

/// Runs the start-up sequence for the arguments after the program name and then the chosen mode.
/// Never returns: every path ends in shutDown().
[[noreturn]] void runProgram(const std::vector<std::string>& arguments);

/// The parts of a title besides the program name.
struct TitleParts {
    bool shortName = false; ///< the short program name instead of the name
    bool version = false;   ///< " " + the version after the name
    bool suffix = true;     ///< " - " + the title suffix at the end
};
/// The program name (or short name), followed by the parts that `parts` asks for. The creator
/// text of PDF output is composeTitle({.version = true}).
[[nodiscard]] std::string composeTitle(const TitleParts& parts);
/// composeTitle({}): the title of the main window, the console banner, fatal errors and the
/// error log.
[[nodiscard]] std::string standardTitle();

/// The command line split into the program's own arguments and the options of the window
/// toolkit (Qt: -style, -stylesheet, -platform, -platformtheme, -reverse, ...), which the window
/// mode hands to the application object. Qt's options are matched as Qt matches them: exactly,
/// with one or two leading dashes; an option that takes a value takes the next argument (or the
/// text after "="). The rest keeps its order.
struct SplitArguments {
    std::vector<std::string> own;
    std::vector<std::string> toolkit;
};
[[nodiscard]] SplitArguments splitToolkitArguments(const std::vector<std::string>& arguments);
/// The toolkit options of the command line that runProgram() was given.
[[nodiscard]] const std::vector<std::string>& toolkitArguments();

/// The window mode, when the program has one: opens the main window and returns the exit status
/// once it closes. Without it, starting without -Console says that the window is not built.
using WindowModeEntry = int (*)(AppContext& context);
void setWindowModeEntry(WindowModeEntry entry);
/// Shows the text of a fatal error to the user (a message box in window mode); standard error
/// when none is set.
void setFatalErrorPresenter(std::function<void(const std::string&)> presenter);

/// Reports a fatal error and ends the program with status 3.
[[noreturn]] void showFatalError(AppContext& context, const std::string& message);

/// Releases what the session holds: empties and removes the preview directory when it was used.
void releaseSession(AppContext& context);
/// The only way the program ends: releaseSession(), flush the output, exit with `status`.
[[noreturn]] void shutDown(AppContext& context, int status);

/// Result of loading a start preset.
enum class PresetLoad {
    Loaded,      ///< the requested position (or its fallback) is in the working settings
    NoPresetZero ///< position 0 is missing: the program cannot start
};

/// Copies the preset at list position `position` into the working settings when it exists and
/// passes the range check; otherwise falls back to position 0. When position 0 itself fails
/// the range check, it is replaced by default preset 0. `loaded` receives the position actually
/// loaded.
[[nodiscard]] PresetLoad tryLoadStartPreset(AppContext& context, int position, int& loaded);
/// tryLoadStartPreset(), with the fatal error when position 0 is missing. Returns the position.
int loadStartPreset(AppContext& context, int position);

/// Decides where the setting files live and fills settingsPrefix, languageFilePath and
/// presetsFilePath (portable detection, the per-user folder and its fallback). Needs
/// programDirectory and the program-information table. A setting file next to the program that
/// fails to read also chooses portable mode, so that it is reported rather than passed over for
/// the per-user files.
void chooseSettingsLocation(AppContext& context);

/// Deletes the setting files (and the error log) in the per-user settings folder, that folder
/// when nothing else is left in it, and the portable setting files next to the program. Links
/// are never followed.
void removeAllSettingFiles(const AppContext& context);

} // namespace quill::app
