/*
 * platform.h - the rules every stand-in service shares with the operating system, written once.
 *
 * Not a device service: a static library linked into each service library, its symbols hidden.
 * Everything here is in namespace `platform`, never throws, and keeps to these rules:
 *
 *   Files    A file is opened without blocking (a FIFO cannot hang the caller) and refused unless
 *            it is a regular file. A file a service creates, writes, renames, removes or changes
 *            lives in a folder it verified (Folder::Open) and is reached through that folder's
 *            descriptor, never by following a link.
 *   Signals  A write never raises SIGPIPE or SIGXFSZ in the caller's process: the write fails with
 *            EPIPE or EFBIG instead, and the caller's signal mask and dispositions are left as
 *            they were.
 *   Waits    Every wait has a deadline on CLOCK_MONOTONIC and goes on after EINTR.
 *   Text     Case-insensitive comparisons and character classes are ASCII-only, whatever the
 *            host's locale.
 *
 * The plug-in keeps its own small copies of the few rules it needs, since it must build against
 * the device's own service libraries alone.
 */
#ifndef SERVICES_COMMON_PLATFORM_H
#define SERVICES_COMMON_PLATFORM_H

#include <csignal>
#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace platform {

class FolderWalk;

/* ---- Descriptors ---------------------------------------------------------------------------- */

/* 'Descriptor' - owns one file descriptor and closes it; closing is its only clean-up. */
class Descriptor {
public:
    explicit Descriptor(int fd = -1) noexcept : fd_(fd) {}
    Descriptor(Descriptor &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor &operator=(Descriptor &&other) noexcept;
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor();

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    /* Gives the descriptor up without closing it. */
    int Release() noexcept;
    /* Closes now and says what close said: a write error of some file systems shows only here. */
    bool Close() noexcept;

private:
    int fd_;
};

/* 'KeepAboveStandardStreams()' - moves `fd` to a number of 3 or above (close-on-exec), closing
 * the original: a descriptor a service keeps across calls must never become the host's standard
 * input, output or error when the host runs with those closed. -1 (errno set) when it cannot. */
int KeepAboveStandardStreams(int fd) noexcept;

/* ---- File identity -------------------------------------------------------------------------- */

/* 'FileVersion' - which version of a file was read: another file in its place, or the same file
 * written since, is another version (device, inode, size and modification time). A missing file
 * is a version of its own. */
struct FileVersion {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified = {0, 0};

    FileVersion() = default;
    explicit FileVersion(const struct stat &status) noexcept;
    bool operator==(const FileVersion &other) const noexcept;
    bool operator!=(const FileVersion &other) const noexcept { return !(*this == other); }
};

/* ---- Environment ---------------------------------------------------------------------------- */

/* 'EnvValue()' - the value of the environment variable `name`, or NULL when it is unset or
 * empty: an empty value never names a file, a queue or a charset, so it means "use the default". */
const char *EnvValue(const char *name) noexcept;

/* ---- Opening files -------------------------------------------------------------------------- */

/* 'OpenRegularFile()' - opens `path` (relative to the folder `dirFd`, or AT_FDCWD) with `flags`
 * plus O_CLOEXEC and O_NOCTTY, without blocking on a FIFO, and keeps it only when it is a regular
 * file; O_NONBLOCK is cleared again once it is open, so later reads and writes behave as on any
 * file. A caller that creates a file adds O_CREAT together with O_NOFOLLOW (or O_EXCL) and a
 * verified folder's `dirFd`; the file is then created with `mode`. Anything else is closed and
 * refused with errno EINVAL. `status` (optional) receives the open file's status. */
Descriptor OpenRegularFile(int dirFd, const char *path, int flags, mode_t mode = 0600,
                           struct stat *status = nullptr) noexcept;

/* ---- Verified folders ----------------------------------------------------------------------- */

/* 'Folder' - a folder in which a service may create, write, rename and remove its own files,
 * checked once and then reached through its descriptor only.
 *
 * A folder is accepted when every folder of its path, itself included, is a directory owned by
 * root or by the effective user and not writable by group or others unless it is sticky. A
 * symbolic link on the way is followed only when root or the effective user owns it. The folder
 * itself may be sticky and writable by others (a shared folder such as /tmp): then only files
 * the effective user owns are touched in it (OwnFile). */
class Folder {
public:
    enum class State {
        kVerified, // accepted: fd() is its descriptor
        kMissing,  // a folder on the way is missing, not a directory, or cannot be searched
        kUnsafe,   // a folder or link on the way has an owner or mode that others could abuse
    };

    /* 'Open()' - opens and checks the folder at `path` ("" is the current folder). Never throws;
     * a folder that cannot be checked for lack of memory is kMissing with errno ENOMEM. Its
     * descriptor is 3 or above (KeepAboveStandardStreams), so it may be kept across calls. */
    static Folder Open(const char *path) noexcept;

