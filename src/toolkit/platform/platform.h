// The platform layer: every operating-system service the program uses, as small free functions.
// Paths are byte strings exactly as the file system gives them; directory strings end with "/".
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quill::platform {

inline constexpr char kSeparator = '/';

/// Windows-style attribute bits, synthesised from POSIX file metadata.
enum Attribute : std::uint32_t {
    AttrReadOnly = 0x01,  ///< the owner has no write permission
    AttrHidden = 0x02,    ///< the file name begins with "."
    AttrSystem = 0x04,    ///< never set on POSIX
    AttrDirectory = 0x10, ///< a directory
    AttrArchive = 0x20,   ///< a regular file
    AttrNormal = 0x80,    ///< no other bit set
};

// --- Directories -------------------------------------------------------------------------------

/// Appends "/" when the text does not end with one (an empty text stays empty).
[[nodiscard]] std::string withTrailingSeparator(std::string dir);
/// The path with "//" and "/./" collapsed (and a leading "./" or trailing "/." dropped), so that
/// one file has one spelling. ".." is kept: folding it away is wrong when a link precedes it.
[[nodiscard]] std::string normalisePath(std::string_view path);
/// Directory part of a path including the final "/" ("" when there is none).
[[nodiscard]] std::string directoryPart(std::string_view path);
/// File part of a path (everything after the last "/").
[[nodiscard]] std::string filePart(std::string_view path);
/// Directory of the running executable (from /proc/self/exe), with trailing "/".
[[nodiscard]] std::string programDirectory();
/// $TMPDIR, else /tmp, with trailing "/".
[[nodiscard]] std::string tempDirectory();
/// Per-user application-data folder: $XDG_CONFIG_HOME, else ~/.config, with trailing "/".
[[nodiscard]] std::string appDataDirectory();
/// The user's desktop folder (XDG_DESKTOP_DIR from user-dirs.dirs, else ~/Desktop), trailing "/".
[[nodiscard]] std::string desktopDirectory();
/// The user's documents folder (XDG_DOCUMENTS_DIR, else ~/Documents), trailing "/".
[[nodiscard]] std::string documentsDirectory();
/// Current working directory with trailing "/"; "" when it cannot be read (for example because
/// it was deleted).
[[nodiscard]] std::string currentDirectory();
[[nodiscard]] bool setCurrentDirectory(const std::string& dir);
/// The absolute path with every link, "." and ".." resolved as the file system does; nullopt when
/// some level does not exist or cannot be searched.
[[nodiscard]] std::optional<std::string> resolvedPath(const std::string& path);

// --- File metadata -----------------------------------------------------------------------------

struct FileInfo {
    bool isDirectory = false;
    std::uint64_t size = 0;
    std::uint32_t attributes = 0;  ///< Attribute bits
    std::int64_t createdDate = 0;  ///< local-time seconds (birth time, else modification time)
    std::int64_t modifiedDate = 0; ///< local-time seconds
    std::int64_t accessedDate = 0; ///< local-time seconds
    std::uint32_t mode = 0;        ///< POSIX permission bits
};

/// Which file a path names: device and inode of the entry itself (a link is not followed; a
/// path ending in "/" names the directory a link leads to).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool isLink = false;
    bool operator==(const FileIdentity&) const = default;
};
[[nodiscard]] std::optional<FileIdentity> fileIdentity(const std::string& path);

/// A file as it was at one moment: which file (device and inode) and what changes whenever its
/// bytes, its name or its metadata change (size, modification and change time to the
/// nanosecond). A path that gives the same stamp later still names the same, unchanged file.
struct FileStamp {
    FileIdentity identity;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0; ///< modification time, nanoseconds since 1970 (UTC)
    std::int64_t changedNs = 0;  ///< status change time, nanoseconds since 1970 (UTC)
    bool operator==(const FileStamp&) const = default;
};
/// The stamp of the entry `path` names (a link is not followed).
[[nodiscard]] std::optional<FileStamp> fileStamp(const std::string& path);

/// Metadata of a file or directory (links followed); nullopt when it does not exist.
[[nodiscard]] std::optional<FileInfo> fileInfo(const std::string& path);
[[nodiscard]] bool fileExists(const std::string& path); ///< any kind of entry
[[nodiscard]] bool isDirectory(const std::string& path);
[[nodiscard]] bool isRegularFile(const std::string& path);

// Permission changes act on the path itself: on a symbolic link they fail (EOPNOTSUPP) instead
// of changing the file the link points to.

