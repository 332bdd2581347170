// Command-line parsing: the switches and the path arguments.
#include "app/command_line.h"

#include <cstddef>

namespace quill::app {

namespace {

// Lower-cases ASCII letters; other bytes (including UTF-8 sequences) stay as they are.
std::string lowerAscii(const std::string &text) {
    std::string out = text;
    for (char &c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Number of characters of a UTF-8 text: every byte that does not continue a sequence.
std::size_t characterCount(const std::string &text) {
    std::size_t count = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}

} // namespace

void parseCommandLine(const std::vector<std::string> &arguments, AppContext &context) {
    for (const std::string &argument : arguments) {
        const std::string lower = lowerAscii(argument);
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
            context.pathArguments += argument;
            context.pathArguments += '\n';
        } else if (lower.compare(0, 8, "-preset=") == 0 && characterCount(argument) == 9) {
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

bool hasRelativePathArgument(const std::string &pathArguments) {
    std::size_t pos = 0;
    while (pos < pathArguments.size()) {
        std::size_t end = pathArguments.find('\n', pos);
        if (end == std::string::npos) end = pathArguments.size();
        if (end > pos && pathArguments[pos] != '/') return true;
        pos = end + 1;
    }
    return false;
}

std::string resolvePathArguments(const std::string &pathArguments,
                                 const std::string &baseDirectory) {
    std::string out;
    std::size_t pos = 0;
    while (pos < pathArguments.size()) {
        std::size_t end = pathArguments.find('\n', pos);
        if (end == std::string::npos) end = pathArguments.size();
        const std::string line = pathArguments.substr(pos, end - pos);
        if (!line.empty() && line.front() != '/') out += baseDirectory;
        out += line;
        out += '\n';
        pos = end + 1;
    }
    return out;
}

} // namespace quill::app
