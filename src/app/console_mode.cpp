// Console mode: the banner, the help text, the preset line and the footer.
#include "app/console_mode.h"

#include "app/console_run.h"
#include "app/startup.h"
#include "imagefiles/format.h"
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
    static const std::vector<std::string> withFormats = [] {
        std::vector<std::string> all = lines;
        const std::vector<std::string> formats = formatLines();
        all.insert(all.end(), formats.begin(), formats.end());
        return all;
    }();
    return withFormats;
}

std::string presetLine(const settings::Preset& preset) {
    return "Preset: " + std::to_string(preset.index) + " -> \"" + preset.name + "\"";
}

void runConsoleMode(AppContext& context) {
    printLines(bannerLines());
    if (context.helpRequested) {
        printLines(helpLines());
        printFooterAndExit(context, ExitOk);
    }
    platform::consolePrint(presetLine(context.workingSettings));
    platform::consolePrint("");
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