/// Gives `target` the permission bits of `source`.
[[nodiscard]] bool copyPermissions(const std::string& source, const std::string& target);
/// Sets the permission bits of `path` (as FileInfo::mode holds them).
[[nodiscard]] bool setPermissions(const std::string& path, std::uint32_t mode);
/// Gives `path` the default permissions of a new file (0666 less the umask).
[[nodiscard]] bool setDefaultPermissions(const std::string& path);
/// Adds owner write permission (clears the read-only attribute).
[[nodiscard]] bool clearReadOnly(const std::string& path);

// --- Dates -------------------------------------------------------------------------------------
// A "local date" is the local wall-clock time counted as seconds since 1970-01-01 00:00 as if it
// were UTC. 64-bit throughout, so dates after 2038 work.

[[nodiscard]] std::int64_t localFromUtc(std::int64_t utcSeconds);
[[nodiscard]] std::int64_t utcFromLocal(std::int64_t localSeconds);
/// Sets modification and access times from local dates; the creation date cannot be set on
/// Linux and is ignored. A nullopt leaves that time unchanged. A link gets its own times; the
/// file it points to is never changed.
[[nodiscard]] bool setFileDates(const std::string& path, std::optional<std::int64_t> modifiedLocal,
                                std::optional<std::int64_t> accessedLocal);

// --- Files and directories ---------------------------------------------------------------------

enum class Overwrite { Replace, FailIfExists };

/// Where a new file goes and whether it may replace a file of that name. With FailIfExists a
/// name that is taken (by another run, another worker, or a file that appeared meanwhile) is
/// handed to `onExists`, which may choose another path in the same directory or the Replace
/// mode and return true to try again; without it, or when it returns false, the commit fails
/// with EEXIST and nothing is replaced. `mayReplace`, when set, is asked right before a rename
/// in Replace mode; when it returns false the commit fails with ESTALE and nothing is replaced.
struct CommitTarget {
    std::string path;
    Overwrite mode = Overwrite::Replace;
    std::function<bool(CommitTarget&)> onExists = {};
    std::function<bool(const CommitTarget&)> mayReplace = {};
};

/// Copies a file's bytes (through a temporary file in the target directory, renamed at the end).
/// The copy keeps the source's permission bits and modification time.
[[nodiscard]] bool copyFile(const std::string& from, CommitTarget& to);
[[nodiscard]] bool copyFile(const std::string& from, const std::string& to, Overwrite mode);
/// Moves a file; across file systems it copies completely (permission bits and modification
/// time kept) and flushes the copy before it removes the source. Both folders are flushed after
/// the move; a failed flush fails the move (the file may then already stand under its new name).
[[nodiscard]] bool moveFile(const std::string& from, CommitTarget& to);
[[nodiscard]] bool moveFile(const std::string& from, const std::string& to, Overwrite mode);
[[nodiscard]] bool deleteFile(const std::string& path);
/// Creates one directory level; true when it exists afterwards.
[[nodiscard]] bool createDirectory(const std::string& path);
/// Creates every missing level; true when it exists afterwards.
[[nodiscard]] bool createDirectories(const std::string& path);
/// Removes a directory with everything in it; true when it is gone afterwards.
[[nodiscard]] bool removeDirectoryTree(const std::string& path);
/// Removes the entries `names` of the folder `dir` that are not folders, then `dir` itself when
/// it is empty afterwards. Links are never followed: a link named `dir` is removed as a link and
/// its target left alone, a link among `names` is removed without its target. Anything else in
/// the folder stays, and so does the folder then. True when none of `names` is left.
[[nodiscard]] bool removeFilesAndEmptyFolder(const std::string& dir,
                                             const std::vector<std::string>& names);

struct DirEntry {
    std::string name; ///< the entry's name, without directory
    bool isDirectory = false;
};
/// The entries of a directory except "." and "..", sorted by name as toolkit::fileNameLess
/// orders them (case-insensitive by code point, the order the reference file system keeps), not
/// in the order readdir gives them, which is hash order on ext4 and would make every walk and
/// every numbering depend on the file system. nullopt when the directory cannot be read.
[[nodiscard]] std::optional<std::vector<DirEntry>> listDirectory(const std::string& dir);

/// Reads a whole file; nullopt when it cannot be read or is larger than maxBytes. lastError()
/// then says why: EINVAL for anything but a regular file, EFBIG for a file over maxBytes, else
/// the error of the open or of a read (a read error never passes as a shorter file). `stamp`,
/// when given, receives the stamp of the file that was opened, taken from its descriptor before
/// the bytes were read (a file rewritten while it is read then no longer matches it).
[[nodiscard]] std::optional<std::vector<std::uint8_t>>
readFile(const std::string& path, std::uint64_t maxBytes, FileStamp* stamp = nullptr);

