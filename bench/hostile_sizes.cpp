// Loads each file of a folder of hostile inputs (bench/make_hostile_inputs.py: headers claiming
// huge sizes on a few bytes of data) in a child process of its own and prints what it cost:
// the size the header declares, whether the loader refused the file (an empty image), the
// child's wall time and its peak resident memory above a child that loaded a tiny valid image.
//   hostile_sizes DIR
// Exits 1 when a hostile file decodes to an image, takes more than a second, or peaks more than
// 64 MB above the tiny image's child; 2 on a usage or set-up error. A file named "truncated-..."
// breaks off early: the loader keeps the rows it could read, so it may decode, within the limits.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imagefiles/image_loader.h"

namespace {

constexpr double kMaxMilliseconds = 1000.0;
constexpr double kMaxPeakAboveBaselineMb = 64.0;
/// A child still running after this long is killed by its own alarm and counts as a failure.
constexpr unsigned kChildTimeoutSeconds = 30;

/// What the child sends back through its pipe.
struct ChildReport {
    bool sizeRead = false;
    std::int32_t sizeWidth = 0;
    std::int32_t sizeHeight = 0;
    std::int64_t estimateWidth = 0;
    std::int64_t estimateHeight = 0;
    std::uint64_t estimateBytes = 0;
    std::int32_t loadedWidth = 0;
    std::int32_t loadedHeight = 0;
    bool empty = true;
};

struct Measurement {
    bool completed = false; ///< the child exited normally and sent its report
    int signal = 0;         ///< the signal that ended the child, if one did
    ChildReport report;
    double milliseconds = 0;
    double peakMb = 0;
};

[[noreturn]] void runChild(const std::string& path, int out) {
    alarm(kChildTimeoutSeconds);
    ChildReport report;
    quill::imagefiles::ImageRect rect;
    report.sizeRead = quill::imagefiles::readImageSize(path, rect);
    report.sizeWidth = rect.width;
    report.sizeHeight = rect.height;
    const quill::imagefiles::DecodeEstimate estimate = quill::imagefiles::estimateDecode(path);
    report.estimateWidth = estimate.width;
    report.estimateHeight = estimate.height;
    report.estimateBytes = estimate.bytes;
    const quill::toolkit::Image image =
        quill::imagefiles::loadImageFile(path, quill::imagefiles::FormatKind::None);
    report.empty = image.empty();
    report.loadedWidth = image.width();
    report.loadedHeight = image.height();
    const bool sent = write(out, &report, sizeof report) == ssize_t(sizeof report);
    _exit(sent ? 0 : 3);
}

Measurement measure(const std::string& path) {
    Measurement result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return result;
    std::fflush(stdout); // or the child's copy of the buffer could be written twice
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return result;
    }
    if (child == 0) {
        close(fds[0]);
        runChild(path, fds[1]);
    }
    close(fds[1]);
    // The report is small enough for the pipe's buffer, so the child never waits on the reader.
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    result.peakMb = double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    const bool got =
        read(fds[0], &result.report, sizeof result.report) == ssize_t(sizeof result.report);
    close(fds[0]);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.completed = got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

std::string declaredSize(const ChildReport& report) {
    if (report.sizeRead)
        return std::to_string(report.sizeWidth) + "x" + std::to_string(report.sizeHeight);
    if (report.estimateWidth > 0 && report.estimateHeight > 0)
        return std::to_string(report.estimateWidth) + "x" + std::to_string(report.estimateHeight);
    return "-";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(argv[1], error))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    if (error || files.empty()) {
        std::fprintf(stderr, "no files in %s\n", argv[1]);
        return 2;
    }
    std::sort(files.begin(), files.end());

    const std::string baselinePath = std::string(QUILL_TESTDATA_DIR) + "/png/basn2c08.png";
    const Measurement baseline = measure(baselinePath);
    if (!baseline.completed || baseline.report.empty) {
        std::fprintf(stderr, "the baseline image %s did not load\n", baselinePath.c_str());
        return 2;
    }
    std::printf("baseline %s: %dx%d, %.1f ms, peak %.1f MB\n",
                fs::path(baselinePath).filename().c_str(), baseline.report.loadedWidth,
                baseline.report.loadedHeight, baseline.milliseconds, baseline.peakMb);
    std::printf("limits: refused, at most %.0f ms, at most %.0f MB above the baseline\n\n",
                kMaxMilliseconds, kMaxPeakAboveBaselineMb);
    std::printf("%-26s %-13s %10s %-12s %9s %9s  %s\n", "file", "declared", "estimate", "refused",
                "ms", "+MB", "verdict");

    int failures = 0;
    for (const std::string& path : files) {
        const Measurement m = measure(path);
        const double above = m.peakMb - baseline.peakMb;
        std::string refused;
        if (!m.completed)
            refused = m.signal ? "signal " + std::to_string(m.signal) : "no report";
        else if (m.report.empty)
            refused = "yes";
        else
            refused = "NO " + std::to_string(m.report.loadedWidth) + "x" +
                      std::to_string(m.report.loadedHeight);
        std::string verdict;
        const auto fault = [&verdict](const char* what) {
            verdict += verdict.empty() ? what : std::string(" ") + what;
        };
        const bool truncated = path.substr(path.rfind('/') + 1).starts_with("truncated-");
        if (!m.completed || (!m.report.empty && !truncated)) fault("not-refused");
        if (m.milliseconds > kMaxMilliseconds) fault("slow");
        if (above > kMaxPeakAboveBaselineMb) fault("memory");
        if (verdict.empty())
            verdict = "ok";
        else
            ++failures;
        // What a batch run reserves for the file before it decodes it.
        const std::uint64_t estimateMb = m.report.estimateBytes >> 20;
        const std::string estimate = m.report.estimateBytes == 0 ? "-"
                                     : estimateMb == 0           ? "<1 MB"
                                                       : std::to_string(estimateMb) + " MB";
        std::printf("%-26s %-13s %10s %-12s %9.1f %9.1f  %s\n", fs::path(path).filename().c_str(),
                    declaredSize(m.report).c_str(), estimate.c_str(), refused.c_str(),
                    m.milliseconds, above, verdict.c_str());
        std::fflush(stdout);
    }
    std::printf("\n%d of %zu files over the limits\n", failures, files.size());
    return failures ? 1 : 0;
}
