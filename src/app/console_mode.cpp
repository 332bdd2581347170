// Console mode: the banner, the help text, the preset line and the footer.
#include "app/console_mode.h"

#include "app/console_run.h"
#include "app/startup.h"
#include "imagefiles/format.h"
#include "settings/field_assignment.h"
#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"
#include "toolkit/platform/platform.h"
#include "toolkit/utf8.h"

namespace quill::app {

namespace {

void printLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        platform::consolePrint(line);
}

// One line per format of the format table: its extensions, and the `outputFormat` value that
// writes it.
std::vector<std::string> formatLines() {
    std::vector<std::string> lines{"", " Image formats"};
    for (const imagefiles::FormatInfo& format : imagefiles::formatTable()) {
        if (format.decode == nullptr) continue;
        std::string line = std::string(format.name) + " (";
        for (std::size_t i = 0; i < format.extensions.size(); ++i)
            line += (i > 0 ? ", " : "") + std::string(format.extensions[i]);
        line += "): read";
        if (format.writable && format.outputFormat >= 0)
            line += " and written (output format " + std::to_string(format.outputFormat) + ")";
        lines.push_back(line + ".");
    }
    lines.push_back("PDF (pdf): written, one page holding a JPEG (output format 4).");
    return lines;
}

} // namespace

std::vector<std::string> bannerLines() {
    const std::string title = standardTitle();
    // The program always writes into the console it was started from, so the banner starts
    // below the shell's prompt line.
    return {"",
            "",
            title,
            std::string(toolkit::utf8CharacterCount(title), '*'),
            settings::programInfoText(settings::info::kDescription),
            settings::programInfoText(settings::info::kCopyright),
            "",
            "",
            "",
            "----------------",
            ""};
}

const std::vector<std::string>& helpLines() {
    static const std::vector<std::string> lines = {
        "Description of supported commands:",
        "",
        " Any file path",
        "One or more paths of images and/or directories that should be loaded. Each must be "
        "embraced by double quotes.",
        "",
        " -Console",
        "Enables this command-line mode for processing instead of the default user interface. "
        "Can be useful in combination with \"Any file path\" and \"-Preset=[0-9]\" for quick "
        "and easy batch processings.",
        "",
        " -Preset=[0-9]",
        "Set the specified preset at program start-up. If this isn't set the default will be "
        "used. See main window for more information.",
        "",
        " -IgnoreWarning",
        "Ignore warning messages (like \"Really replace images?\") that could interrupt "
        "starting the process.",
        "",
        " -Portable",
        "Save all settings in the current program directory instead of the recommended "
        "\"APPDATA\" directory. You don't have to use this command multiple times because "
        "existent setting files will be detected automatically.",
        "",
        " -Uninstall",
        "\"Uninstall\" the program by deleting all possible remaining setting files.",
    };
    static const std::vector<std::string> scriptLines = {
        "",
        " -Set:NAME=VALUE",
        "Change one setting of the preset for this run only, by its name (-Help=settings lists "
        "every name with its range and default). Can be given more than once; the stored "
        "presets stay as they are.",
        "",
        " -List=FILE",
        "Load the paths listed in FILE, one per line, besides the paths on the command line. "
        "\"-List=-\" reads them from standard input.",
        "",
        " -DryRun",
        "Show for every image the output it would get, or why it would be left out or fail, "
        "without writing, moving or deleting anything.",
        "",
        " -Output=tsv",
        "With -DryRun: tab-separated lines (source, output, result code, reason) on standard "
        "output, for other programs.",
        "",
        " -Preset=[0-9],[0-9]...",
        "Run several presets in turn over the same images. A preset that moves or replaces its "
        "images can only be the last.",
        "",
        " -Shard=K/N",
        "Process only the images whose path falls into share K of N (0 <= K < N), so that N "
        "processes given the same list share the work between them.",
    };
    static const std::vector<std::string> withFormats = [] {
        std::vector<std::string> all = lines;
        all.insert(all.end(), scriptLines.begin(), scriptLines.end());
        const std::vector<std::string> formats = formatLines();
        all.insert(all.end(), formats.begin(), formats.end());
        return all;
    }();
    return withFormats;
}

std::vector<std::string> settingsHelpLines() {
    std::vector<std::string> lines{
        "Settings that -Set:NAME=VALUE changes for one run (name, range, default):", ""};
    for (std::string line : settings::settableFieldLines()) {
        // Defaults with line breaks are shown escaped, one field per line.
        std::string shown;
        for (const char c : line)
            shown += c == '\n' ? std::string("\\n") : std::string(1, c);
        lines.push_back(std::move(shown));
    }
    return lines;
}

std::string presetLine(const settings::Preset& preset) {
    return "Preset: " + std::to_string(preset.index) + " -> \"" + preset.name + "\"";
}

void runConsoleMode(AppContext& context) {
    // Standard output carries only the dry run's tab-separated lines.
    if (context.dryRun && context.tabSeparatedOutput) platform::reserveStandardOutputForData();
    printLines(bannerLines());
    if (context.helpRequested) {
        printLines(context.helpTopic == "settings" ? settingsHelpLines() : helpLines());
        printFooterAndExit(context, ExitOk);
    }
    if (!context.commandLineErrors.empty()) {
        for (const std::string& error : context.commandLineErrors) {
            platform::consolePrint("");
            platform::consolePrint("Error: " + error);
        }
        printFooterAndExit(context, ExitRunRefused);
    }
    if (context.runPresets.empty()) {
        for (const auto& [name, value] : context.settingAssignments)
            (void)settings::setFieldFromText(context.workingSettings, name, value);
        platform::consolePrint(presetLine(context.workingSettings));
        platform::consolePrint("");
    }
    const int status = runConsoleBatch(context);
    printFooterAndExit(context, status);
}

void printFooterAndExit(AppContext& context, int status) {
    platform::consolePrint("");
    platform::consolePrint("----------------");
    platform::consolePrint("");
    shutDown(context, status);
}

} // namespace quill::app
