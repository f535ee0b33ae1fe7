// The services' platform layer: descriptors, files, folders, signals around writes, waits and
// ASCII text, each written once (platform.h gives the rules).

#include "platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <pthread.h>
#include <unistd.h>

namespace platform {

/* ---- Descriptors ---------------------------------------------------------------------------- */

Descriptor &Descriptor::operator=(Descriptor &&other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

Descriptor::~Descriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int Descriptor::Release() noexcept
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool Descriptor::Close() noexcept
{
    const int fd = Release();
    return fd < 0 || ::close(fd) == 0;
}

int KeepAboveStandardStreams(int fd) noexcept
{
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int savedErrno = errno;
    ::close(fd);
    errno = savedErrno;
    return moved;
}

/* ---- File identity -------------------------------------------------------------------------- */

FileVersion::FileVersion(const struct stat &status) noexcept
    : exists(true), device(status.st_dev), inode(status.st_ino), size(status.st_size),
      modified(status.st_mtim)
{
}

bool FileVersion::operator==(const FileVersion &other) const noexcept
{
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
}

/* ---- Environment ---------------------------------------------------------------------------- */

const char *EnvValue(const char *name) noexcept
{
    const char *value = std::getenv(name);
    return (value && *value) ? value : nullptr;
}

/* ---- Opening files -------------------------------------------------------------------------- */

Descriptor OpenRegularFile(int dirFd, const char *path, int flags, mode_t mode,
                           struct stat *status) noexcept
{
    Descriptor file(::openat(dirFd, path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode));
    struct stat opened;
    if (!file || ::fstat(file.get(), &opened) != 0)
        return Descriptor();
    if (!S_ISREG(opened.st_mode)) {
        errno = EINVAL;
        return Descriptor();
    }
    // Non-blocking mode was only for the open itself; a regular file's reads and writes should
    // behave as the caller asked.
    const int current = ::fcntl(file.get(), F_GETFL);
    if ((flags & O_NONBLOCK) == 0 && current >= 0)
        ::fcntl(file.get(), F_SETFL, current & ~O_NONBLOCK);
    if (status)
        *status = opened;
    return file;
}

/* ---- Verified folders ----------------------------------------------------------------------- */

namespace {

const int kMostLinksFollowed = 16;

bool TrustedOwner(uid_t owner)
{
    return owner == 0 || owner == ::geteuid();
}

bool WritableByOthers(mode_t mode)
{
    return (mode & (S_IWGRP | S_IWOTH)) != 0;
}

unsigned PermissionBits(mode_t mode)
{
    return static_cast<unsigned>(mode & 07777);
}

} // namespace

// Walks a folder's path one component at a time from "/" or the current folder, so that no
// component is resolved by the kernel without its owner and mode being looked at first.
class FolderWalk {
public:
    explicit FolderWalk(Folder &folder) : folder_(folder) {}

    bool Begin(bool absolute)
    {
        current_ = Descriptor(::open(absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!current_)
            return Missing(errno);
        return Check(absolute ? "/" : ".");
    }

    bool Components(std::string_view path)
    {
        while (!path.empty()) {
            const size_t slash = path.find('/');
            const std::string component(path.substr(0, slash));
            path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
            if (component.empty() || component == ".")
                continue;
            if (!Step(component))
                return false;
        }
        return true;
    }

    Descriptor Take() { return std::move(current_); }

private:
    bool Step(const std::string &component)
    {
        struct stat entry;
        if (::fstatat(current_.get(), component.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
            return Missing(errno);
        if (S_ISLNK(entry.st_mode))
            return FollowLink(component, entry);
        Descriptor next(::openat(current_.get(), component.c_str(),
                                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next)
            return Missing(errno);
        current_ = std::move(next);
        return Check(component.c_str());
    }

    // A link is trusted as far as its owner: one that root or the effective user made points
    // where they meant; the folders on the way to its target are checked like any other.
    bool FollowLink(const std::string &component, const struct stat &link)
    {
        if (!TrustedOwner(link.st_uid)) {
            std::snprintf(folder_.why_, sizeof folder_.why_,
                          "\"%s\" is a symbolic link owned by uid %u", component.c_str(),
                          static_cast<unsigned>(link.st_uid));
            folder_.state_ = Folder::State::kUnsafe;
            return false;
        }
        if (++linksFollowed_ > kMostLinksFollowed)
            return Missing(ELOOP);
        char target[PATH_MAX];
        const ssize_t length =
            ::readlinkat(current_.get(), component.c_str(), target, sizeof target - 1);
        if (length <= 0)
            return Missing(length < 0 ? errno : ENOENT);
        target[length] = '\0';
        if (target[0] == '/' && !Begin(true))
            return false;
        return Components(target);
    }

    bool Check(const char *component)
    {
        struct stat status;
        if (::fstat(current_.get(), &status) != 0)
            return Missing(errno);
        if (TrustedOwner(status.st_uid) &&
            (!WritableByOthers(status.st_mode) || (status.st_mode & S_ISVTX) != 0))
            return true;
        std::snprintf(folder_.why_, sizeof folder_.why_, "\"%s\" is owned by uid %u with mode %04o",
                      component, static_cast<unsigned>(status.st_uid),
                      PermissionBits(status.st_mode));
        folder_.state_ = Folder::State::kUnsafe;
        return false;
    }

    bool Missing(int error)
    {
        folder_.state_ = Folder::State::kMissing;
        folder_.error_ = error;
        return false;
    }

    Folder &folder_;
    Descriptor current_;
    int linksFollowed_ = 0;
};

Folder Folder::Open(const char *path) noexcept
{
    Folder folder;
    if (!path) {
        folder.error_ = EINVAL;
        return folder;
    }
    try {
        FolderWalk walk(folder);
        if (!walk.Begin(path[0] == '/') || !walk.Components(path))
            return folder;
        Descriptor opened = walk.Take();
        struct stat status;
        if (::fstat(opened.get(), &status) != 0) {
            folder.error_ = errno;
            return folder;
        }
        folder.shared_ = WritableByOthers(status.st_mode);
        folder.fd_ = Descriptor(KeepAboveStandardStreams(opened.Release()));
        if (!folder.fd_) {
            folder.error_ = errno;
            return folder;
        }
        folder.state_ = State::kVerified;
    } catch (const std::bad_alloc &) {
        folder.state_ = State::kMissing;
        folder.error_ = ENOMEM;
    }
    return folder;
}

bool OwnFile(const struct stat &status) noexcept
{
    return S_ISREG(status.st_mode) && status.st_nlink == 1 && status.st_uid == ::geteuid();
}

Descriptor OpenOwnFile(const Folder &folder, const char *name, int flags,
                       struct stat *status) noexcept
{
    struct stat opened;
    Descriptor file = OpenRegularFile(folder.fd(), name, flags | O_NOFOLLOW, 0, &opened);
    if (file && !OwnFile(opened)) {
        errno = EPERM;
        return Descriptor();
    }
    if (file && status)
        *status = opened;
    return file;
}

Descriptor CreateOwnFile(const Folder &folder, const char *name, int flags, bool replace) noexcept
{
    struct stat existing;
    if (replace && ::fstatat(folder.fd(), name, &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(existing.st_mode) || (folder.shared() && existing.st_uid != ::geteuid())) {
            errno = S_ISDIR(existing.st_mode) ? EISDIR : EEXIST;
            return Descriptor();
        }
        ::unlinkat(folder.fd(), name, 0);
    }
    return Descriptor(::openat(folder.fd(), name,
                               flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600));
}

bool SplitPath(std::string_view path, std::string *folder, std::string *name)
{
    const size_t slash = path.rfind('/');
    if (slash == path.size() - 1 && !path.empty())
        return false;
    if (slash == std::string_view::npos) {
        folder->clear();
        *name = std::string(path);
    } else {
        *folder = std::string(path.substr(0, slash == 0 ? 1 : slash));
        *name = std::string(path.substr(slash + 1));
    }
    return !name->empty();
}

/* ---- Writing -------------------------------------------------------------------------------- */

bool WriteAllUnguarded(int fd, const void *bytes, size_t size) noexcept
{
    const char *next = static_cast<const char *>(bytes);
    while (size > 0) {
        const ssize_t written = ::write(fd, next, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        next += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

namespace {

// Takes a pending `signal` off the calling thread without waiting.
void TakeBack(int signal)
{
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    const timespec now = {0, 0};
    while (::sigtimedwait(&one, nullptr, &now) < 0 && errno == EINTR) {}
}

sigset_t WriteSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGPIPE);
    sigaddset(&signals, SIGXFSZ);
    return signals;
}

} // namespace

WriteSignalGuard::WriteSignalGuard() noexcept
{
    const sigset_t guarded = WriteSignals();
    sigemptyset(&pendingBefore_);
    ::pthread_sigmask(SIG_BLOCK, &guarded, &previous_);
    // A signal the host itself has blocked may already be pending for its own reasons; that one
    // stays. Only looked up when the host blocks one of the two, which is rare.
    if (sigismember(&previous_, SIGPIPE) == 1 || sigismember(&previous_, SIGXFSZ) == 1)
        ::sigpending(&pendingBefore_);
}

WriteSignalGuard::~WriteSignalGuard()
{
    const int savedErrno = errno;
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    for (const int signal : {SIGPIPE, SIGXFSZ}) {
        if (sigismember(&pending, signal) == 1 && sigismember(&pendingBefore_, signal) != 1)
            TakeBack(signal);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    errno = savedErrno;
}

bool WriteAll(int fd, const void *bytes, size_t size) noexcept
{
    const WriteSignalGuard guard;
    return WriteAllUnguarded(fd, bytes, size);
}

/* ---- Waiting -------------------------------------------------------------------------------- */

namespace {

const long kNanosecondsPerMillisecond = 1000000;
const long kNanosecondsPerSecond = 1000000000;

timespec MonotonicNow()
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

timespec After(long milliseconds)
{
    timespec at = MonotonicNow();
    at.tv_sec += milliseconds / 1000;
    at.tv_nsec += (milliseconds % 1000) * kNanosecondsPerMillisecond;
    if (at.tv_nsec >= kNanosecondsPerSecond) {
        at.tv_sec += 1;
        at.tv_nsec -= kNanosecondsPerSecond;
    }
    return at;
}

} // namespace

Deadline::Deadline(long milliseconds) noexcept : at_(After(milliseconds))
{
}

long Deadline::Remaining() const noexcept
{
    const timespec now = MonotonicNow();
    const long long left = (static_cast<long long>(at_.tv_sec) - now.tv_sec) * 1000 +
                           (at_.tv_nsec - now.tv_nsec) / kNanosecondsPerMillisecond;
    return left > 0 ? static_cast<long>(left) : 0;
}

bool Deadline::Passed() const noexcept
{
    const timespec now = MonotonicNow();
    return now.tv_sec > at_.tv_sec || (now.tv_sec == at_.tv_sec && now.tv_nsec >= at_.tv_nsec);
}

void SleepMilliseconds(long milliseconds) noexcept
{
    const timespec until = After(milliseconds);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {}
}

namespace {

timespec CoarseNow()
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return now;
}

} // namespace

bool RecheckTimer::Due() const noexcept
{
    if (!started_)
        return true;
    const timespec now = CoarseNow();
    const long long elapsed = (static_cast<long long>(now.tv_sec) - last_.tv_sec) * 1000 +
                              (now.tv_nsec - last_.tv_nsec) / kNanosecondsPerMillisecond;
    return elapsed >= interval_;
}

void RecheckTimer::Restart() noexcept
{
    last_ = CoarseNow();
    started_ = true;
}

/* ---- Text ----------------------------------------------------------------------------------- */

char *PutHex(char *out, const void *bytes, size_t size) noexcept
{
    static const char kDigits[] = "0123456789abcdef";
    const unsigned char *byte = static_cast<const unsigned char *>(bytes);
    for (size_t i = 0; i < size; ++i) {
        *out++ = kDigits[byte[i] >> 4];
        *out++ = kDigits[byte[i] & 0x0f];
    }
    return out;
}

std::string HexOf(std::string_view bytes)
{
    std::string hex(bytes.size() * 2, '\0');
    PutHex(&hex[0], bytes.data(), bytes.size());
    return hex;
}

bool AsciiEqualIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

} // namespace platform
