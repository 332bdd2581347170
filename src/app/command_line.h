// Command-line parsing: the switches and the path arguments.
#pragma once

#include "app/app_context.h"

#include <string>
#include <vector>

namespace quill::app {

/// Parses the arguments after the program name into `context`: switches are compared without
/// regard to case, "-Preset=" with one more character selects a preset (a later one wins),
/// unknown switches and empty arguments are ignored, and every other argument is appended to
/// `pathArguments` as it is (any byte but NUL, a line feed too).
void parseCommandLine(const std::vector<std::string>& arguments, AppContext& context);

/// True when one of `paths` is a relative path (it does not begin with "/").
[[nodiscard]] bool hasRelativePathArgument(const imagefiles::PathList& paths);

/// Makes every relative path of `paths` absolute by prefixing `baseDirectory` (which ends with
/// "/"), and takes the levels "." and ".." out of every path: "." and empty levels are dropped,
/// and the part up to the last ".." is resolved on the file system (so ".." climbs from where a
/// link points, as the file system does). Empty paths stay as they are.
[[nodiscard]] imagefiles::PathList resolvePathArguments(const imagefiles::PathList& paths,
                                                        const std::string& baseDirectory);

} // namespace quill::app
