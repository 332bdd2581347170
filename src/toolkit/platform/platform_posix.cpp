// The platform layer on POSIX (Linux): files, dates, directories, the instance lock, console.
#include "toolkit/platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "toolkit/ascii.h"
#include "toolkit/file_name_order.h"
#include "toolkit/utf8.h"

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

std::string homeDirectory() {
    return envOr("HOME", "/");
}

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
        if (value.rfind("$HOME", 0) == 0)
            value = home + value.substr(value.size() > 5 && value[5] == '/' ? 6 : 5);
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

std::atomic<unsigned> g_noReplaceMethods{3};

/// The process umask, read without changing it (changing it races every other thread's file
/// creation).
mode_t processUmask() {
    static const mode_t mask = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("Umask:", 0) == 0)
                return mode_t(std::strtoul(line.c_str() + 6, nullptr, 8));
        }
        const mode_t old = ::umask(022); // no /proc: read it once, at first use
        ::umask(old);
        return old;
    }();
    return mask;
}

bool changeMode(const std::string& path, mode_t mode) {
    return ::fchmodat(AT_FDCWD, path.c_str(), mode & 07777, AT_SYMLINK_NOFOLLOW) == 0 || fail();
}

std::int64_t nanoseconds(const struct timespec& t) {
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileStamp stampOf(const struct stat& st) {
    return {.identity = {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), S_ISLNK(st.st_mode)},
            .size = std::uint64_t(st.st_size),
            .modifiedNs = nanoseconds(st.st_mtim),
            .changedNs = nanoseconds(st.st_ctim)};
}

bool renameWith(const std::string& from, const std::string& to, Overwrite mode) {
    if (mode == Overwrite::FailIfExists) return renameNoReplace(from, to);
    if (::rename(from.c_str(), to.c_str()) != 0) return fail();
    return true;
}

/// A random hex word for temporary names.
std::string randomWord() {
    std::uint64_t value = 0;
    if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != ssize_t(sizeof value)) {
        static std::atomic<std::uint64_t> counter{0};
        value = std::uint64_t(::getpid()) * 0x9E3779B97F4A7C15ull ^
                std::uint64_t(std::time(nullptr)) ^ (++counter << 20);
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// A temporary name is "." + the first kTemporaryBaseBytes bytes (at least one) of the final
// name + "." + 16 lowercase hex digits + ".tmp". temporaryName makes it and isTemporaryName
// recognises it; they sit together so that the two cannot drift apart.
constexpr std::size_t kTemporaryBaseBytes = 200;
constexpr std::size_t kTemporaryRandomDigits = 16;
constexpr std::string_view kTemporarySuffix = ".tmp";

/// The temporary name for a final file name and a random word of kTemporaryRandomDigits digits.
std::string temporaryName(std::string_view finalName, std::string_view random) {
    // Names are limited to 255 bytes: the hidden prefix, the random part and ".tmp" need 22.
    // Appended piece by piece: GCC 12 at -O3 takes `"." + std::string` for an overlapping copy
    // (-Wrestrict, GCC bug 105329).
    std::string name;
    const std::string_view base = finalName.substr(0, kTemporaryBaseBytes);
    name.reserve(base.size() + random.size() + kTemporarySuffix.size() + 2);
    name += '.';
    name += base;
    name += '.';
    name += random;
    name += kTemporarySuffix;
    return name;
}

/// Opens a new hidden temporary file beside `finalPath`; -1 on failure (errno set).
int createTemporary(const std::string& finalPath, std::string& tempPath) {
    const std::string dir = directoryPart(finalPath);
    const std::string name = filePart(finalPath);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = dir + temporaryName(name, randomWord());
        // 0666 less the umask: the permissions any new file gets.
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

/// Removes a temporary file; a file left behind is reported, since nobody else will see it.
bool removeTemporary(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    const int e = errno;
    errorPrint("Could not remove the temporary file " + path + ": " + std::strerror(e));
    return fail(e);
}

} // namespace

bool isTemporaryName(std::string_view name) {
    constexpr std::size_t fixed = 1 + 1 + kTemporaryRandomDigits + kTemporarySuffix.size();
    if (name.size() < fixed + 1 || name.size() > fixed + kTemporaryBaseBytes) return false;
    if (name.front() != '.' || !name.ends_with(kTemporarySuffix)) return false;
    const std::size_t digits = name.size() - kTemporarySuffix.size() - kTemporaryRandomDigits;
    if (name[digits - 1] != '.') return false;
    for (char c : name.substr(digits, kTemporaryRandomDigits))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    // The part taken from the final name is a file name: no separator, no NUL.
    const std::string_view base = name.substr(1, digits - 2);
    return base.find('/') == std::string_view::npos && base.find('\0') == std::string_view::npos;
}

std::size_t removeLeftoverTemporaries(const std::string& dir) {
    // Links in the folder's own path are followed like every write of a run follows them; the
    // entries inside are looked at and removed through the folder's descriptor, never followed.
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        fail();
        return 0;
    }
    const int listFd = ::dup(fd);
    DIR* d = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!d) {
        if (listFd >= 0) ::close(listFd);
        ::close(fd);
        fail();
        return 0;
    }
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(d))
        if (isTemporaryName(e->d_name)) names.emplace_back(e->d_name);
    ::closedir(d);
    std::size_t removed = 0;
    const uid_t self = ::geteuid();
    for (const std::string& name : names) {
        struct stat st {};
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        // Only a plain file of this user: a link, a folder or another user's file that happens
        // to look like one of ours is not ours to remove.
        if (!S_ISREG(st.st_mode) || st.st_uid != self) continue;
        if (::unlinkat(fd, name.c_str(), 0) == 0) ++removed;
    }
    if (removed > 0) (void)::fsync(fd);
    ::close(fd);
    return removed;
}