/// A regular file opened for reading at any position. Every failure sets lastError().
class InputFile {
public:
    /// Opens a regular file; anything else (a folder, a FIFO, a device) is refused with EINVAL.
    [[nodiscard]] static std::optional<InputFile> open(const std::string& path);
    ~InputFile();
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    /// The file's size when it was opened.
    [[nodiscard]] std::uint64_t size() const { return m_stamp.size; }
    /// The file as it was when it was opened.
    [[nodiscard]] const FileStamp& stamp() const { return m_stamp; }
    /// Reads up to `into.size()` bytes from `offset`: the count read, less only at the end of the
    /// file; nullopt when a read failed.
    [[nodiscard]] std::optional<std::size_t> readAt(std::uint64_t offset,
                                                    std::span<std::uint8_t> into);

private:
    InputFile(int fd, const FileStamp& stamp, std::string path);
    int m_fd = -1;
    FileStamp m_stamp;
    std::string m_path;
};

/// The errno of the last failed call of this layer on this thread (0 when none).
[[nodiscard]] int lastError();
/// True when `error`, the lastError() of a failed readFile or InputFile, says that a file is
/// there but could not be read (no permission, an input/output error, ...): not that it is
/// missing (ENOENT, ENOTDIR), larger than asked for (EFBIG) or not a regular file (EINVAL).
[[nodiscard]] bool isReadError(int error);
/// errno value meaning the disk is full.
[[nodiscard]] bool isDiskFull(int error);

/// A file written under a temporary name in its target directory and put in place by rename only
/// once it is complete, so a failed or interrupted write never leaves a partial file under the
/// final name and never damages the file it replaces. Destroying it uncommitted removes it.
/// The temporary name is hidden and unique (".<name>.<random>.tmp", created exclusively), so it
/// never replaces a file of the user's. The file starts with the permissions of a new file.
/// Commit flushes the file to the disk before the rename and the directory after it, so that
/// once commit returns true the new file survives a power loss.
class PendingFile {
public:
    /// Opens a new temporary file beside `finalPath`. Check `ok()`; `error()` tells why not.
    explicit PendingFile(std::string finalPath);
    ~PendingFile();
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&&) = delete;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    [[nodiscard]] bool ok() const { return m_stream != nullptr; }
    /// The open stream for libraries that write through FILE*.
    [[nodiscard]] std::FILE* stream() { return m_stream; }
    [[nodiscard]] bool write(std::span<const std::uint8_t> bytes);
    /// Sets the permission bits the file will have.
    [[nodiscard]] bool setMode(std::uint32_t mode);
    /// Sets the modification time (UTC seconds and nanoseconds) the file will have.
    [[nodiscard]] bool setModifiedTime(std::int64_t utcSeconds, long nanoseconds = 0);
    /// Flushes, closes and renames onto the final name. On failure the temporary file is removed,
    /// an existing file of the final name is untouched, and error() holds the errno. When only
    /// the flush of the directory after the rename fails, the file is in place under the final
    /// name but not known to be on the disk: commit returns false then too.
    [[nodiscard]] bool commit(Overwrite mode = Overwrite::Replace);
    /// The same onto a target; `target.path` is the path used in the end.
    [[nodiscard]] bool commit(CommitTarget& target);
    /// Removes the temporary file without touching the final name; false (with the reason on
    /// standard error) when a temporary file is left behind.
    bool discard();
    [[nodiscard]] int error() const { return m_error; }
    [[nodiscard]] const std::string& temporaryPath() const { return m_tempPath; }
    [[nodiscard]] const std::string& finalPath() const { return m_finalPath; }

private:
    std::string m_finalPath;
    std::string m_tempPath;
    std::FILE* m_stream = nullptr;
    int m_error = 0;
};

/// Writes `bytes` to `path` through a PendingFile. On failure lastError() holds the errno.
[[nodiscard]] bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                                       Overwrite mode = Overwrite::Replace);
[[nodiscard]] bool writeFileAtomically(CommitTarget& target, std::span<const std::uint8_t> bytes);

/// Whether `name` (a file name, no folder) has exactly the form of a PendingFile's temporary name:
/// "." + 1 to 200 bytes of a final name + "." + 16 lowercase hex digits + ".tmp".
[[nodiscard]] bool isTemporaryName(std::string_view name);
/// Removes from the folder `dir` what an interrupted run of ours left there: regular files of
/// this user whose names are temporary names. Links (never followed), folders, other kinds of
/// entry, other users' files and names that only resemble the form stay. Returns how many were
/// removed. Call it only while holding the InstanceLock: then no other run of this user can be
/// writing such a file at the same time.
[[nodiscard]] std::size_t removeLeftoverTemporaries(const std::string& dir);

