// Command-line parsing: the switches and the path arguments.
#include "app/command_line.h"

#include "toolkit/ascii.h"
#include "toolkit/platform/platform.h"
#include "toolkit/utf8.h"

#include <algorithm>
#include <cstddef>
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
