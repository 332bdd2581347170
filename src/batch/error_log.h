// The error log of a console run and the console's error report.
#pragma once

#include "imagefiles/image_record.h"

#include <string>
#include <string_view>
#include <vector>

namespace quill::batch {

/// A text as the log holds it: valid UTF-8, each byte that is not part of a valid UTF-8
/// sequence (and each CR or LF, which would break the line structure, and each backslash, so
/// that an escape is never ambiguous) written as "\xNN" with two upper-case hex digits;
/// everything else unchanged. Different texts always give different logged texts.
[[nodiscard]] std::string logSafeText(std::string_view text);

/// The failure line of a record: the kind's title, and for a failed step the operation's name
/// in parentheses after two spaces.
[[nodiscard]] std::string failureLine(const imagefiles::ImageRecord& record);

/// The images of one preset's run, for a log that covers several runs.
struct LoggedRun {
    std::string preset; ///< the preset line of the run ("" when the log covers one run)
    const imagefiles::ImageList* images = nullptr;
};

/// The log text for the failed records of several runs: each failure names its preset.
[[nodiscard]] std::string errorLogText(const std::vector<LoggedRun>& runs,
                                       const std::string& standardTitle);
/// The console's error report for several runs, as consoleErrorReport.
std::string consoleErrorReport(const std::vector<LoggedRun>& runs, const std::string& standardTitle,
                               const std::vector<std::string>& candidatePaths);

/// The log text for the failed records of `images` (UTF-8 with byte order mark, CR LF).
/// `standardTitle` heads the banner.
[[nodiscard]] std::string errorLogText(const imagefiles::ImageList& images,
                                       const std::string& standardTitle);

/// Writes the log to `path` (an existing file is replaced once the new one is complete).
[[nodiscard]] bool writeErrorLog(const std::string& path, const imagefiles::ImageList& images,
                                 const std::string& standardTitle);

/// Prints "Result: Error(s) occured!" and writes the log to the first of `candidatePaths` that
/// can be written, then says where it went (or that it could not be created). Returns the path
/// written, or "" when none could be.
std::string consoleErrorReport(const imagefiles::ImageList& images,
                               const std::string& standardTitle,
                               const std::vector<std::string>& candidatePaths);

} // namespace quill::batch
