// Command-line parsing: the switches and the path arguments.
#pragma once

#include "app/app_context.h"

#include <string>
#include <vector>

namespace quill::app {

/// Parses the arguments after the program name into `context`: switches are compared without
/// regard to case, "-Preset=" with one more character selects a preset (a later one wins),
/// unknown switches and empty arguments are ignored, and every other argument is appended to
/// `pathArguments` followed by a line feed.
void parseCommandLine(const std::vector<std::string>& arguments, AppContext& context);

/// True when a line of `pathArguments` is a relative path (it does not begin with "/").
[[nodiscard]] bool hasRelativePathArgument(const std::string& pathArguments);

/// Makes every relative line of `pathArguments` absolute by prefixing `baseDirectory` (which
/// ends with "/"), and takes the levels "." and ".." out of every line: "." and empty levels are
/// dropped, and the part up to the last ".." is resolved on the file system (so ".." climbs from
/// where a link points, as the file system does). Empty lines stay as they are.
[[nodiscard]] std::string resolvePathArguments(const std::string& pathArguments,
                                               const std::string& baseDirectory);

} // namespace quill::app