    State state() const noexcept { return state_; }
    bool verified() const noexcept { return state_ == State::kVerified; }
    int fd() const noexcept { return fd_.get(); }
    /* True for a sticky folder that others may write: only the user's own files are touched. */
    bool shared() const noexcept { return shared_; }
    /* Why it was refused, for a record: e.g. "/tmp/x is owned by uid 1000 with mode 0777". */
    const char *why() const noexcept { return why_; }
    /* errno of a kMissing folder. */
    int error() const noexcept { return error_; }

private:
    friend class FolderWalk;
    State state_ = State::kMissing;
    Descriptor fd_;
    bool shared_ = false;
    int error_ = 0;
    char why_[160] = "";
};

/* 'OwnFile()' - true when `status` is a regular file with one link that the effective user owns:
 * a file of the service's own, which no other user can have planted, linked or swapped in. */
bool OwnFile(const struct stat &status) noexcept;

/* 'OpenOwnFile()' - opens the file `name` in the verified folder without following a link
 * (OpenRegularFile) and keeps it only when it is the service's own (OwnFile); else errno EPERM. */
Descriptor OpenOwnFile(const Folder &folder, const char *name, int flags,
                       struct stat *status = nullptr) noexcept;

/* 'CreateOwnFile()' - creates `name` new in the verified folder, mode 0600, without following a
 * link (O_CREAT | O_EXCL | O_NOFOLLOW). With `replace`, whatever stood under the name is removed
 * first without being followed, unless the folder is shared and it is not the service's own:
 * then the create fails with EEXIST. `flags` add the access mode (O_WRONLY or O_RDWR). */
Descriptor CreateOwnFile(const Folder &folder, const char *name, int flags, bool replace) noexcept;

/* 'SplitPath()' - the folder and the name of a file's path: "/a/b" gives "/a" and "b", "b" gives
 * "" (the current folder) and "b", "/b" gives "/" and "b". False when the path ends in "/". */
bool SplitPath(std::string_view path, std::string *folder, std::string *name);

/* ---- Writing -------------------------------------------------------------------------------- */

/* 'WriteSignalGuard' - while it lives, SIGPIPE and SIGXFSZ are blocked on the calling thread, so
 * that a write to a closed pipe or past a file-size limit fails (EPIPE, EFBIG) instead of ending
 * the process. When it ends, one of the two that a guarded write raised is taken back and the
 * thread's mask is restored; one the host had pending before stays. Put one around a stage that
 * writes: it costs three system calls however many writes it covers. */
class WriteSignalGuard {
public:
    WriteSignalGuard() noexcept;
    ~WriteSignalGuard();
    WriteSignalGuard(const WriteSignalGuard &) = delete;
    WriteSignalGuard &operator=(const WriteSignalGuard &) = delete;

private:
    sigset_t previous_;
    sigset_t pendingBefore_;
};

/* 'WriteAll()' - writes all `size` bytes: a write cut short or interrupted by a signal goes on
 * where it stopped. It runs under a WriteSignalGuard of its own, so a closed pipe or a file-size
 * limit is an error (EPIPE, EFBIG) and never ends the process. False, errno set, when a write
 * fails. */
bool WriteAll(int fd, const void *bytes, size_t size) noexcept;

/* 'WriteAllUnguarded()' - WriteAll without the signal guard, for a caller that holds a
 * WriteSignalGuard around the whole stage, or knows the write cannot raise SIGPIPE or SIGXFSZ. */
bool WriteAllUnguarded(int fd, const void *bytes, size_t size) noexcept;

/* ---- Waiting -------------------------------------------------------------------------------- */

/* 'Deadline' - a point on CLOCK_MONOTONIC, which no change of the wall clock moves. */
class Deadline {
public:
    explicit Deadline(long milliseconds) noexcept;
    bool Passed() const noexcept;
    /* Milliseconds left, 0 once passed. */
    long Remaining() const noexcept;

private:
    timespec at_;
};

/* 'SleepMilliseconds()' - sleeps the whole time, however often a signal interrupts it. */
void SleepMilliseconds(long milliseconds) noexcept;

/* 'RecheckTimer' - says when a file read earlier is due to be looked at again: once the interval
 * has passed since the last look. On CLOCK_MONOTONIC_COARSE, as it is asked at every call: a
 * clock tick's precision does for such a check, at a sixth of the cost. Due until started. */
class RecheckTimer {
public:
    explicit RecheckTimer(long milliseconds) noexcept : interval_(milliseconds) {}
    bool Due() const noexcept;
    /* The interval starts now: call it when the file is looked at. */
    void Restart() noexcept;

private:
    long interval_;
    bool started_ = false;
    timespec last_ = {0, 0};
};

/* ---- Text ----------------------------------------------------------------------------------- */

/* 'PutHex()' - writes two lowercase hex digits for each of the `size` bytes at `out` (no NUL);
 * returns the end. */
char *PutHex(char *out, const void *bytes, size_t size) noexcept;

/* 'HexOf()' - the hex text of `bytes`, two lowercase digits a byte. May throw std::bad_alloc. */
std::string HexOf(std::string_view bytes);

inline char AsciiLower(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
inline bool IsAsciiDigit(char c) noexcept
{
    return c >= '0' && c <= '9';
}
inline bool IsAsciiAlpha(char c) noexcept
{
    return AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z';
}
inline bool IsAsciiSpace(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

/* 'AsciiEqualIgnoringCase()' - compares two texts with the letters A-Z and a-z folded, and no
 * other byte: the same answer under every locale (a Turkish one folds "I" to a dotless "ı"). */
bool AsciiEqualIgnoringCase(std::string_view a, std::string_view b) noexcept;

} // namespace platform

#endif
