// Output path and naming of one image, and the decision when its output file already exists.
#pragma once

#include "imagefiles/format.h"
#include "settings/placeholders.h"
#include "settings/preset.h"
#include "settings/run_settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quill::imagefiles {
struct ImageRecord;
}

namespace quill::settings {

/// The extension ("jpg", "png", "bmp", "jp2") of an output format (JPEG, PNG, BMP, JPEG 2000),
/// "" else.
[[nodiscard]] std::string_view formatExtension(imagefiles::FormatKind format);

/// The extension of a source file as the output keeps it: the text after the dot where the file
/// name rule split the name (`fileName` is the name without extension), as written; nullopt when
/// the rule kept the whole file part as the name (the output then gets no "." either).
[[nodiscard]] std::optional<std::string> sourceExtension(std::string_view sourcePath,
                                                         std::string_view fileName);

/// How the pipeline writes the image.
struct OutputFormatChoice {
    bool formatChanges = false; ///< converted to another format than the source's
    /// The format written (JPEG, PNG, BMP or JPEG 2000).
    imagefiles::FormatKind targetFormat = imagefiles::FormatKind::None;
    bool pdf = false; ///< wrapped into a PDF
};
/// The output extension: the target format's (or "pdf") when the format changes, else the
/// source's own as written (nullopt: the source has none, see sourceExtension).
[[nodiscard]] std::optional<std::string> outputExtension(const imagefiles::ImageRecord& record,
                                                         const OutputFormatChoice& format);

/// Outcome of computing one output path.
enum class OutputPathStatus {
    Ready,           ///< the path is set
    SameAsSource,    ///< an output directory is in use and the path is the source itself
    NumberingFailed, ///< no number could be placed into the name
};

/// The output path of one image and its parts.
struct OutputPath {
    OutputPathStatus status = OutputPathStatus::Ready;
    std::string directory; ///< ends with "/" (unless empty)
    std::string name;
    std::optional<std::string> extension; ///< nullopt: the path has no "." after the name
    std::string path; ///< directory + name + "." + extension (directory + name without one)
    bool directoryReady = true;   ///< every level of the directory exists
    std::int64_t numberUsed = -1; ///< number taken from the numbering counter, -1 if none
    std::string counterKey;       ///< the counter the number was taken from
    std::string unnumberedName;   ///< the expanded name before the number went in
};

/// Turns the images of one run into output paths. Holds the numbering counters of the run.
class OutputNamer {
public:
    /// `commonBase` is the run's common base folder (commonBaseFolder of the image list); with
    /// mirrorSubfolders on and an empty base, mirroring is off for the run. Image folders are
    /// mirrored by their normalFolderName(), so no output leaves the output folder.
    OutputNamer(const Preset& settings, const RunSettings& run, std::string commonBase);

    /// The output path of an image: the directory (every missing level of an output directory is
    /// created), the extension, the name with numbering, and the same-as-source check.
    [[nodiscard]] OutputPath outputPathFor(const imagefiles::ImageRecord& record,
                                           const OutputFormatChoice& format);
    /// Missing levels of output directories are no longer created (a dry run).
    void leaveDirectoriesAlone() { m_createDirectories = false; }
    /// Gives the number of a failed image back, so the next image reuses it.
    void giveBackNumber(const OutputPath& output);
    /// For a numbered output whose name turned out to be taken when its file was committed
    /// (another program or worker created it meanwhile): records that name as taken and places
    /// the next free number into `output` (name, path, numberUsed). False, with `output`
    /// unchanged, when it is not numbered or no number is left. Costs no directory listing.
    [[nodiscard]] bool nextFreeNumber(OutputPath& output);

    /// The rename pattern's numbering token (start -1 when none).
    [[nodiscard]] const NumberingToken& numbering() const { return m_numbering; }
    /// The common base folder in use ("" when mirroring is off).
    [[nodiscard]] const std::string& commonBase() const { return m_commonBase; }

private:
    /// Places the first free number from `counter` into out.unnumberedName and takes it.
    [[nodiscard]] bool placeNumberInto(OutputPath& out, std::int64_t counter);

    bool m_renameEnabled;
    bool m_outputDirEnabled;
    bool m_noZeroPadding;
    bool m_fromImageFolder;
    bool m_createDirectories = true;
    std::string m_outputDirRun;
    std::string m_commonBase;
    NumberingToken m_numbering;
    NumberingCounters m_counters;
    TakenNames m_taken; ///< each output directory is listed once per run
};

/// The answers to the question asked when an output file exists.
enum class CollisionAnswer { ReplaceThis, SkipThis, ReplaceAll, SkipAll };

/// Whoever answers the overwrite question: the window asks the user, the console skips all,
/// the preview run replaces all.
class CollisionPolicy {
public:
    virtual ~CollisionPolicy() = default;
    /// Asked for an output path that names an existing file.
    [[nodiscard]] virtual CollisionAnswer decide(const std::string& outputPath) = 0;
};

/// A policy that always gives the same answer.
class FixedCollisionPolicy final : public CollisionPolicy {
public:
    explicit FixedCollisionPolicy(CollisionAnswer answer) : m_answer(answer) {}
    [[nodiscard]] CollisionAnswer decide(const std::string&) override { return m_answer; }

private:
    CollisionAnswer m_answer;
};

/// What the pipeline does with an output path.
enum class CollisionDecision {
    Write,   ///< no file is in the way (or the output replaces its own source without a question)
    Replace, ///< a file exists and is to be replaced
    Skip,    ///< a file exists and the image is skipped
};

/// Whether an existing output is looked for: it is when the image is converted, renamed or sent
/// to an output directory; otherwise the output takes its source's place and nothing is asked.
enum class CollisionCheck : bool { Skipped, Applies };

/// The collision rule of one run: asks the policy when an output exists and remembers an answer
/// "for all" for the rest of the run.
class CollisionRule {
public:
    explicit CollisionRule(CollisionPolicy& policy) : m_policy(policy) {}
    /// An output path that is the source itself is always Write: replacing would delete the
    /// source before it is read.
    [[nodiscard]] CollisionDecision resolve(const std::string& outputPath,
                                            const std::string& sourcePath, CollisionCheck check);

private:
    CollisionPolicy& m_policy;
    std::optional<CollisionDecision> m_forAll;
};

/// Whether the existence check applies: the format changes, or renaming or an output directory
/// is on.
[[nodiscard]] bool collisionCheckApplies(const Preset& settings, bool formatChanges);

} // namespace quill::settings
