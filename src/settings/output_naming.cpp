// Output path and naming of one image, and the overwrite decision.
#include "settings/output_naming.h"

#include "imagefiles/format.h"
#include "imagefiles/image_record.h"
#include "toolkit/platform/platform.h"

namespace quill::settings {

std::string_view formatExtension(imagefiles::FormatKind kind) {
    const imagefiles::FormatInfo* format = imagefiles::formatInfo(kind);
    return format != nullptr && format->writable ? format->extension : std::string_view();
}

std::optional<std::string> sourceExtension(std::string_view sourcePath, std::string_view fileName) {
    const std::string filePart = platform::filePart(sourcePath);
    // The extension is what the file name rule cut off; a name kept whole has none, so the output
    // of such a file keeps its exact name instead of gaining a second extension.
    if (filePart.size() <= fileName.size() || filePart.compare(0, fileName.size(), fileName) != 0 ||
        filePart[fileName.size()] != '.') {
        return std::nullopt;
    }
    // Kept exactly as written: on a case-sensitive file system "photo.jpg" is another file than
    // "photo.JPG", and an output in place must be the source's own path.
    return filePart.substr(fileName.size() + 1);
}

std::optional<std::string> outputExtension(const imagefiles::ImageRecord& record,
                                           const OutputFormatChoice& format) {
    if (format.formatChanges) {
        if (format.pdf) return "pdf";
        return std::string(formatExtension(format.targetFormat));
    }
    return sourceExtension(record.sourcePath, record.fileName);
}

OutputNamer::OutputNamer(const Preset& settings, const RunSettings& run, std::string commonBase)
    : m_renameEnabled(settings.renameEnabled == 1),
      m_outputDirEnabled(settings.outputDirEnabled == 1),
      m_noZeroPadding(settings.noZeroPadding == 1),
      m_fromImageFolder(run.outputDirFromImageFolder == 1), m_outputDirRun(run.outputDirRun),
      m_commonBase(settings.mirrorSubfolders == 1 && !commonBase.empty()
                       ? normalFolderName(commonBase)
                       : std::string()),
      m_numbering(locateNumberingToken(run.renamePatternRun)),
      m_counters(settings.perFolderNumbering == 1 ? NumberingCounters::Scope::PerFolder
                                                  : NumberingCounters::Scope::Shared,
                 m_numbering.start) {}

OutputPath OutputNamer::outputPathFor(const imagefiles::ImageRecord& record,
                                      const OutputFormatChoice& format) {
    OutputPath out;
    const PlaceholderValues values = placeholderValuesOf(record);

    if (!m_outputDirEnabled) {
        out.directory = record.folder;
    } else {
        out.directory = expandDirectoryPattern(m_outputDirRun, values, m_noZeroPadding);
        if (m_fromImageFolder) out.directory = record.folder + out.directory;
        if (!m_commonBase.empty()) {
            // Compared by normal names, the mirrored part holds neither "." nor "..": it can only
            // add levels below the output folder.
            const std::string folder = normalFolderName(record.folder);
            if (folder.compare(0, m_commonBase.size(), m_commonBase) == 0)
                out.directory += folder.substr(m_commonBase.size());
        }
        out.directory = platform::withTrailingSeparator(platform::normalisePath(out.directory));
        out.directoryReady = !out.directory.empty() &&
                             (!m_createDirectories || platform::createDirectories(out.directory));
    }

    out.extension = outputExtension(record, format);
    const std::string suffix = out.extension ? "." + *out.extension : std::string();

    if (m_renameEnabled) {
        out.name = expandNamePattern(m_numbering.pattern, values, m_noZeroPadding);
        if (m_numbering.start != -1) {
            out.counterKey = m_counters.keyFor(out.directory);
            out.unnumberedName = out.name;
            if (!placeNumberInto(out, m_counters.current(out.counterKey))) {
                out.status = OutputPathStatus::NumberingFailed;
                return out;
            }
        }
    } else {
        out.name = record.fileName;
    }

    out.path = out.directory + out.name + suffix;
    if (m_outputDirEnabled && out.path == record.sourcePath)
        out.status = OutputPathStatus::SameAsSource;
    return out;
}

bool OutputNamer::placeNumberInto(OutputPath& out, std::int64_t counter) {
    const std::string suffix = out.extension ? "." + *out.extension : std::string();
    const auto* taken = m_taken.of(out.directory);
    std::string name = out.unnumberedName;
    const std::int64_t number =
        taken ? placeNumber(name, out.directory, suffix, counter, m_numbering.width, *taken) : -1;
    if (number < 0) return false;
    out.name = std::move(name);
    out.numberUsed = number;
    out.path = out.directory + out.name + suffix;
    // A retry after a collision may place a number below the counter; the counter never goes back.
    if (number >= m_counters.current(out.counterKey)) m_counters.taken(out.counterKey, number);
    // Handed out: later images of the run skip the name without looking at the disk.
    m_taken.add(out.directory, out.name + suffix);
    return true;
}

void OutputNamer::giveBackNumber(const OutputPath& output) {
    if (output.numberUsed < 0) return;
    m_counters.giveBack(output.counterKey, output.numberUsed);
    m_taken.remove(output.directory, platform::filePart(output.path));
}

bool OutputNamer::nextFreeNumber(OutputPath& output) {
    if (output.numberUsed < 0) return false;
    // The name stays taken (it is someone else's file now); the search goes on after it.
    return placeNumberInto(output, output.numberUsed + 1);
}

CollisionDecision CollisionRule::resolve(const std::string& outputPath,
                                         const std::string& sourcePath, CollisionCheck check) {
    if (check == CollisionCheck::Skipped || outputPath == sourcePath ||
        !platform::fileExists(outputPath)) {
        return CollisionDecision::Write;
    }
    if (m_forAll) return *m_forAll;
    switch (m_policy.decide(outputPath)) {
    case CollisionAnswer::ReplaceThis:
        return CollisionDecision::Replace;
    case CollisionAnswer::SkipThis:
        return CollisionDecision::Skip;
    case CollisionAnswer::ReplaceAll:
        m_forAll = CollisionDecision::Replace;
        return *m_forAll;
    case CollisionAnswer::SkipAll:
        m_forAll = CollisionDecision::Skip;
        return *m_forAll;
    }
    return CollisionDecision::Skip;
}

bool collisionCheckApplies(const Preset& settings, bool formatChanges) {
    return formatChanges || settings.renameEnabled == 1 || settings.outputDirEnabled == 1;
}

} // namespace quill::settings