bool renameNoReplace(const std::string& from, const std::string& to) {
    const unsigned methods = g_noReplaceMethods.load();
    if (methods & 1) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return fail();
    }
    if (methods & 2) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            // The new name is in place; the old one must go, or the file has two names.
            if (::unlink(from.c_str()) != 0) {
                const int e = errno;
                ::unlink(to.c_str());
                return fail(e);
            }
            return true;
        }
        if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
            return fail();
    }
    // No hard links (FAT, exFAT): claim the name with an exclusively created placeholder, then
    // let the rename replace the placeholder, which is ours.
    const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return fail();
    ::close(fd);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int e = errno;
        ::unlink(to.c_str());
        return fail(e);
    }
    return true;
}

bool syncDirectory(const std::string& dir) {
    const std::string path = dir.empty() ? std::string(".") : dir;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return fail();
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    const int e = errno;
    ::close(fd);
    return ok || fail(e);
}

namespace {
std::atomic<detail::ReadFault> g_readFault{nullptr};

// The error a test's read fault gives this step; 0 when none.
int injectedReadError(const std::string& path, ReadStep step) {
    const detail::ReadFault fault = g_readFault.load();
    return fault != nullptr ? fault(path, step) : 0;
}
} // namespace

namespace detail {
void setNoReplaceMethods(unsigned methods) {
    g_noReplaceMethods.store(methods);
}
void setReadFault(ReadFault fault) {
    g_readFault.store(fault);
}
} // namespace detail

// --- Directories -------------------------------------------------------------------------------

std::string withTrailingSeparator(std::string dir) {
    if (!dir.empty() && dir.back() != kSeparator) dir += kSeparator;
    return dir;
}

std::string normalisePath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    std::size_t i = 0;
    while (i < path.size()) {
        if (path[i] == kSeparator) {
            if (out.empty() || out.back() != kSeparator) out += kSeparator;
            ++i;
            continue;
        }
        const std::size_t end = std::min(path.find(kSeparator, i), path.size());
        const std::string_view segment = path.substr(i, end - i);
        // "." names the folder it is in: drop it with its separator, unless it is all there is.
        if (segment == "." && (end < path.size() || !out.empty())) {
            i = end + 1;
            continue;
        }
        out += segment;
        i = end;
    }
    return out;
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

