// File helpers the service and host-program tests share.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

inline std::string ReadFile(const std::filesystem::path &path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline void WriteFile(const std::filesystem::path &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// The names in `folder`, hidden ones included, sorted; none when it cannot be read.
inline std::vector<std::string> Entries(const std::filesystem::path &folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The plug-in's records in the log text `text`, each as "LEVEL message".
inline std::vector<std::string> PluginRecords(const std::string &text)
{
    std::istringstream log(text);
    std::vector<std::string> records;
    std::string stamp, level, where, message;
    while (log >> stamp >> level >> where && std::getline(log, message))
        if (where.rfind("activityReport:", 0) == 0)
            records.push_back(level + message);
    return records;
}

inline bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// A fresh directory under /tmp, removed with all it holds (even when made read-only) when the
// test ends.
struct TempDir {
    std::filesystem::path path = [] {
        char pattern[] = "/tmp/arl-service-test-XXXXXX";
        return std::string(mkdtemp(pattern) ? pattern : "/nonexistent");
    }();
    ~TempDir() { chmod(path.c_str(), 0700); std::filesystem::remove_all(path); }
    std::string operator/(const std::string &name) const { return (path / name).string(); }
};

// Tests of what another local user can do need root, to give files and folders to that user.
// Outside CI they skip with a message; in CI (where CI is set) they must run.
const uid_t kOtherUid = 65534;  // "nobody"
#define REQUIRE_ROOT()                                                                  \
    do {                                                                                \
        if (geteuid() != 0) {                                                           \
            if (std::getenv("CI"))                                                      \
                FAIL() << "CI runs this test as root";                                  \
            GTEST_SKIP() << "needs root, to act as another user (uid " << kOtherUid << ")"; \
        }                                                                               \
    } while (0)

// UndefinedBehaviorSanitizer checks the type of an object through a pipe of its own, which a
// process without a free descriptor cannot make: it would report a fault that is not there. A
// sanitizer build leaves out the checks that make such an object while no descriptor is free.
#ifdef __SANITIZE_ADDRESS__
const bool kSanitizerNeedsDescriptors = true;
#else
const bool kSanitizerNeedsDescriptors = false;
#endif

// While it lives, the process has no descriptor to spare: every open() fails with EMFILE.
struct NoFreeDescriptors {
    static constexpr rlim_t kLimit = 256;  // few to fill, whatever limit the machine sets
    rlimit saved{};
    std::vector<int> taken;
    NoFreeDescriptors()
    {
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = std::min(saved.rlim_cur, kLimit);
        setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            taken.push_back(fd);
    }
    ~NoFreeDescriptors()
    {
        for (int fd : taken)
            close(fd);
        setrlimit(RLIMIT_NOFILE, &saved);
    }
};

// While it lives, SIGALRM arrives every `microseconds` with a handler that does nothing, without
// SA_RESTART: every wait and write of the process is interrupted again and again.
struct SignalsEvery {
    explicit SignalsEvery(suseconds_t microseconds)
    {
        struct sigaction tick = {};
        tick.sa_handler = [](int) {};
        sigaction(SIGALRM, &tick, &saved);
        const itimerval often = {{0, microseconds}, {0, microseconds}};
        setitimer(ITIMER_REAL, &often, nullptr);
    }
    ~SignalsEvery()
    {
        const itimerval off = {};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &saved, nullptr);
    }
    struct sigaction saved = {};
};

// How a child process ended (its exit status, or 128 plus the signal that ended it) and what it
// wrote to standard error.
struct ChildRun {
    int ended;
    std::string standardError;
};

// Runs `body` in a child process with SIGPIPE and SIGXFSZ at their defaults, its standard error
// a small pipe that this process drains slowly, so that the child's writes come back short.
inline ChildRun InChild(const std::function<void()> &body)
{
    const int kPipeBytes = 4096, kReadBytes = 512, kPauseMicroseconds = 100;
    int ends[2];
    if (pipe(ends) != 0 || fcntl(ends[0], F_SETPIPE_SZ, kPipeBytes) < 0)
        return {-1, {}};
    const pid_t child = fork();
    if (child == 0) {
        dup2(ends[1], STDERR_FILENO);
        signal(SIGPIPE, SIG_DFL);
        signal(SIGXFSZ, SIG_DFL);
        body();
        _exit(0);
    }
    close(ends[1]);
    std::string text;
    char buffer[kReadBytes];
    for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0; usleep(kPauseMicroseconds))
        text.append(buffer, static_cast<size_t>(got));
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status), text};
}
