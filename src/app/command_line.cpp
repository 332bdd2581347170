// Command-line parsing: the switches and the path arguments.
#include "app/command_line.h"

#include "settings/field_assignment.h"
#include "toolkit/ascii.h"
#include "toolkit/platform/platform.h"
#include "toolkit/utf8.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace quill::app {

namespace {

// An absolute path without "." and ".." levels, so that every folder below it is named one way
// only (the common base folder of a run and the mirrored sub-folders depend on that).
std::string withoutDotLevels(const std::string& path) {
    std::vector<std::string> levels;
    std::size_t lastClimb = 0; // levels up to and including the last ".."
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        const std::string level = path.substr(pos, end - pos);
        if (!level.empty() && level != ".") {
            levels.push_back(level);
            if (level == "..") lastClimb = levels.size();
        }
        pos = end + 1;
    }
    const auto join = [&](std::size_t from, std::size_t to) {
        std::string joined;
        for (std::size_t i = from; i < to; ++i)
            joined += "/" + levels[i];
        return joined;
    };
    std::string head = join(0, lastClimb);
    if (lastClimb != 0) {
        if (const auto resolved = platform::resolvedPath(head)) {
            head = *resolved == "/" ? std::string() : *resolved;
        } else {
            // A level that does not exist: no file can be found below it either, so climbing by
            // the names is as good as any.
            std::vector<std::string> kept;
            for (std::size_t i = 0; i < lastClimb; ++i) {
                if (levels[i] != "..")
                    kept.push_back(levels[i]);
                else if (!kept.empty())
                    kept.pop_back();
            }
            head.clear();
            for (const std::string& level : kept)
                head += "/" + level;
        }
    }
    std::string out = head + join(lastClimb, levels.size());
    if (out.empty() || (path.back() == '/')) out += '/';
    return out;
}

// "-Preset=1,3": single digits separated by commas, each preset once.
std::optional<std::vector<int>> presetList(std::string_view text) {
    std::vector<int> presets;
    for (std::size_t pos = 0; pos <= text.size(); pos += 2) {
        if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return std::nullopt;
        const int preset = text[pos] - '0';
        if (std::find(presets.begin(), presets.end(), preset) != presets.end()) return std::nullopt;
        presets.push_back(preset);
        if (pos + 1 == text.size()) return presets;
        if (text[pos + 1] != ',') return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> smallNumber(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The switches of console runs for scripts; true when `argument` was one of them.
bool parseScriptSwitch(const std::string& argument, const std::string& lower, AppContext& context) {
    auto refuse = [&](const std::string& why) {
        context.commandLineErrors.push_back(argument + ": " + why);
        return true;
    };
    if (lower.starts_with("-set:")) {
        const std::string assignment = argument.substr(5);
        const std::size_t equals = assignment.find('=');
        if (equals == std::string::npos || equals == 0)
            return refuse("give a setting as -Set:NAME=VALUE");
        const std::string name = assignment.substr(0, equals);
        const std::string value = assignment.substr(equals + 1);
        // Checked against the table here, so that a wrong name stops the run before anything
        // is loaded.
        settings::Preset scratch;
        if (const auto error = settings::setFieldFromText(scratch, name, value))
            return refuse(*error);
        context.settingAssignments.emplace_back(name, value);
        return true;
    }
    if (lower.starts_with("-list=")) {
        if (argument.size() == 6) return refuse("give the list file, or - for standard input");
        context.listFiles.push_back(argument.substr(6));
        return true;
    }
    if (lower == "-dryrun") {
        context.dryRun = true;
        return true;
    }
    if (lower.starts_with("-output=")) {
        if (lower == "-output=tsv")
            context.tabSeparatedOutput = true;
        else if (lower == "-output=text")
            context.tabSeparatedOutput = false;
        else
            return refuse("the output is text or tsv");
        return true;
    }
    if (lower.starts_with("-shard=")) {
        const std::string value = argument.substr(7);
        const std::size_t slash = value.find('/');
        const auto index = smallNumber(std::string_view(value).substr(0, slash));
        const auto count = slash == std::string::npos
                               ? std::nullopt
                               : smallNumber(std::string_view(value).substr(slash + 1));
        if (!index || !count || *count == 0 || *index >= *count)
            return refuse("give the shard as K/N with 0 <= K < N, e.g. -Shard=0/4");
        context.shardIndex = *index;
        context.shardCount = *count;
        return true;
    }
    if (lower.starts_with("-preset=") && argument.size() > 9 &&
        argument.find(',') != std::string::npos) {
        const auto presets = presetList(std::string_view(argument).substr(8));
        if (!presets) return refuse("give the presets as digits 0 to 9 separated by commas");
        context.runPresets = *presets;
        context.startPreset = presets->front();
        return true;
    }
    if (lower.starts_with("-help=")) {
        context.helpRequested = true;
        context.portableMode = true;
        context.helpTopic = lower.substr(6);
        return true;
    }
    return false;
}

} // namespace

void parseCommandLine(const std::vector<std::string>& arguments, AppContext& context) {
    for (const std::string& argument : arguments) {
        const std::string lower = toolkit::lowerAscii(argument);
        if (lower == "-console") {
            context.consoleMode = true;
        } else if (lower == "-help" || lower == "-?") {
            context.helpRequested = true;
            context.portableMode = true;
        } else if (lower == "-ignorewarning") {
            context.ignoreWarnings = true;
        } else if (lower == "-portable") {
            context.portableMode = true;
        } else if (lower == "-uninstall") {
            context.uninstallRequested = true;
        } else if (argument.empty()) {
            continue;
        } else if (argument.front() == '-' && parseScriptSwitch(argument, lower, context)) {
            continue;
        } else if (argument.front() != '-') {
            context.pathArguments.push_back(argument);
        } else if (lower.compare(0, 8, "-preset=") == 0 &&
                   toolkit::utf8CharacterCount(argument) == 9) {
            // The ninth character is one byte here: the first eight are ASCII and a single
            // multi-byte character would still count as one, so look at the last byte only
            // when it is the whole character.
            const char last = argument.back();
            const bool singleByte = argument.size() == 9;
            context.startPreset = singleByte && last >= '0' && last <= '9' ? last - '0' : 0;
        }
        // Any other argument that starts with "-" is ignored without a message.
    }
}

bool hasRelativePathArgument(const imagefiles::PathList& paths) {
    return std::any_of(paths.begin(), paths.end(), [](const std::string& path) {
        return !path.empty() && path.front() != '/';
    });
}

imagefiles::PathList resolvePathArguments(const imagefiles::PathList& paths,
                                          const std::string& baseDirectory) {
    imagefiles::PathList out;
    out.reserve(paths.size());
    for (const std::string& path : paths) {
        if (path.empty())
            out.emplace_back();
        else
            out.push_back(withoutDotLevels(path.front() == '/' ? path : baseDirectory + path));
    }
    return out;
}

} // namespace quill::app