std::string tempDirectory() {
    return withTrailingSeparator(envOr("TMPDIR", "/tmp"));
}

std::string appDataDirectory() {
    return withTrailingSeparator(
        envOr("XDG_CONFIG_HOME", withTrailingSeparator(homeDirectory()) + ".config"));
}

std::string desktopDirectory() {
    return xdgUserDir("XDG_DESKTOP_DIR", "Desktop");
}

std::string documentsDirectory() {
    return xdgUserDir("XDG_DOCUMENTS_DIR", "Documents");
}

std::string currentDirectory() {
    std::string buffer(4096, '\0');
    if (!::getcwd(buffer.data(), buffer.size())) {
        fail();
        return {};
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return withTrailingSeparator(buffer);
}

bool setCurrentDirectory(const std::string& dir) {
    return ::chdir(dir.c_str()) == 0 || fail();
}

std::optional<std::string> resolvedPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) {
        fail();
        return std::nullopt;
    }
    std::string out(resolved);
    std::free(resolved);
    return out;
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
    std::string name =
        filePart(path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path);
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
    if (::lstat(path.c_str(), &st) != 0) {
        fail();
        return std::nullopt;
    }
    return FileIdentity{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), S_ISLNK(st.st_mode)};
}

std::optional<FileStamp> fileStamp(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        fail();
        return std::nullopt;
    }
    return stampOf(st);
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
    return changeMode(target, st.st_mode);
}

bool setPermissions(const std::string& path, std::uint32_t mode) {
    return changeMode(path, mode_t(mode));
}

bool setDefaultPermissions(const std::string& path) {
    return changeMode(path, 0666 & ~processUmask());
}

bool clearReadOnly(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return fail();
    if (S_ISLNK(st.st_mode)) return fail(EOPNOTSUPP);
    return changeMode(path, (st.st_mode & 07777) | S_IWUSR);
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
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 || fail();
}

// --- Files and directories ---------------------------------------------------------------------

bool copyFile(const std::string& from, CommitTarget& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) return fail();
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int e = errno ? errno : EINVAL;
        ::close(in);
        return fail(S_ISREG(st.st_mode) ? e : EINVAL);
    }
    PendingFile out(to.path);
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
    // A copy is the same file in another place: same permission bits, same last-write time.
    if (!out.setMode(st.st_mode) || !out.setModifiedTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec))
        return fail(out.error());
    if (!out.commit(to)) return fail(out.error());
    return true;
}

bool copyFile(const std::string& from, const std::string& to, Overwrite mode) {
    CommitTarget target{.path = to, .mode = mode};
    return copyFile(from, target);
}

bool moveFile(const std::string& from, CommitTarget& to) {
    for (;;) {
        if (renameWith(from, to.path, to.mode)) {
            // The move is done only once both folders' entries are on the disk.
            if (!syncDirectory(directoryPart(to.path))) return false;
            return directoryPart(to.path) == directoryPart(from) ||
                   syncDirectory(directoryPart(from));
        }
        if (t_lastError == EEXIST && to.mode == Overwrite::FailIfExists && to.onExists &&
            to.onExists(to))
            continue;
        if (t_lastError != EXDEV) return false;
        break;
    }
    // Another file system: the copy is complete and flushed before the source goes, and the
    // source goes only when it is still the file that was copied.
    const auto before = fileIdentity(from);
    if (!copyFile(from, to)) return false;
    if (fileIdentity(from) != before) return fail(ESTALE);
    if (!deleteFile(from)) return false;
    return syncDirectory(directoryPart(from));
}

bool moveFile(const std::string& from, const std::string& to, Overwrite mode) {
    CommitTarget target{.path = to, .mode = mode};
    return moveFile(from, target);
}

bool deleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || fail();
}

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

