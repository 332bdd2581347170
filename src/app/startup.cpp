// Program start-up, the standard title, fatal errors and the single shutdown path.
#include "app/startup.h"

#include "app/command_line.h"
#include "app/console_mode.h"
#include "settings/language_pack.h"
#include "settings/preset_range.h"
#include "settings/setting_files.h"
#include "settings/ui_text_ids.h"
#include "toolkit/platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

namespace quill::app {

namespace text = settings::text;

namespace {

std::string programName() {
    return settings::programInfoText(settings::info::kProgramName);
}
std::string shortProgramName() {
    return settings::programInfoText(settings::info::kShortName);
}

std::string portablePrefix(const AppContext& context) {
    return context.programDirectory + shortProgramName() + "_";
}

std::string perUserDirectory() {
    return platform::appDataDirectory() + programName() + "/";
}

std::vector<std::string>& toolkitArgumentStore() {
    static std::vector<std::string> arguments;
    return arguments;
}

/// Qt's options that take a value (QGuiApplication, QApplication and the X11 and Wayland
/// platforms).
constexpr std::string_view kToolkitOptionsWithValue[] = {
    "platform",     "platformpluginpath", "platformtheme", "plugin",        "qwindowgeometry",
    "qwindowtitle", "qwindowicon",        "style",         "stylesheet",    "session",
    "display",      "geometry",           "title",         "name",          "icon",
    "visual",       "fontengine",         "dialogs",       "qmljsdebugger",
};
/// Qt's options without a value.
constexpr std::string_view kToolkitFlags[] = {
    "reverse", "nograb", "dograb", "sync", "testability", "widgetcount",
};

WindowModeEntry& windowModeEntry() {
    static WindowModeEntry entry = nullptr;
    return entry;
}
std::function<void(const std::string&)>& fatalErrorPresenter() {
    static std::function<void(const std::string&)> presenter;
    return presenter;
}

// Message texts use CR LF line breaks; the console gets plain line feeds.
std::string consoleText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c != '\r') out.push_back(c);
    }
    return out;
}

} // namespace

std::string presetsUnreadableText(const std::string& path, int error) {
    return "The preset file \"" + path + "\" exists but can't be read (" + std::strerror(error) +
           "). Nothing is processed with the default presets in its place: make the file "
           "readable, or remove it to start from the default presets.";
}

std::string presetsDamagedText(const std::string& path) {
    return "The preset file \"" + path +
           "\" is damaged or from an unknown version: the default presets are used in its place.";
}

// GCC 12 at -O3 reports -Wrestrict inside libstdc++ for `" " + std::string` here (GCC bug
// 105329, a known false positive): the strings are only concatenated.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
std::string composeTitle(const TitleParts& parts) {
    std::string title = settings::programInfoText(parts.shortName ? settings::info::kShortName
                                                                  : settings::info::kProgramName);
    if (parts.version) title += " " + settings::programInfoText(settings::info::kVersionText);
    if (parts.suffix) title += " - " + settings::programInfoText(settings::info::kSubtitle);
    return title;
}
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic pop
#endif

std::string standardTitle() {
    return composeTitle({});
}

void setWindowModeEntry(WindowModeEntry entry) {
    windowModeEntry() = entry;
}

void setFatalErrorPresenter(std::function<void(const std::string&)> presenter) {
    fatalErrorPresenter() = std::move(presenter);
}

void showFatalError(AppContext& context, const std::string& message) {
    // The console, or a start-up that has no window yet, gets the text on standard error.
    if (fatalErrorPresenter())
        fatalErrorPresenter()(message);
    else
        platform::errorPrint(consoleText(message));
    shutDown(context, ExitFatal);
}

void releaseSession(AppContext& context) {
    if (context.previewDirectoryUsed && !context.previewDirectory.empty()) {
        (void)platform::removeDirectoryTree(context.previewDirectory);
        context.previewDirectoryUsed = false;
    }
}

void shutDown(AppContext& context, int status) {
    releaseSession(context);
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(status);
}

PresetLoad tryLoadStartPreset(AppContext& context, int position, int& loaded) {
    auto& presets = context.presetList.presets;
    if (position >= 0 && static_cast<std::size_t>(position) < presets.size() &&
        settings::presetInRange(presets[static_cast<std::size_t>(position)])) {
        context.workingSettings = presets[static_cast<std::size_t>(position)];
        loaded = position;
        return PresetLoad::Loaded;
    }
    if (presets.empty()) return PresetLoad::NoPresetZero;
    if (!settings::presetInRange(presets.front())) {
        // Position 0 is the fallback of every other position, so it must always be usable.
        // Only that entry is replaced; the user's other presets stay as they are.
        presets.front() =
            settings::defaultPreset(0, settings::uiText(text::kFirstDefaultPresetName));
    }
    context.workingSettings = presets.front();
    loaded = 0;
    return PresetLoad::Loaded;
}

int loadStartPreset(AppContext& context, int position) {
    int loaded = 0;
    if (tryLoadStartPreset(context, position, loaded) == PresetLoad::NoPresetZero) {
        showFatalError(context, kCouldNotInitialize);
    }
    return loaded;
}

