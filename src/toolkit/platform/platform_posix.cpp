// The platform layer on POSIX (Linux): files, dates, directories, the instance lock, console.
#include "toolkit/platform/platform.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace quill::platform {
namespace {

thread_local int t_lastError = 0;

bool fail(int error = errno) {
    t_lastError = error;
    return false;
}

std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : fallback;
}

std::string homeDirectory() { return envOr("HOME", "/"); }

/// Reads one XDG user directory (e.g. XDG_DESKTOP_DIR) from ~/.config/user-dirs.dirs.
std::string xdgUserDir(const std::string& key, const std::string& fallbackName) {
    const std::string home = withTrailingSeparator(homeDirectory());
    std::ifstream in(appDataDirectory() + "user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) != 0) continue;
        std::string value = line.substr(key.size() + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) value = home + value.substr(value.size() > 5 && value[5] == '/' ? 6 : 5);
        if (!value.empty() && value.front() == '/') return withTrailingSeparator(value);
    }
    return home + fallbackName + "/";
}

std::int64_t birthOrModified(const std::string& path, const struct stat& st) {
#ifdef STATX_BTIME
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
        return sx.stx_btime.tv_sec;
#else
    (void)path;
#endif
    return st.st_mtime;
}

/// Renames without replacing an existing target (link + unlink works on every local fs).
bool renameNoReplace(const std::string& from, const std::string& to) {
    if (::link(from.c_str(), to.c_str()) != 0) return fail();
    ::unlink(from.c_str());
    return true;
}

bool renameWith(const std::string& from, const std::string& to, Overwrite mode) {
    if (mode == Overwrite::FailIfExists) return renameNoReplace(from, to);
    if (::rename(from.c_str(), to.c_str()) != 0) return fail();
    return true;
}

} // namespace

// --- Directories -------------------------------------------------------------------------------

std::string withTrailingSeparator(std::string dir) {
    if (!dir.empty() && dir.back() != kSeparator) dir += kSeparator;
    return dir;
}

std::string directoryPart(std::string_view path) {
    const auto pos = path.rfind(kSeparator);
    return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos + 1));
}

std::string filePart(std::string_view path) {
    const auto pos = path.rfind(kSeparator);
    return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string programDirectory() {
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return currentDirectory();
    buffer.resize(std::size_t(n));
    return directoryPart(buffer);
}

std::string tempDirectory() { return withTrailingSeparator(envOr("TMPDIR", "/tmp")); }

std::string appDataDirectory() {
    return withTrailingSeparator(
        envOr("XDG_CONFIG_HOME", withTrailingSeparator(homeDirectory()) + ".config"));
}

std::string desktopDirectory() { return xdgUserDir("XDG_DESKTOP_DIR", "Desktop"); }

std::string documentsDirectory() { return xdgUserDir("XDG_DOCUMENTS_DIR", "Documents"); }

std::string currentDirectory() {
    std::string buffer(4096, '\0');
    if (!::getcwd(buffer.data(), buffer.size())) return "/";
    buffer.resize(std::strlen(buffer.c_str()));
    return withTrailingSeparator(buffer);
}

bool setCurrentDirectory(const std::string& dir) {
    return ::chdir(dir.c_str()) == 0 || fail();
}

// --- File metadata -----------------------------------------------------------------------------

std::optional<FileInfo> fileInfo(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        fail();
        return std::nullopt;
    }
    FileInfo info;
    info.isDirectory = S_ISDIR(st.st_mode);
    info.size = std::uint64_t(st.st_size);
    info.mode = st.st_mode & 07777;
    std::uint32_t attrs = 0;
    if (!(st.st_mode & S_IWUSR)) attrs |= AttrReadOnly;
    std::string name = filePart(path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path);
    if (!name.empty() && name[0] == '.' && name != "." && name != "..") attrs |= AttrHidden;
    if (info.isDirectory) attrs |= AttrDirectory;
    if (S_ISREG(st.st_mode)) attrs |= AttrArchive;
    if (attrs == 0) attrs = AttrNormal;
    info.attributes = attrs;
    info.modifiedDate = localFromUtc(st.st_mtime);
    info.accessedDate = localFromUtc(st.st_atime);
    info.createdDate = localFromUtc(birthOrModified(path, st));
    return info;
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        fail();
        return std::nullopt;
    }
    return FileIdentity{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool copyPermissions(const std::string& source, const std::string& target) {
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0) return fail();
    return ::chmod(target.c_str(), st.st_mode & 07777) == 0 || fail();
}