bool removeFilesAndEmptyFolder(const std::string& dir, const std::vector<std::string>& names) {
    std::string folder = dir;
    while (folder.size() > 1 && folder.back() == kSeparator)
        folder.pop_back();
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return errno == ENOENT || fail();
    if (!S_ISDIR(st.st_mode)) {
        // A link (or any other entry) in place of the folder: at most the entry itself goes.
        if (!S_ISLNK(st.st_mode)) return fail(ENOTDIR);
        return ::unlink(folder.c_str()) == 0 || fail();
    }
    // Work through a descriptor of the folder itself, so that a swap of the folder for a link
    // after the check above cannot redirect the removals.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return fail();
    bool allGone = true;
    for (const std::string& name : names) {
        struct stat entry {};
        if (::fstatat(fd, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(entry.st_mode) || ::unlinkat(fd, name.c_str(), 0) != 0) allGone = false;
    }
    ::close(fd);
    // Fails with ENOTEMPTY when the user keeps something of their own in the folder.
    (void)::rmdir(folder.c_str());
    return allGone || fail(EEXIST);
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
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
        return toolkit::fileNameLess(a.name, b.name);
    });
    return entries;
}

std::optional<InputFile> InputFile::open(const std::string& path) {
    // Only a regular file is opened: a FIFO would block the open for ever, a device could
    // deliver endless bytes. O_NONBLOCK covers a file swapped for a FIFO after the check.
    errno = 0;
    if (!isRegularFile(path)) {
        fail(errno ? errno : EINVAL);
        return std::nullopt;
    }
    if (const int injected = injectedReadError(path, ReadStep::Open)) {
        fail(injected);
        return std::nullopt;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        fail();
        return std::nullopt;
    }
    struct stat st {};
    const bool statted = ::fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        const int error = statted ? EINVAL : errno;
        ::close(fd);
        fail(error);
        return std::nullopt;
    }
    return InputFile(fd, stampOf(st), path);
}

InputFile::InputFile(int fd, const FileStamp& stamp, std::string path)
    : m_fd(fd), m_stamp(stamp), m_path(std::move(path)) {}

InputFile::~InputFile() {
    if (m_fd >= 0) ::close(m_fd);
}

InputFile::InputFile(InputFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_stamp(other.m_stamp), m_path(std::move(other.m_path)) {
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_stamp = other.m_stamp;
        m_path = std::move(other.m_path);
    }
    return *this;
}

std::optional<std::size_t> InputFile::readAt(std::uint64_t offset, std::span<std::uint8_t> into) {
    std::size_t done = 0;
    while (done < into.size()) {
        if (const int injected = injectedReadError(m_path, ReadStep::Read)) {
            fail(injected);
            return std::nullopt;
        }
        const ssize_t n =
            ::pread(m_fd, into.data() + done, into.size() - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            fail();
            return std::nullopt;
        }
        if (n == 0) break; // the end of the file
        done += std::size_t(n);
    }
    return done;
}

