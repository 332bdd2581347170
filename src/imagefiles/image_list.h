// Filling the image list: admitting files, walking directories, and the open-file dialog's
// filter list.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "imagefiles/format.h"
#include "imagefiles/image_record.h"

namespace quill::imagefiles {

/// The preset switches that decide which files the list admits.
struct ListOptions {
    bool includeSubdirectories = false; ///< walking a directory descends into subdirectories
    bool includeHiddenFiles = false;    ///< files with the hidden attribute are admitted
    Videos videos = Videos::Excluded;   ///< whether video extensions count as admissible
};

/// Called for every record that was added (the window appends a row for it).
using RecordAdded = std::function<void(const ImageRecord&)>;

/// The `fileName` value of a path: the file part without its extension when the last dot is not
/// the first character and at most 4 characters follow it; otherwise the whole file part.
[[nodiscard]] std::string fileNameOf(std::string_view path);

/// Admits one file: rejected when it has the system attribute, when it is hidden and hidden files
/// are not included, when it does not exist or is a directory, or when the list already holds
/// exactly this path. Otherwise appends a new record. True when a record was added.
[[nodiscard]] bool addImageRecord(const std::string& path, ImageList& list,
                                  const ListOptions& options);

/// Paths in the order they were given. A file name may hold any byte but NUL (a line feed
/// too), so paths travel as a list, never joined into one text.
using PathList = std::vector<std::string>;

/// Adds every path of the list: directories are walked in name order (platform::listDirectory),
/// a subfolder where its name comes in that order (with `includeSubdirectories` as the recursion
/// switch; a directory that cannot be read adds nothing), files with an image extension admitted,
/// empty paths skipped. Stops after the path or directory entry during which the cancel flag
/// became 1.
void addPaths(const PathList& paths, ImageList& list, const ListOptions& options,
              const RecordAdded& onAdded = {});

/// One entry of the open-file dialog's filter list.
struct FileFilter {
    std::string label;                        ///< shown to the user
    std::vector<std::string_view> extensions; ///< lower-case, without the dot
};

/// The open-file dialog's filter list in order: all supported images (labelled `allImagesLabel`;
/// video extensions added when `videos` is Included), then one entry per format, then the videos
/// entry when `videos` is Included.
[[nodiscard]] std::vector<FileFilter> openFileFilters(Videos videos,
                                                      const std::string& allImagesLabel);

/// The filter list in the platform's syntax: for each entry the label, "|", the patterns
/// ("*." + extension) joined by ";", and "|".
[[nodiscard]] std::string openFileFilterString(const std::vector<FileFilter>& filters);

} // namespace quill::imagefiles
