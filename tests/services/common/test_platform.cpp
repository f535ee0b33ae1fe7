// The platform layer's promises, each of which a service's safety rests on: a folder another user
// could change is refused, a file is only ever one of the service's own, and a write never raises
// a signal in the host.

#include "../files.h"
#include "platform.h"

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::Folder;

namespace {

struct FolderCase {
    const char *name;
    mode_t mode;
    uid_t owner;
    Folder::State want;
    bool wantShared;
};

const uid_t kRoot = 0;

} // namespace

TEST(Folder, AcceptsOnlyFoldersNoOtherUserCanChange)
{
    REQUIRE_ROOT();
    const FolderCase cases[] = {
        {.name = "private", .mode = 0700, .owner = kRoot, .want = Folder::State::kVerified,
         .wantShared = false},
        {.name = "sticky-shared", .mode = 01777, .owner = kRoot,
         .want = Folder::State::kVerified, .wantShared = true},
        {.name = "world-writable", .mode = 0777, .owner = kRoot, .want = Folder::State::kUnsafe,
         .wantShared = false},
        {.name = "group-writable", .mode = 0770, .owner = kRoot, .want = Folder::State::kUnsafe,
         .wantShared = false},
        {.name = "another-users", .mode = 0700, .owner = kOtherUid,
         .want = Folder::State::kUnsafe, .wantShared = false},
    };
    TempDir dir;
    for (const FolderCase &c : cases) {
        const std::string path = dir / c.name;
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        ASSERT_EQ(chown(path.c_str(), c.owner, 0), 0);
        const Folder folder = Folder::Open(path.c_str());
        EXPECT_EQ(folder.state(), c.want) << c.name << ": " << folder.why();
        EXPECT_EQ(folder.shared(), c.wantShared) << c.name;
        // A folder inside a refused one is refused too: the outer one's owner could swap it.
        const std::string inner = path + "/inner";
        ASSERT_EQ(mkdir(inner.c_str(), 0700), 0);
        EXPECT_EQ(Folder::Open(inner.c_str()).state(), c.want) << c.name << "/inner";
    }
}

TEST(Folder, FollowsOnlyLinksOfTrustedOwnersAndNamesWhyItRefuses)
{
    REQUIRE_ROOT();
    TempDir dir;
    const std::string target = dir / "target", own = dir / "own-link", planted = dir / "planted";
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    ASSERT_EQ(symlink("target", own.c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), planted.c_str()), 0);
    ASSERT_EQ(lchown(planted.c_str(), kOtherUid, kOtherUid), 0);

    EXPECT_TRUE(Folder::Open(own.c_str()).verified());
    const Folder refused = Folder::Open(planted.c_str());
    EXPECT_EQ(refused.state(), Folder::State::kUnsafe);
    EXPECT_TRUE(Contains(refused.why(), "owned by uid 65534")) << refused.why();
}

TEST(Folder, MissingFoldersAreNotUnsafe)
{
    TempDir dir;
    const std::string file = dir / "file";
    WriteFile(file, "x");
    for (const std::string &path : {dir / "absent", file, file + "/below"}) {
        const Folder folder = Folder::Open(path.c_str());
        EXPECT_EQ(folder.state(), Folder::State::kMissing) << path;
        EXPECT_NE(folder.error(), 0) << path;
    }
}