std::optional<std::vector<std::uint8_t>> readFile(const std::string& path, std::uint64_t maxBytes,
                                                  FileStamp* stamp) {
    auto file = InputFile::open(path);
    if (!file) return std::nullopt;
    if (stamp) *stamp = file->stamp();
    if (file->size() > maxBytes) {
        fail(EFBIG);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(std::size_t(file->size()));
    const auto read = file->readAt(0, bytes);
    if (!read) return std::nullopt;
    bytes.resize(*read); // a file that shrank while being read yields what was there
    return bytes;
}

int lastError() {
    return t_lastError;
}

bool isReadError(int error) {
    return error != 0 && error != ENOENT && error != ENOTDIR && error != EFBIG && error != EINVAL;
}

bool isDiskFull(int error) {
    return error == ENOSPC || error == EDQUOT;
}

// --- PendingFile -------------------------------------------------------------------------------

PendingFile::PendingFile(std::string finalPath) : m_finalPath(std::move(finalPath)) {
    const int fd = createTemporary(m_finalPath, m_tempPath);
    if (fd < 0) {
        m_error = errno;
        t_lastError = m_error;
        m_tempPath.clear();
        return;
    }
    m_stream = ::fdopen(fd, "wb");
    if (!m_stream) {
        m_error = errno;
        t_lastError = m_error;
        ::close(fd);
        (void)removeTemporary(m_tempPath);
        m_tempPath.clear();
    }
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : m_finalPath(std::move(other.m_finalPath)), m_tempPath(std::move(other.m_tempPath)),
      m_stream(other.m_stream), m_error(other.m_error) {
    other.m_stream = nullptr;
    other.m_tempPath.clear();
}

PendingFile::~PendingFile() {
    (void)discard();
}

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

bool PendingFile::setMode(std::uint32_t mode) {
    if (!m_stream) return false;
    if (::fchmod(::fileno(m_stream), mode_t(mode & 07777)) == 0) return true;
    m_error = errno;
    return fail(m_error);
}

bool PendingFile::setModifiedTime(std::int64_t utcSeconds, long nanoseconds) {
    if (!m_stream) return false;
    // Buffered bytes written later would move the time again.
    if (std::fflush(m_stream) != 0) {
        m_error = errno ? errno : EIO;
        return fail(m_error);
    }
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(utcSeconds);
    times[1].tv_nsec = nanoseconds;
    if (::futimens(::fileno(m_stream), times) == 0) return true;
    m_error = errno;
    return fail(m_error);
}

bool PendingFile::commit(Overwrite mode) {
    CommitTarget target{.path = m_finalPath, .mode = mode};
    return commit(target);
}

bool PendingFile::commit(CommitTarget& target) {
    if (!m_stream) {
        if (!m_error) m_error = EBADF;
        t_lastError = m_error;
        return false;
    }
    errno = 0;
    // The bytes reach the disk before the name does, so a power loss never leaves an empty or
    // partial file under the final name.
    const bool flushed =
        std::fflush(m_stream) == 0 && !std::ferror(m_stream) && ::fsync(::fileno(m_stream)) == 0;
    int error = flushed ? 0 : (errno ? errno : EIO);
    if (std::fclose(m_stream) != 0 && !error) error = errno ? errno : EIO;
    m_stream = nullptr;
    while (!error) {
        if (target.mode == Overwrite::Replace && target.mayReplace && !target.mayReplace(target)) {
            error = ESTALE;
            break;
        }
        if (renameWith(m_tempPath, target.path, target.mode)) {
            m_tempPath.clear();
            m_finalPath = target.path;
            // Without its directory entry on the disk the file is not yet safely there.
            if (syncDirectory(directoryPart(target.path))) return true;
            m_error = t_lastError;
            return false;
        }
        error = t_lastError;
        if (error == EEXIST && target.mode == Overwrite::FailIfExists && target.onExists &&
            target.onExists(target))
            error = 0;
    }
    m_error = error;
    t_lastError = error;
    (void)removeTemporary(m_tempPath);
    m_tempPath.clear();
    t_lastError = error;
    return false;
}

bool PendingFile::discard() {
    if (m_stream) {
        std::fclose(m_stream);
        m_stream = nullptr;
    }
    bool removed = true;
    if (!m_tempPath.empty()) {
        removed = removeTemporary(m_tempPath);
        m_tempPath.clear();
    }
    return removed;
}

bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         Overwrite mode) {
    CommitTarget target{.path = path, .mode = mode};
    return writeFileAtomically(target, bytes);
}

bool writeFileAtomically(CommitTarget& target, std::span<const std::uint8_t> bytes) {
    PendingFile file(target.path);
    if (!file.ok()) return fail(file.error());
    if (!file.write(bytes) || !file.commit(target)) return fail(file.error());
    return true;
}

// --- Process -----------------------------------------------------------------------------------

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) ::close(m_fd);
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

