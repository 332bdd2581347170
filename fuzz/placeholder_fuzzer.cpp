// Fuzzes the placeholder engine and settings validation with arbitrary patterns and file names.
// Input: a flag byte, then rename pattern, output directory pattern, overlay text and file name
// separated by line feeds.
#include "settings/placeholders.h"
#include "settings/preset.h"
#include "settings/problem_list.h"
#include "settings/run_settings.h"
#include "settings/settings_validation.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// The next line of `text` (without its line feed); `text` keeps the rest.
std::string nextLine(std::string_view& text) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string line(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    return line;
}

std::size_t levelCount(std::string_view path) {
    std::size_t count = 1;
    for (char c : path)
        count += c == '/' ? 1 : 0;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quill::settings;
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string parts[] = {nextLine(input), nextLine(input), nextLine(input),
                                 std::string(input)};

    Preset s = defaultPreset(0, "fuzz");
    s.renameEnabled = flags & 1;
    s.renamePattern = parts[0];
    s.outputDirEnabled = (flags >> 1) & 1;
    s.outputDirPattern = parts[1];
    s.overlayEnabled = (flags >> 2) & 1;
    s.overlayText = parts[2];
    s.mirrorSubfolders = (flags >> 3) & 1;
    s.noZeroPadding = (flags >> 4) & 1;

    RunContext context;
    context.imageCount = 2;
    context.folders = ShellFolders{"/home/u/Desktop/", "/home/u/Documents/", "/opt/q/"};
    const RunSettings run = deriveRunSettings(s, context);
    const ValidationResult result =
        settingsValidation(ValidationScope::Whole, s, run, ListedVideos{((flags >> 5) & 1) != 0});
    (void)problemList(result, s, run, [](int index) { return std::to_string(index); });

    PlaceholderValues values = samplePlaceholderValues();
    values.fileName = parts[3];
    values.date = static_cast<std::int64_t>(flags) * 977777777LL - 40000000000LL;
    values.brightness = flags / 200.0;
    (void)expandImageTokens(run.overlayTextRun, values, s.noZeroPadding);

    // Token values never add a level to a name or a directory.
    const NumberingToken numbering = locateNumberingToken(run.renamePatternRun);
    const std::string name = expandNamePattern(numbering.pattern, values, s.noZeroPadding);
    if (numbering.pattern.find('/') == std::string::npos && name.find('/') != std::string::npos) {
        __builtin_trap();
    }
    const std::string directory = expandDirectoryPattern(run.outputDirRun, values, s.noZeroPadding);
    if (levelCount(directory) != levelCount(run.outputDirRun)) __builtin_trap();
    return 0;
}
