// Helpers shared by every test target.
#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string_view>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quill::test {

namespace {
struct FaultyRead {
    std::string path;
    platform::ReadStep step = platform::ReadStep::Open;
    int error = 0;
};
FaultyRead g_faultyRead;

int injectFault(const std::string& path, platform::ReadStep step) {
    return path == g_faultyRead.path && step == g_faultyRead.step ? g_faultyRead.error : 0;
}
} // namespace

ReadFault::ReadFault(std::string path, platform::ReadStep step, int error) {
    g_faultyRead = {std::move(path), step, error};
    platform::detail::setReadFault(&injectFault);
}

ReadFault::~ReadFault() {
    platform::detail::setReadFault(nullptr);
    g_faultyRead = {};
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quilltest-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only files or folders behind; make them removable first.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(m_path, ec);
}

SmallDisk::SmallDisk(const std::string& folder, int kib) : m_folder(folder) {
    const std::string options = "size=" + std::to_string(kib) + "k";
    m_mounted = mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (m_mounted) umount2(m_folder.c_str(), MNT_DETACH);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    value ? setenv(name, value, 1) : unsetenv(name);
    tzset();
}

ScopedEnv::~ScopedEnv() {
    m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name);
    tzset();
}

long peakResidentMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

long childPeakGrowthMiB(const std::function<bool()>& work) {
    const pid_t child = fork();
    if (child == 0) {
        const long before = peakResidentMiB();
        const bool ok = work();
        _exit(ok ? int(std::min(peakResidentMiB() - before, 4000L) / 16) : 255);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) == 255)
        return -1;
    return long(WEXITSTATUS(status)) * 16;
}

std::string testdata(const std::string& relative) {
    return std::string(QUILL_TESTDATA_DIR) + "/" + relative;
}

std::string fixture(const std::string& relative) {
    return std::string(QUILL_FIXTURES_DIR) + "/" + relative;
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

int runCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        if (output) output->append(buffer, n);
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

::testing::TestPartResult::Type missingToolOutcome() {
    const char* ci = std::getenv("CI");
    return ci && std::string_view(ci) == "true" ? ::testing::TestPartResult::kFatalFailure
                                                : ::testing::TestPartResult::kSkip;
}

bool haveTool(const std::string& absolutePath) {
    return access(absolutePath.c_str(), X_OK) == 0;
}

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

} // namespace quill::test