/// Renames without replacing: the kernel's no-replace rename, else (file systems without it) a
/// hard link and unlink, else (FAT and exFAT have no hard links) an exclusively created
/// placeholder under the final name that the rename then replaces. False with EEXIST when the
/// name is taken.
[[nodiscard]] bool renameNoReplace(const std::string& from, const std::string& to);
/// Flushes a directory's entries to the disk; false (lastError() holds the errno) when the flush
/// failed. File systems that have no such operation (EINVAL, EROFS) count as flushed.
[[nodiscard]] bool syncDirectory(const std::string& dir);

/// The steps of reading a file that a read fault can fail.
enum class ReadStep { Open, Read };

namespace detail {
/// Test hook: which no-replace methods renameNoReplace may use (bit 0 the kernel's rename flag,
/// bit 1 hard links); the exclusive placeholder is always available.
void setNoReplaceMethods(unsigned methods);
/// Test hook: asked before every open and every read of readFile and InputFile; an errno it
/// returns (0: none) fails that step with that error, as a failing disk would. nullptr (the
/// default) asks nothing.
using ReadFault = int (*)(const std::string& path, ReadStep step);
void setReadFault(ReadFault fault);
} // namespace detail

// --- Process -----------------------------------------------------------------------------------

/// Single-instance guard: an exclusive flock on a lock file in a folder of ours with mode 0700:
/// "$XDG_RUNTIME_DIR/<program>/", else "<temp>/<program>-<uid>/". The folder must be a real
/// folder (no link) owned by this user, so that no one else can take or watch the lock file; one
/// planted by another user is refused with the reason. The kernel releases the lock when the
/// process ends.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    /// Takes the lock for `programName`. nullopt when another process holds it, or when the lock
    /// folder is there but cannot be trusted (not a folder, a link, another owner): then
    /// `unusable` (when given) receives a sentence that says why; it stays empty when simply
    /// another instance runs. When the folder cannot be created at all, the instance runs
    /// without a lock.
    [[nodiscard]] static std::optional<InstanceLock> acquire(const std::string& programName,
                                                             std::string* unusable = nullptr);
    /// The folder that holds the lock file for a program name, with trailing "/".
    [[nodiscard]] static std::string lockFolder(const std::string& programName);
    /// Path of the lock file used for a program name.
    [[nodiscard]] static std::string lockFilePath(const std::string& programName);
    /// True when the lock is really held (false for an instance that runs without a lock).
    [[nodiscard]] bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

/// Catches SIGINT, SIGTERM and SIGHUP while it lives, so that a run can stop in good order: the
/// handler only notes the signal and wakes a watcher thread, which calls `onSignal` with the
/// signal number, once, for the first signal. From then on these signals have their default
/// action again, so that a second one ends the program at once. The previous actions are
/// restored on destruction. One object at a time.
class StopSignals {
public:
    explicit StopSignals(std::function<void(int signal)> onSignal);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    /// The signal caught first, 0 while none was.
    [[nodiscard]] static int received();
    /// "SIGINT", "SIGTERM", "SIGHUP", else "signal <n>".
    [[nodiscard]] static std::string signalName(int signal);

private:
    std::function<void(int)> m_onSignal;
    std::thread m_watcher;
    bool m_installed = false;
};

/// Primary language subtag of LC_ALL, LC_MESSAGES or LANG (first one set), lower case; "" if none.
[[nodiscard]] std::string defaultUiLanguage();

/// The text as the console may show it: C0 and C1 control characters (other than line feed),
/// DEL and bytes that are not valid UTF-8 become "?", so names and texts written by others cannot
/// send escape sequences to the terminal.
[[nodiscard]] std::string printableOnConsole(std::string_view text);
/// Writes printableOnConsole(text) and a line feed to standard output. Thread-safe per call.
void consolePrint(std::string_view text);
/// Writes printableOnConsole(text) and a line feed to standard error.
void errorPrint(std::string_view text);
/// Sends consolePrint's lines to standard error from now on, so that standard output holds only
/// the lines of dataPrint (output a program reads).
void reserveStandardOutputForData();
/// Writes `line` and a line feed to standard output as it is; the caller escaped its fields.
void dataPrint(std::string_view line);
/// Writes printableOnConsole(text) to standard error without a line feed: a status line that
/// the next control sequence clears.
void errorPrintStatus(std::string_view text);
/// Writes a terminal control sequence of our own (such as "\r\x1b[K") to standard error as it is.
void errorPrintControl(std::string_view sequence);
/// True when standard error is a terminal.
[[nodiscard]] bool stderrIsTerminal();
/// True when standard output is a terminal.
[[nodiscard]] bool stdoutIsTerminal();

/// Sets a thread's scheduling to below normal priority (nice +1); best effort.
void lowerCurrentThreadPriority();

} // namespace quill::platform
