// Helpers shared by every test target: temporary folders, sample paths, file bytes, and running
// the independent command-line tools the tests compare against.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/image.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

namespace quill::test {

/// A fresh directory under the temp directory, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    /// The directory, with trailing "/".
    [[nodiscard]] const std::string& path() const { return m_path; }
    /// path() + name
    [[nodiscard]] std::string file(const std::string& name) const { return m_path + name; }

private:
    std::string m_path;
};

/// A tmpfs of `kib` KiB mounted over an existing folder while the object lives, to fill a disk on
/// purpose; mounted() is false where mounting is not allowed (the test then skips).
class SmallDisk {
public:
    SmallDisk(const std::string& folder, int kib);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    [[nodiscard]] bool mounted() const { return m_mounted; }

private:
    std::string m_folder;
    bool m_mounted = false;
};

/// Fails one step of reading one file (its open, or every read) with `error`, as a failing disk
/// would, while the object lives; other files read as usual. One at a time.
class ReadFault {
public:
    ReadFault(std::string path, platform::ReadStep step, int error);
    ~ReadFault();
    ReadFault(const ReadFault&) = delete;
    ReadFault& operator=(const ReadFault&) = delete;
};

/// Sets (or with nullptr unsets) an environment variable until the end of the scope; the time
/// zone is read again on both changes.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

/// Peak resident memory of this process so far, in MiB.
[[nodiscard]] long peakResidentMiB();
/// How far `work`, run in a child process of its own, raised the child's peak resident memory, in
/// MiB (at most 4000); -1 when `work` returned false or the child died. A child of its own keeps
/// one case's peak from hiding the next one's.
[[nodiscard]] long childPeakGrowthMiB(const std::function<bool()>& work);

/// A path inside tests/data/thirdparty (third-party samples, with their licence notes).
[[nodiscard]] std::string testdata(const std::string& relative);
/// A path inside tests/data (the project's own fixtures).
[[nodiscard]] std::string fixture(const std::string& relative);

[[nodiscard]] std::vector<std::uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void writeText(const std::string& path, const std::string& text);

/// Runs a shell command; returns its exit status and, when `output` is given, its stdout.
int runCommand(const std::string& command, std::string* output = nullptr);
/// True when an executable exists at this absolute path (e.g. "/usr/bin/convert").
[[nodiscard]] bool haveTool(const std::string& absolutePath);
/// What a test whose comparison tool (or a tmpfs it mounts) is missing becomes: a skip on a
/// developer's machine, a failure under CI=true, where scripts/bootstrap has installed every such
/// tool and the tests run as root, so that a check never goes missing from CI unnoticed.
[[nodiscard]] ::testing::TestPartResult::Type missingToolOutcome();
/// Use instead of GTEST_SKIP() when a tool the test compares with is not installed.
#define QUILL_SKIP_WITHOUT_TOOL() return GTEST_MESSAGE_("", ::quill::test::missingToolOutcome())
/// The same for a test that needs a small tmpfs (SmallDisk) and could not mount one.
#define QUILL_SKIP_WITHOUT_TMPFS()                                                                 \
    return GTEST_MESSAGE_("cannot mount a tmpfs here", ::quill::test::missingToolOutcome())

/// Quotes a path for the shell.
[[nodiscard]] std::string shellQuote(const std::string& text);

/// True when both images hold the same pixels in the same format; an empty image matches nothing,
/// so that two failed decodes do not pass as equal.
inline bool samePixels(const toolkit::Image& a, const toolkit::Image& b) {
    if (a.empty() || a.width() != b.width() || a.height() != b.height() || a.format() != b.format())
        return false;
    const std::size_t rowBytes = std::size_t(a.width()) * std::size_t(a.bytesPerPixel());
    for (int y = 0; y < a.height(); ++y)
        if (!std::equal(a.row(y), a.row(y) + rowBytes, b.row(y))) return false;
    return true;
}

/// Peak signal-to-noise ratio over the colour channels (or all four with `includeAlpha`); 0 for
/// images of different sizes, 99 for identical ones.
inline double psnr(const toolkit::Image& a, const toolkit::Image& b, bool includeAlpha = false) {
    if (a.width() != b.width() || a.height() != b.height()) return 0;
    double sum = 0;
    const int channels = includeAlpha ? 4 : 3;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int c = 0; c < channels; ++c) {
                const double d = double(a.row(y)[x * a.bytesPerPixel() + c]) -
                                 double(b.row(y)[x * b.bytesPerPixel() + c]);
                sum += d * d;
            }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * a.width() * a.height() * channels / sum);
}

} // namespace quill::test
