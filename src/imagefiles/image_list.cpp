// Filling the image list: admission rules, directory walks and the dialog's filter list.
#include "imagefiles/image_list.h"

#include <cstdint>
#include <unordered_set>
#include <utility>

#include "imagefiles/format.h"
#include "toolkit/platform/platform.h"

namespace quill::imagefiles {

namespace {

// Directory walks follow symbolic links. Each directory is entered at most once per walk,
// recognised by its device and inode: a link that points back up the tree cannot make the walk
// endless, and two links to one directory do not add its files twice. The walk keeps its own
// stack instead of recursing, so the depth of a tree costs no call stack. Entries come in name
// order, and a subfolder is walked where its name stands among them, so the list, and every
// number given from it, is the same on every file system.
class Walk {
public:
    Walk(ImageList& list, const ListOptions& options, const RecordAdded& onAdded)
        : m_list(list), m_options(options), m_onAdded(onAdded) {}

    void directory(const std::string& dir, bool recurse) {
        struct Level {
            std::string base;
            std::vector<platform::DirEntry> entries;
            std::size_t next = 0;
        };
        std::vector<Level> stack;
        const auto enter = [&](const std::string& path) {
            std::string base = platform::withTrailingSeparator(path);
            if (const auto id = platform::fileIdentity(base)) {
                if (!m_visited.insert(key(*id)).second) return;
            }
            auto entries = platform::listDirectory(base);
            if (!entries) return;
            stack.push_back(Level{std::move(base), std::move(*entries), 0});
        };
        enter(dir);
        while (!stack.empty()) {
            Level& level = stack.back();
            if (level.next == level.entries.size()) {
                stack.pop_back();
                continue;
            }
            const platform::DirEntry& entry = level.entries[level.next++];
            const std::string path = level.base + entry.name;
            if (entry.isDirectory) {
                if (recurse) enter(path); // may reallocate the stack: `level` is not used after
            } else if (detectFormatByExtension(entry.name, m_options.videos) != FormatKind::None) {
                file(path);
            }
            if (m_list.cancel.load() == 1) return;
        }
    }

    void file(const std::string& path) {
        if (!addImageRecord(path, m_list, m_options)) return;
        if (m_onAdded) m_onAdded(m_list.records().back());
    }

private:
    static std::pair<std::uint64_t, std::uint64_t> key(const platform::FileIdentity& id) {
        return {id.device, id.inode};
    }
    struct KeyHash {
        std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& k) const {
            return std::hash<std::uint64_t>{}(k.first * 0x9E3779B97F4A7C15ull ^ k.second);
        }
    };

    ImageList& m_list;
    const ListOptions& m_options;
    const RecordAdded& m_onAdded;
    std::unordered_set<std::pair<std::uint64_t, std::uint64_t>, KeyHash> m_visited;
};

} // namespace

std::string fileNameOf(std::string_view path) {
    const std::string file = platform::filePart(path);
    const std::size_t dot = file.rfind('.');
    if (dot != std::string::npos && dot != 0 && file.size() - dot - 1 <= 4) {
        return file.substr(0, dot);
    }
    return file;
}

bool addImageRecord(const std::string& givenPath, ImageList& list, const ListOptions& options) {
    // One file, one spelling: "dir//a.png" and "dir/./a.png" are the record of "dir/a.png".
    const std::string path = platform::normalisePath(givenPath);
    const auto info = platform::fileInfo(path);
    const std::uint32_t attributes = info ? info->attributes : 0;
    if (attributes & platform::AttrSystem) return false;
    if ((attributes & platform::AttrHidden) && !options.includeHiddenFiles) return false;
    if (!info || info->isDirectory) return false;
    if (list.containsPath(path)) return false;

    ImageRecord record;
    record.sourcePath = path;
    record.folder = platform::directoryPart(path);
    record.fileName = fileNameOf(path);
    record.formatKind = detectFormatByExtension(path, options.videos);
    record.attributes = attributes;
    record.fileSize = std::int64_t(info->size);
    record.createdDate = info->createdDate;
    record.recordedDate = info->modifiedDate;
    record.modifiedDate = info->modifiedDate;
    record.accessedDate = info->accessedDate;
    list.append(std::move(record));
    return true;
}

void addPaths(const PathList& paths, ImageList& list, const ListOptions& options,
              const RecordAdded& onAdded) {
    Walk walk(list, options, onAdded);
    for (const std::string& element : paths) {
        if (element.empty()) continue;
        if (platform::isDirectory(element)) {
            walk.directory(element, options.includeSubdirectories);
        } else if (detectFormatByExtension(element, options.videos) != FormatKind::None) {
            walk.file(element);
        }
        if (list.cancel.load() == 1) return;
    }
}

std::vector<FileFilter> openFileFilters(Videos videos, const std::string& allImagesLabel) {
    std::vector<FileFilter> filters{{allImagesLabel, {}}};
    for (const FormatInfo& format : formatTable()) {
        if (format.kind == FormatKind::Video && videos == Videos::Excluded) continue;
        std::vector<std::string_view>& all = filters.front().extensions;
        all.insert(all.end(), format.extensions.begin(), format.extensions.end());
        filters.push_back({std::string(format.filterLabel),
                           {format.extensions.begin(), format.extensions.end()}});
    }
    return filters;
}

std::string openFileFilterString(const std::vector<FileFilter>& filters) {
    std::string text;
    for (const FileFilter& f : filters) {
        text += f.label;
        text += '|';
        for (std::size_t i = 0; i < f.extensions.size(); ++i) {
            if (i > 0) text += ';';
            text += "*.";
            text += f.extensions[i];
        }
        text += '|';
    }
    return text;
}

} // namespace quill::imagefiles