void chooseSettingsLocation(AppContext& context) {
    if (!context.portableMode) {
        for (const char* name : {settings::kLanguageFileName, settings::kPresetsFileName}) {
            const std::string path = portablePrefix(context) + name;
            if (settings::fileMayBeCurrentSettings(path)) {
                context.portableMode = true;
                break;
            }
        }
    }
    if (context.portableMode) {
        context.settingsPrefix = portablePrefix(context);
    } else {
        const std::string directory = perUserDirectory();
        (void)platform::createDirectories(directory);
        context.settingsPrefix =
            platform::isDirectory(directory) ? directory : portablePrefix(context);
    }
    context.languageFilePath = context.settingsPrefix + settings::kLanguageFileName;
    context.presetsFilePath = context.settingsPrefix + settings::kPresetsFileName;
}

void removeAllSettingFiles(const AppContext& context) {
    // Only the files the program writes there; a folder the user keeps other things in stays.
    (void)platform::removeFilesAndEmptyFolder(
        perUserDirectory(), {settings::kPresetsFileName, settings::kLanguageFileName,
                             shortProgramName() + "_Errorlog.txt"});
    (void)platform::deleteFile(portablePrefix(context) + settings::kLanguageFileName);
    (void)platform::deleteFile(portablePrefix(context) + settings::kPresetsFileName);
}

SplitArguments splitToolkitArguments(const std::vector<std::string>& arguments) {
    SplitArguments split;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string_view option = argument;
        if (option.size() < 2 || option[0] != '-') {
            split.own.push_back(argument);
            continue;
        }
        option.remove_prefix(option.starts_with("--") ? 2 : 1);
        const std::size_t equals = option.find('=');
        const std::string_view key = option.substr(0, equals);
        const auto among = [key](const auto& names) {
            return std::find(std::begin(names), std::end(names), key) != std::end(names);
        };
        if (equals == std::string_view::npos && among(kToolkitFlags)) {
            split.toolkit.push_back(argument);
        } else if (among(kToolkitOptionsWithValue)) {
            split.toolkit.push_back(argument);
            // "-style fusion": the value is the next argument, whatever it looks like, as Qt
            // takes it; it must not become a path to load.
            if (equals == std::string_view::npos && i + 1 < arguments.size())
                split.toolkit.push_back(arguments[++i]);
        } else {
            split.own.push_back(argument);
        }
    }
    return split;
}

const std::vector<std::string>& toolkitArguments() {
    return toolkitArgumentStore();
}

void runProgram(const std::vector<std::string>& arguments) {
    AppContext context;

    SplitArguments split = splitToolkitArguments(arguments);
    toolkitArgumentStore() = std::move(split.toolkit);
    parseCommandLine(split.own, context);
    // Relative paths name files as seen from where the user started the program; the current
    // directory changes to the program directory below.
    context.startDirectory = platform::currentDirectory();
    const bool relativeUnresolvable =
        context.startDirectory.empty() && hasRelativePathArgument(context.pathArguments);
    if (!relativeUnresolvable)
        context.pathArguments = resolvePathArguments(context.pathArguments, context.startDirectory);

    if (!settings::loadProgramInfo()) showFatalError(context, kCouldNotInitialize);

    std::string lockUnusable;
    context.instanceLock = platform::InstanceLock::acquire(programName(), &lockUnusable);
    if (!context.instanceLock) {
        // Another instance leaves silently; a lock we cannot trust is explained, since no other
        // instance may be running at all.
        if (!lockUnusable.empty())
            platform::errorPrint(lockUnusable + " " + programName() +
                                 " does not start while it cannot tell whether another instance "
                                 "is running.");
        shutDown(context, ExitOtherInstance);
    }

    context.programDirectory = platform::programDirectory();
    context.desktopDirectory = platform::desktopDirectory();
    context.previewDirectory = platform::tempDirectory() + shortProgramName() + "_Preview/";
    chooseSettingsLocation(context);

    (void)platform::setCurrentDirectory(context.programDirectory);

    if (context.uninstallRequested) {
        removeAllSettingFiles(context);
        platform::consolePrint("Removed all setting files of " + programName() + "!");
        shutDown(context, ExitOk);
    }

    context.languageIndex = settings::readLanguage(context.languageFilePath);
    if (!settings::loadUiTexts(context.languageIndex)) {
        showFatalError(context, kCouldNotInitialize);
    }

    const settings::PresetsRead presetsRead =
        settings::readPresets(context.presetsFilePath, context.presetList);
    const int presetsError = platform::lastError();
    context.presetsUnreadable = presetsRead == settings::PresetsRead::Unreadable;
    if (context.consoleMode && !context.helpRequested) {
        // A file that is there but could not be read may hold the user's presets: the defaults
        // would run a different batch than the one asked for. A damaged one gets the defaults,
        // said aloud.
        if (presetsRead == settings::PresetsRead::Unreadable) {
            platform::errorPrint(presetsUnreadableText(context.presetsFilePath, presetsError));
            shutDown(context, ExitRunRefused);
        }
        if (presetsRead == settings::PresetsRead::Damaged)
            platform::errorPrint(presetsDamagedText(context.presetsFilePath));
    }
    const int start = context.startPreset != -1 ? context.startPreset
                                                : static_cast<int>(context.presetList.currentIndex);
    context.currentPreset = loadStartPreset(context, start);

    if (relativeUnresolvable && !context.helpRequested) {
        platform::errorPrint(kCurrentFolderUnreadable);
        shutDown(context, ExitRunRefused);
    }

    if (context.consoleMode || context.helpRequested) runConsoleMode(context);

    if (!windowModeEntry()) {
        platform::errorPrint("Window mode is not available in this build; start with -Console "
                             "(see -Help).");
        shutDown(context, ExitOk);
    }
    shutDown(context, windowModeEntry()(context));
}

} // namespace quill::app