bool setPermissions(const std::string& path, std::uint32_t mode) {
    return ::chmod(path.c_str(), mode_t(mode & 07777)) == 0 || fail();
}

bool setDefaultPermissions(const std::string& path) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return ::chmod(path.c_str(), 0666 & ~mask) == 0 || fail();
}

bool clearReadOnly(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return fail();
    return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0 || fail();
}

// --- Dates -------------------------------------------------------------------------------------

std::int64_t localFromUtc(std::int64_t utcSeconds) {
    const time_t t = time_t(utcSeconds);
    struct tm local {};
    if (!::localtime_r(&t, &local)) return utcSeconds;
    return utcSeconds + local.tm_gmtoff;
}

std::int64_t utcFromLocal(std::int64_t localSeconds) {
    const time_t t = time_t(localSeconds);
    struct tm broken {};
    if (!::gmtime_r(&t, &broken)) return localSeconds;
    broken.tm_isdst = -1;
    const time_t utc = ::mktime(&broken);
    return utc == time_t(-1) ? localSeconds : std::int64_t(utc);
}

bool setFileDates(const std::string& path, std::optional<std::int64_t> modifiedLocal,
                  std::optional<std::int64_t> accessedLocal) {
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_nsec = UTIME_OMIT;
    times[0].tv_sec = times[1].tv_sec = 0;
    if (accessedLocal) {
        times[0].tv_sec = time_t(utcFromLocal(*accessedLocal));
        times[0].tv_nsec = 0;
    }
    if (modifiedLocal) {
        times[1].tv_sec = time_t(utcFromLocal(*modifiedLocal));
        times[1].tv_nsec = 0;
    }
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0 || fail();
}

// --- Files and directories ---------------------------------------------------------------------

bool copyFile(const std::string& from, const std::string& to, Overwrite mode) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return fail();
    PendingFile out(to);
    if (!out.ok()) {
        ::close(in);
        return fail(out.error());
    }
    std::vector<std::uint8_t> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            const int e = errno;
            ::close(in);
            return fail(e);
        }
        if (n == 0) break;
        if (!out.write({buffer.data(), std::size_t(n)})) {
            ::close(in);
            return fail(out.error());
        }
    }
    ::close(in);
    if (!out.commit(mode)) return fail(out.error());
    return true;
}

bool moveFile(const std::string& from, const std::string& to, Overwrite mode) {
    if (renameWith(from, to, mode)) return true;
    if (t_lastError != EXDEV) return false;
    // Another file system: the copy is complete before the source goes.
    if (!copyFile(from, to, mode)) return false;
    (void)copyPermissions(from, to);
    if (auto info = fileInfo(from)) (void)setFileDates(to, info->modifiedDate, info->accessedDate);
    return deleteFile(from);
}

bool deleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || fail(); }

bool createDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    const int e = errno;
    return isDirectory(path) || fail(e);
}

bool createDirectories(const std::string& path) {
    if (path.empty()) return fail(ENOENT);
    if (isDirectory(path)) return true;
    std::string partial;
    std::size_t pos = 0;
    while (pos < path.size()) {
        const std::size_t next = path.find(kSeparator, pos + 1);
        partial = path.substr(0, next == std::string::npos ? path.size() : next);
        pos = next == std::string::npos ? path.size() : next;
        if (partial.empty() || partial == "/") continue;
        if (!isDirectory(partial) && !createDirectory(partial)) return false;
    }
    return isDirectory(path) || fail(ENOTDIR);
}

bool removeDirectoryTree(const std::string& path) {
    const std::string dir = withTrailingSeparator(path);
    if (auto entries = listDirectory(dir)) {
        for (const auto& e : *entries) {
            const std::string child = dir + e.name;
            struct stat st {};
            if (::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                (void)removeDirectoryTree(child);
            else
                ::unlink(child.c_str());
        }
    }
    if (::rmdir(path.c_str()) == 0) return true;
    return !fileExists(path) || fail();
}

std::optional<std::vector<DirEntry>> listDirectory(const std::string& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) {
        fail();
        return std::nullopt;
    }
    std::vector<DirEntry> entries;
    const std::string base = withTrailingSeparator(dir);
    errno = 0;
    while (struct dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        DirEntry entry{e->d_name, false};
        if (e->d_type == DT_DIR)
            entry.isDirectory = true;
        else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK)
            entry.isDirectory = isDirectory(base + entry.name);
        entries.push_back(std::move(entry));
    }
    ::closedir(d);
    return entries;
}