std::string InstanceLock::lockFolder(const std::string& programName) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && isDirectory(runtime))
        return withTrailingSeparator(runtime) + programName + "/";
    return tempDirectory() + programName + "-" + std::to_string(::getuid()) + "/";
}

std::string InstanceLock::lockFilePath(const std::string& programName) {
    return lockFolder(programName) + programName + ".lock";
}

std::optional<InstanceLock> InstanceLock::acquire(const std::string& programName,
                                                  std::string* unusable) {
    const std::string folder = lockFolder(programName);
    const std::string folderName = folder.substr(0, folder.size() - 1);
    const auto refuse = [&](const std::string& why) -> std::optional<InstanceLock> {
        if (unusable) *unusable = "The lock folder " + folderName + " " + why;
        return std::nullopt;
    };
    if (::mkdir(folderName.c_str(), 0700) != 0 && errno != EEXIST) {
        // Nowhere to keep a lock (no temp directory, a read-only one): nothing to compare with,
        // and nobody else can hold it either, so this instance runs.
        fail();
        return InstanceLock{};
    }
    const int dirFd = ::open(folderName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) {
        const int e = errno;
        fail(e);
        if (e == ELOOP || e == ENOTDIR)
            return refuse("is not a folder of ours (a link or a file).");
        return refuse(std::string("cannot be opened: ") + std::strerror(e) + ".");
    }
    struct stat st {};
    if (::fstat(dirFd, &st) != 0 || st.st_uid != ::geteuid()) {
        ::close(dirFd);
        return refuse("belongs to another user.");
    }
    // Ours but opened up (created by hand, or by an older version): only we may look inside.
    if ((st.st_mode & 077) != 0 && ::fchmod(dirFd, 0700) != 0) {
        ::close(dirFd);
        return refuse("cannot be made private to this user.");
    }
    const std::string fileName = programName + ".lock";
    const int fd =
        ::openat(dirFd, fileName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    ::close(dirFd);
    if (fd < 0) {
        const int e = errno;
        fail(e);
        return refuse(std::string("holds a lock file that cannot be used: ") + std::strerror(e) +
                      ".");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    InstanceLock lock;
    lock.m_fd = fd;
    return lock;
}

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int> g_stopSignal{0};
/// The self-pipe between the handler and the watcher: made once and never closed, so that a
/// handler running late can never write into a descriptor that was reused meanwhile.
int g_stopPipe[2] = {-1, -1};
struct sigaction g_previousActions[std::size(kStopSignals)];
/// Which of kStopSignals are caught (bit i for kStopSignals[i]); written before the handler is
/// installed and while it is not.
std::atomic<unsigned> g_caughtSignals{0};

void setStopActions(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // the run's own calls go on; the watcher stops it
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        if (g_caughtSignals.load() & (1u << i))
            (void)::sigaction(kStopSignals[i], &action, nullptr);
}

/// Async-signal-safe: atomics, write and sigaction only.
extern "C" void onStopSignal(int signal) {
    const int savedErrno = errno;
    int none = 0;
    if (g_stopSignal.compare_exchange_strong(none, signal)) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        (void)!::write(g_stopPipe[1], &byte, 1);
    }
    setStopActions(SIG_DFL);
    errno = savedErrno;
}

bool makeStopPipe() {
    if (::pipe2(g_stopPipe, O_CLOEXEC) != 0) return false;
    // The handler must never block, however full the pipe.
    return ::fcntl(g_stopPipe[1], F_SETFL, O_NONBLOCK) == 0;
}

} // namespace

