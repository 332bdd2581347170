// Console mode: the banner, the help text, the preset line and the footer.
#pragma once

#include "app/app_context.h"

#include <string>
#include <vector>

namespace quill::app {

/// The banner lines: two empty lines, the standard title, a row of "*" as long as the title,
/// program-information entries 13 and 14, three empty lines, "----------------", an empty line.
[[nodiscard]] std::vector<std::string> bannerLines();
/// The help text: the 19 lines of the first switches, the switches for scripts, the formats.
[[nodiscard]] const std::vector<std::string>& helpLines();
/// -Help=settings: every field -Set: can change, with its range and default.
[[nodiscard]] std::vector<std::string> settingsHelpLines();
/// "Preset: " + index + " -> " + the name in double quotes.
[[nodiscard]] std::string presetLine(const settings::Preset& preset);

/// Prints the banner, then the help text or runs the console batch, then the footer. Never
/// returns: the program ends through printFooterAndExit().
[[noreturn]] void runConsoleMode(AppContext& context);
/// Prints "", "----------------", "" and ends the program with `status`.
[[noreturn]] void printFooterAndExit(AppContext& context, int status);

} // namespace quill::app
