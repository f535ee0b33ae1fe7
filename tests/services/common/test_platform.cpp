// The platform layer's promises, each of which a service's safety rests on: a folder another user
// could change is refused, and a write never raises a signal in the host. (That a service's file
// is only ever its own, each service's tests show: a planted link or another user's file.)

#include "../files.h"
#include "platform.h"


using platform::Folder;

namespace {

const uid_t kRoot = 0;

// A folder inside a refused one is refused too: the outer one's owner could swap it. A link is
// followed only when root or the user owns it.
TEST(Folder, AcceptsOnlyFoldersAndLinksNoOtherUserCanChange)
{
    REQUIRE_ROOT();
    const struct {
        const char *name;
        mode_t mode;
        uid_t owner;
        Folder::State want;
        bool wantShared = false;
    } cases[] = {
        {.name = "private", .mode = 0700, .owner = kRoot, .want = Folder::State::kVerified},
        {.name = "sticky-shared", .mode = 01777, .owner = kRoot, .want = Folder::State::kVerified,
         .wantShared = true},
        {.name = "world-writable", .mode = 0777, .owner = kRoot, .want = Folder::State::kUnsafe},
        {.name = "group-writable", .mode = 0770, .owner = kRoot, .want = Folder::State::kUnsafe},
        {.name = "another-users", .mode = 0700, .owner = kOtherUid, .want = Folder::State::kUnsafe},
    };
    TempDir dir;
    for (const auto &c : cases) {
        const std::string path = dir / c.name, inner = path + "/inner";
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        ASSERT_EQ(chown(path.c_str(), c.owner, 0), 0);
        const Folder folder = Folder::Open(path.c_str());
        EXPECT_EQ(folder.state(), c.want) << c.name << ": " << folder.why();
        EXPECT_EQ(folder.shared(), c.wantShared) << c.name;
        ASSERT_EQ(mkdir(inner.c_str(), 0700), 0);
        EXPECT_EQ(Folder::Open(inner.c_str()).state(), c.want) << c.name << "/inner";
    }
    const std::string own = dir / "own-link", planted = dir / "planted";
    ASSERT_EQ(symlink("private", own.c_str()), 0);
    ASSERT_EQ(symlink((dir / "private").c_str(), planted.c_str()), 0);
    ASSERT_EQ(lchown(planted.c_str(), kOtherUid, kOtherUid), 0);
    EXPECT_TRUE(Folder::Open(own.c_str()).verified());
    const Folder refused = Folder::Open(planted.c_str());
    EXPECT_EQ(refused.state(), Folder::State::kUnsafe);
    EXPECT_TRUE(Contains(refused.why(), "owned by uid 65534")) << refused.why();
}

// A closed pipe or a file-size limit makes the write fail with its errno, without a signal (one
// that the host blocked and had pending stays pending); a signal every 100 µs while a slow reader
// drains the pipe makes it go on until every byte is written (wantBytes: on standard error).
TEST(WriteAll, FailsWithoutASignalAndGoesOnAfterSignals)
{
    const int kWritten = 0, kLost = 1, kSignalled = 2, kHostSignalTaken = 3;
    const size_t kMany = 1 << 20;
    const struct { const char *name; void (*body)(); size_t wantBytes = 0; } cases[] = {
        {.name = "closed pipe", .body = [] {
             int ends[2];
             if (pipe(ends) != 0 || close(ends[0]) != 0 || platform::WriteAll(ends[1], "x", 1))
                 _exit(kLost);
             sigset_t pending;
             sigpending(&pending);
             _exit(errno != EPIPE || sigismember(&pending, SIGPIPE) ? kSignalled : kWritten);
         }},
        {.name = "a SIGPIPE the host blocked and had pending", .body = [] {
             // The host's own pending signal stays for the host; only the write's own is taken.
             sigset_t pipeSignal;
             sigemptyset(&pipeSignal);
             sigaddset(&pipeSignal, SIGPIPE);
             sigprocmask(SIG_BLOCK, &pipeSignal, nullptr);
             raise(SIGPIPE);
             int ends[2];
             if (pipe(ends) != 0 || close(ends[0]) != 0 || platform::WriteAll(ends[1], "x", 1))
                 _exit(kLost);
             sigset_t pending;
             sigpending(&pending);
             _exit(sigismember(&pending, SIGPIPE) == 1 ? kWritten : kHostSignalTaken);
         }},
        {.name = "file-size limit", .body = [] {
             char path[] = "/tmp/arl-fsize-XXXXXX";
             const int fd = mkstemp(path);
             unlink(path);
             const rlimit kFourBytes = {4, 4};
             setrlimit(RLIMIT_FSIZE, &kFourBytes);
             const bool written = platform::WriteAll(fd, "0123456789", 10);
             _exit(!written && errno == EFBIG ? kWritten : kLost);
         }},
        {.name = "signals", .body = [] {
             const SignalsEvery every100us(100);
             const std::string bytes(kMany, 'x');
             _exit(platform::WriteAll(STDERR_FILENO, bytes.data(), bytes.size()) ? 0 : kLost);
         }, .wantBytes = kMany},
    };
    for (const auto &c : cases) {
        const ChildRun run = InChild(c.body);
        EXPECT_EQ(run.ended, kWritten) << c.name;
        EXPECT_EQ(run.standardError.size(), c.wantBytes) << c.name;
    }
}

TEST(SplitPath, GivesTheFolderAndTheNameOfAFile)
{
    const struct { const char *path, *wantFolder, *wantName; bool wantOk; } cases[] = {
        {.path = "/a/b", .wantFolder = "/a", .wantName = "b", .wantOk = true},
        {.path = "/b", .wantFolder = "/", .wantName = "b", .wantOk = true},
        {.path = "b", .wantFolder = "", .wantName = "b", .wantOk = true},
        {.path = "/a/", .wantFolder = "", .wantName = "", .wantOk = false},
    };
    for (const auto &c : cases) {
        std::string folder, name;
        EXPECT_EQ(platform::SplitPath(c.path, &folder, &name), c.wantOk) << c.path;
        EXPECT_EQ(folder, c.wantFolder) << c.path;
        EXPECT_EQ(name, c.wantName) << c.path;
    }
}

} // namespace
