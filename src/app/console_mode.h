// Console mode: the banner, the help text, the preset line and the footer.
#pragma once

#include "app/app_context.h"

#include <string>
#include <vector>

namespace quill::app {

/// The banner lines: two empty lines, the standard title, a row of "*" as long as the title,
/// program-information entries 13 and 14, three empty lines, "----------------", an empty line.
[[nodiscard]] std::vector<std::string> bannerLines();
/// The 19 lines of the help text.
[[nodiscard]] const std::vector<std::string>& helpLines();
/// "Preset: " + index + " -> " + the name in double quotes.
[[nodiscard]] std::string presetLine(const settings::Preset& preset);

/// Prints the banner, then the help text or runs the console batch, then the footer. Never
/// returns: the program ends through printFooterAndExit().
[[noreturn]] void runConsoleMode(AppContext& context);
/// Prints "", "----------------", "" and ends the program with `status`.
[[noreturn]] void printFooterAndExit(AppContext& context, int status);

} // namespace quill::app