StopSignals::StopSignals(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
    static const bool pipeMade = makeStopPipe();
    if (!pipeMade) return; // no pipe, no handler: the signals keep their default action
    g_stopSignal.store(0);
    m_watcher = std::thread([this] {
        for (;;) {
            unsigned char byte = 0;
            const ssize_t n = ::read(g_stopPipe[0], &byte, 1);
            if (n < 0 && errno == EINTR) continue;
            // A zero byte is the destructor's wake-up: no signal has the number 0.
            if (n != 1 || byte == 0) return;
            // A byte a late handler of an earlier object left in the pipe is no signal for us.
            if (g_stopSignal.load() != byte) continue;
            if (m_onSignal) m_onSignal(byte);
        }
    });
    // A signal ignored when the program started (nohup, a background job of a script) stays
    // ignored, as whoever started the program asked.
    unsigned caught = 0;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        (void)::sigaction(kStopSignals[i], nullptr, &g_previousActions[i]);
        if (g_previousActions[i].sa_handler != SIG_IGN) caught |= 1u << i;
    }
    g_caughtSignals.store(caught);
    setStopActions(&onStopSignal);
    m_installed = true;
}

StopSignals::~StopSignals() {
    if (!m_installed) return;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        if (g_caughtSignals.load() & (1u << i))
            (void)::sigaction(kStopSignals[i], &g_previousActions[i], nullptr);
    // Wake the watcher with a zero byte. A failed write is tried again (an interrupted or
    // transient failure passes, a full pipe drains as the watcher reads); should it never get
    // through, the watcher is left blocked rather than the program's exit hung on it: with the
    // handlers restored, nothing writes to the pipe any more.
    const unsigned char wake = 0;
    bool woken = false;
    for (int attempt = 0; attempt < 100 && !woken; ++attempt) {
        woken = ::write(g_stopPipe[1], &wake, 1) == 1;
        if (!woken) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (woken)
        m_watcher.join();
    else
        m_watcher.detach();
}

int StopSignals::received() {
    return g_stopSignal.load();
}

std::string StopSignals::signalName(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "signal " + std::to_string(signal);
    }
}

std::string defaultUiLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (!v || !*v) continue;
        std::string tag;
        for (const char* p = v; *p && *p != '_' && *p != '-' && *p != '.' && *p != '@'; ++p)
            tag += toolkit::toLowerAscii(*p);
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

std::string printableOnConsole(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            const bool control = (lead < 0x20 && lead != '\n') || lead == 0x7F;
            out.push_back(control ? '?' : char(lead));
            ++i;
            continue;
        }
        const toolkit::Utf8Char c = toolkit::decodeUtf8At(text, i);
        if (c.length == 0) {
            out.push_back('?');
            ++i;
            continue;
        }
        if (c.code >= 0x80 && c.code <= 0x9F)
            out.push_back('?'); // C1 controls, such as the one-character CSI U+009B
        else
            out.append(text.substr(i, c.length));
        i += c.length;
    }
    return out;
}

namespace {
void printTo(int fd, std::string_view text, std::string_view end) {
    const std::string printable = printableOnConsole(text);
    std::lock_guard lock(g_consoleMutex);
    writeAll(fd, printable);
    if (!end.empty()) writeAll(fd, end);
}
} // namespace

namespace {
std::atomic<bool> g_dataOnStdout{false};
} // namespace

void consolePrint(std::string_view text) {
    printTo(g_dataOnStdout.load() ? STDERR_FILENO : STDOUT_FILENO, text, "\n");
}

void reserveStandardOutputForData() {
    g_dataOnStdout.store(true);
}

void dataPrint(std::string_view line) {
    std::lock_guard lock(g_consoleMutex);
    writeAll(STDOUT_FILENO, line);
    writeAll(STDOUT_FILENO, "\n");
}

void errorPrint(std::string_view text) {
    printTo(STDERR_FILENO, text, "\n");
}

void errorPrintStatus(std::string_view text) {
    printTo(STDERR_FILENO, text, {});
}

void errorPrintControl(std::string_view sequence) {
    std::lock_guard lock(g_consoleMutex);
    writeAll(STDERR_FILENO, sequence);
}

bool stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

bool stdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

void lowerCurrentThreadPriority() {
    // Linux applies nice values per thread; best effort.
    // nice() returns the new value, which may be -1: only errno tells a failure, and on failure
    // the thread simply keeps its priority.
    errno = 0;
    if (::nice(1) == -1 && errno != 0) return;
}

} // namespace quill::platform