std::optional<std::vector<std::uint8_t>> readFile(const std::string& path, std::uint64_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fail();
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || std::uint64_t(st.st_size) > maxBytes) {
        fail(errno ? errno : EFBIG);
        ::close(fd);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(std::size_t(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += std::size_t(n);
    }
    ::close(fd);
    bytes.resize(done); // a file that shrank while being read yields what was there
    return bytes;
}

int lastError() { return t_lastError; }

bool isDiskFull(int error) { return error == ENOSPC || error == EDQUOT; }

// --- PendingFile -------------------------------------------------------------------------------

PendingFile::PendingFile(std::string finalPath) : m_finalPath(std::move(finalPath)) {
    const std::string dir = directoryPart(m_finalPath);
    std::string pattern = (dir.empty() ? std::string("./") : dir) + ".quill-" +
                          filePart(m_finalPath).substr(0, 64) + ".XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        m_error = errno;
        t_lastError = m_error;
        return;
    }
    m_tempPath = pattern;
    m_stream = ::fdopen(fd, "wb");
    if (!m_stream) {
        m_error = errno;
        ::close(fd);
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : m_finalPath(std::move(other.m_finalPath)), m_tempPath(std::move(other.m_tempPath)),
      m_stream(other.m_stream), m_error(other.m_error) {
    other.m_stream = nullptr;
    other.m_tempPath.clear();
}

PendingFile::~PendingFile() { discard(); }

bool PendingFile::write(std::span<const std::uint8_t> bytes) {
    if (!m_stream) return false;
    if (bytes.empty()) return true;
    if (std::fwrite(bytes.data(), 1, bytes.size(), m_stream) != bytes.size()) {
        m_error = errno ? errno : EIO;
        t_lastError = m_error;
        return false;
    }
    return true;
}

bool PendingFile::commit(Overwrite mode) {
    if (!m_stream) {
        if (!m_error) m_error = EBADF;
        t_lastError = m_error;
        return false;
    }
    errno = 0;
    const bool flushed = std::fflush(m_stream) == 0 && !std::ferror(m_stream);
    int error = flushed ? 0 : (errno ? errno : EIO);
    if (std::fclose(m_stream) != 0 && !error) error = errno ? errno : EIO;
    m_stream = nullptr;
    if (!error) {
        // The temporary file was created 0600; give it the permissions a new file would get.
        (void)setDefaultPermissions(m_tempPath);
        if (renameWith(m_tempPath, m_finalPath, mode)) {
            m_tempPath.clear();
            return true;
        }
        error = t_lastError;
    }
    m_error = error;
    t_lastError = error;
    ::unlink(m_tempPath.c_str());
    m_tempPath.clear();
    return false;
}

void PendingFile::discard() {
    if (m_stream) {
        std::fclose(m_stream);
        m_stream = nullptr;
    }
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         Overwrite mode) {
    PendingFile file(path);
    if (!file.ok()) return fail(file.error());
    if (!file.write(bytes) || !file.commit(mode)) return fail(file.error());
    return true;
}

// --- Process -----------------------------------------------------------------------------------

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) ::close(m_fd);
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

std::string InstanceLock::lockFilePath(const std::string& programName) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && isDirectory(runtime))
        return withTrailingSeparator(runtime) + programName + ".lock";
    return tempDirectory() + programName + "-" + std::to_string(::getuid()) + ".lock";
}

std::optional<InstanceLock> InstanceLock::acquire(const std::string& programName) {
    const std::string path = lockFilePath(programName);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // Without a lock file there is nothing to compare with: let this instance run.
        fail();
        return InstanceLock{};
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    InstanceLock lock;
    lock.m_fd = fd;
    return lock;
}

std::string defaultUiLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (!v || !*v) continue;
        std::string tag;
        for (const char* p = v; *p && *p != '_' && *p != '-' && *p != '.' && *p != '@'; ++p)
            tag += char(std::tolower(static_cast<unsigned char>(*p)));
        return tag;
    }
    return {};
}

namespace {
std::mutex g_consoleMutex;
void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(std::size_t(n));
    }
}
} // namespace

void consolePrint(std::string_view text, bool newline) {
    std::lock_guard lock(g_consoleMutex);
    writeAll(STDOUT_FILENO, text);
    if (newline) writeAll(STDOUT_FILENO, "\n");
}

void errorPrint(std::string_view text, bool newline) {
    std::lock_guard lock(g_consoleMutex);
    writeAll(STDERR_FILENO, text);
    if (newline) writeAll(STDERR_FILENO, "\n");
}

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void lowerCurrentThreadPriority() {
    // Linux applies nice values per thread; best effort.
    errno = 0;
    (void)::nice(1);
}

} // namespace quill::platform