TEST(OwnFiles, AreCreatedPrivateAndNeverThroughALink)
{
    TempDir dir;
    const Folder folder = Folder::Open(dir.path.c_str());
    ASSERT_TRUE(folder.verified());
    const std::string victim = dir / "victim";
    WriteFile(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), (dir / "body").c_str()), 0);
    ASSERT_EQ(link(victim.c_str(), (dir / "linked").c_str()), 0);
    const mode_t previousMask = umask(0);

    // Without replace, a planted name makes the create fail; with it, the name is removed first.
    EXPECT_FALSE(platform::CreateOwnFile(folder, "body", O_WRONLY, false));
    platform::Descriptor body = platform::CreateOwnFile(folder, "body", O_WRONLY, true);
    umask(previousMask);
    ASSERT_TRUE(body);
    struct stat status;
    ASSERT_EQ(fstat(body.get(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(ReadFile(victim), "precious");

    // A file with a second link is not the service's own: another user may hold the other one.
    EXPECT_FALSE(platform::OpenOwnFile(folder, "linked", O_RDONLY));
    EXPECT_EQ(errno, EPERM);
    EXPECT_TRUE(platform::OpenOwnFile(folder, "body", O_RDONLY));
}

TEST(OpenRegularFile, RefusesWhatIsNotARegularFileWithoutBlocking)
{
    TempDir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &path : {fifo, dir.path.string(), std::string("/dev/null")}) {
        EXPECT_FALSE(platform::OpenRegularFile(AT_FDCWD, path.c_str(), O_RDONLY)) << path;
    }
    WriteFile(dir / "file", "x");
    platform::Descriptor file =
        platform::OpenRegularFile(AT_FDCWD, (dir / "file").c_str(), O_RDONLY);
    ASSERT_TRUE(file);
    EXPECT_EQ(fcntl(file.get(), F_GETFL) & O_NONBLOCK, 0);
}

// Runs `body` in a child with SIGPIPE and SIGXFSZ at their defaults; its exit status, or 128 plus
// the signal that ended it.
static int InChild(void (*body)())
{
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGPIPE, SIG_DFL);
        signal(SIGXFSZ, SIG_DFL);
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

TEST(WriteAll, AClosedPipeOrAFileSizeLimitIsAnErrorNotASignal)
{
    const int kLived = 0;
    EXPECT_EQ(InChild([] {
                  int ends[2];
                  if (pipe(ends) != 0)
                      _exit(2);
                  close(ends[0]);
                  const bool written = platform::WriteAll(ends[1], "x", 1);
                  sigset_t pending;
                  sigpending(&pending);
                  _exit(!written && errno == EPIPE && !sigismember(&pending, SIGPIPE) ? 0 : 3);
              }),
              kLived);
    EXPECT_EQ(InChild([] {
                  char path[] = "/tmp/arl-fsize-XXXXXX";
                  const int fd = mkstemp(path);
                  unlink(path);
                  const rlimit limit = {4, 4};
                  setrlimit(RLIMIT_FSIZE, &limit);
                  const bool written = platform::WriteAll(fd, "0123456789", 10);
                  _exit(!written && errno == EFBIG ? 0 : 3);
              }),
              kLived);
}

TEST(WriteAll, GoesOnAfterSignalsUntilEveryByteIsWritten)
{
    // A reader that drains the pipe slowly while the writer takes a signal every 100 µs.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const size_t kBytes = 1 << 20;
    const pid_t reader = fork();
    if (reader == 0) {
        close(ends[1]);
        size_t total = 0;
        char buffer[4096];
        for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0; usleep(50))
            total += static_cast<size_t>(got);
        _exit(total == kBytes ? 0 : 1);
    }
    close(ends[0]);
    struct sigaction tick = {};
    tick.sa_handler = [](int) {};
    sigaction(SIGALRM, &tick, nullptr);
    const itimerval every100us = {{0, 100}, {0, 100}};
    setitimer(ITIMER_REAL, &every100us, nullptr);
    const std::string bytes(kBytes, 'x');
    EXPECT_TRUE(platform::WriteAll(ends[1], bytes.data(), bytes.size()));
    const itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    close(ends[1]);
    int status = 0;
    waitpid(reader, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the reader did not get every byte";
}

TEST(Text, SplitPathAndCaseFoldingKeepToTheirRules)
{
    struct SplitCase {
        const char *path, *wantFolder, *wantName;
        bool wantOk;
    };
    const SplitCase cases[] = {
        {.path = "/a/b", .wantFolder = "/a", .wantName = "b", .wantOk = true},
        {.path = "/b", .wantFolder = "/", .wantName = "b", .wantOk = true},
        {.path = "b", .wantFolder = "", .wantName = "b", .wantOk = true},
        {.path = "/a/", .wantFolder = "", .wantName = "", .wantOk = false},
    };
    for (const SplitCase &c : cases) {
        std::string folder, name;
        EXPECT_EQ(platform::SplitPath(c.path, &folder, &name), c.wantOk) << c.path;
        if (c.wantOk) {
            EXPECT_EQ(folder, c.wantFolder) << c.path;
            EXPECT_EQ(name, c.wantName) << c.path;
        }
    }
    // Under a Turkish locale toupper('i') is not 'I'; ours folds ASCII letters only.
    EXPECT_TRUE(platform::AsciiEqualIgnoringCase("info", "INFO"));
    EXPECT_FALSE(platform::AsciiEqualIgnoringCase("inf\xc4\xb1", "INFI"));
    EXPECT_EQ(platform::HexOf("\x01 \xff"), "0120ff");
}
