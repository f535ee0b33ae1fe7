// The run among other users' files: what it refuses in its working folder, what another local
// user can and cannot do to a run in progress, and the run's lock. Attacks are made by a child
// process acting as another user, at fixed points of the run (the call of the stream editor, or
// the editor's own point before its rename), never at a moment picked by timing.

#include "pluginFixture.h"
#include "streameditor_internal.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <sys/wait.h>

namespace {

const uid_t kRoot = 0;
const int32_t kStatusOk = ARL_STATUS_OK, kRefused = ARL_STATUS_BODY_NOT_WRITABLE;
const long kShortLockWait = 50; // ms: another run's lock is given up on quickly in tests
const char kSecret[] = "a text only root may read\n", kBody[] = "ar_output_pdl.ps",
           kLock[] = "activityReport.lock";
const char kCannotOpen[] = "ERROR Cannot open PDL file for writing.";

// `act` in a child process as `uid`: whether it succeeded (false when it ended the child).
bool InChild(uid_t uid, const std::function<bool()> &act)
{
    return ::InChild([&] {
        _exit((uid == geteuid() || (setgroups(0, nullptr) == 0 && setgid(uid) == 0 &&
                                    setuid(uid) == 0)) && act() ? 0 : 1);
    }).ended == 0;
}

// Takes an open-file-description lock on the whole file at `path`, as a run of another process
// would hold its lock: it conflicts with the run's record lock even in this process. The
// descriptor that holds it, or -1.
int LockOfAnotherRun(const std::string &path)
{
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 || fcntl(fd, F_OFD_SETLK, &whole) == 0)
        return fd;
    close(fd);
    return -1;
}

mode_t Mode(const std::string &path)
{
    struct stat status = {};
    lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// The stream editor's unfinished output in `folder` ("" when there is none).
std::string UnfinishedOutput(const std::string &folder)
{
    for (const std::string &name : Entries(folder))
        if (name.rfind("activityReport.ps.", 0) == 0)
            return name;
    return "";
}

// The stream editor's point before its rename, for a test's own action.
std::function<void()> beforeRename;
void BeforeRename() { beforeRename(); }

class WorkingFolderTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        tmp = dir + "/tmp";
        victim = dir + "/victim";
        chmod(dir.c_str(), 0755); // another user may reach the working folder, as in /tmp
        WriteFile(victim, kSecret);
        chmod(victim.c_str(), 0600);
        runLockWaitMilliseconds = kShortLockWait;
    }
    void TearDown() override
    {
        faults::state.observe = nullptr;
        streameditor::SetBeforeRenameHook(nullptr);
        PluginTest::TearDown();
    }
    // Runs `act` when the run calls the stream editor: the body is written and closed.
    void AtEdit(const std::function<void()> &act)
    {
        faults::state.observe = [act](const std::string &call) {
            if (call.rfind("Sed_FileEdit(", 0) == 0)
                act();
        };
    }
    int32_t Run() { return ARL_ActivityReport("Plain", "Blue", "en"); }

    std::string tmp, victim;
};

// Fault: the body opened through a link planted under its name (the victim overwritten), or
// truncated through a second hard link; in a sticky folder, another user's file removed or
// followed rather than the run refused. (A dangling link is removed like any other name, unread.)
TEST_F(WorkingFolderTest, NamesPlantedAsTheBodyAreNeverFollowed)
{
    REQUIRE_ROOT();
    const struct {
        std::string plant;  // "link" or "hard link"
        bool byAnotherUser; // in a shared sticky folder; else by the run's own user in its own
        int32_t wantStatus;
    } cases[] = {
        {.plant = "link", .byAnotherUser = false, .wantStatus = kStatusOk},
        {.plant = "hard link", .byAnotherUser = false, .wantStatus = kStatusOk},
        {.plant = "link", .byAnotherUser = true, .wantStatus = kRefused},
        {.plant = "hard link", .byAnotherUser = true, .wantStatus = kRefused},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.plant + (c.byAnotherUser ? " of another user" : ""));
        Fresh();
        const std::string body = tmp + "/" + kBody;
        const uid_t planter = c.byAnotherUser ? kOtherUid : kRoot;
        ASSERT_EQ(chown(victim.c_str(), planter, planter), 0); // a hard link needs its own
        ASSERT_EQ(chmod(tmp.c_str(), c.byAnotherUser ? 01777 : 0700), 0);
        ASSERT_TRUE(InChild(planter, [&] {
            return (c.plant == "hard link" ? link(victim.c_str(), body.c_str())
                                           : symlink(victim.c_str(), body.c_str())) == 0;
        }));

        EXPECT_EQ(Run(), c.wantStatus);
        EXPECT_EQ(ReadFile(victim), kSecret);
        EXPECT_EQ(Mode(victim), 0600u);
        EXPECT_EQ(Records().back(), c.wantStatus == kRefused
                                        ? kCannotOpen
                                        : "INFO jtapi_release_report_data() SUCCESSFUL");
    }
}

// Fault: a folder that another user owns or may change accepted (that user could swap the body
// once written for a link to a root-only file), or a link to the folder followed whoever made
// it; a refusal that writes anything there, or whose records differ from those of a body that
// cannot be opened, or that does not say what it found.
TEST_F(WorkingFolderTest, FoldersOthersCouldChangeAreRefusedWithTheirOwnerAndMode)
{
    REQUIRE_ROOT();
    const struct {
        const char *folder; // what TEMP_FILES_DIR names in the test's directory
        uid_t owner;
        mode_t mode;
        const char *wantWhy;
    } cases[] = {
        {.folder = "tmp", .owner = kOtherUid, .mode = 0700,
         .wantWhy = "\"tmp\" is owned by uid 65534 with mode 0700"},
        {.folder = "tmp", .owner = kRoot, .mode = 0777,
         .wantWhy = "\"tmp\" is owned by uid 0 with mode 0777"},
        {.folder = "link", .owner = kOtherUid, .mode = 0700,
         .wantWhy = "\"link\" is a symbolic link owned by uid 65534"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.wantWhy);
        Fresh();
        const std::string folder = dir + "/" + c.folder;
        ASSERT_EQ(symlink(tmp.c_str(), (dir + "/link").c_str()), 0);
        ASSERT_EQ(chmod(tmp.c_str(), c.mode), 0);
        ASSERT_EQ(lchown(folder.c_str(), c.owner, c.owner), 0);
        setenv("TEMP_FILES_DIR", folder.c_str(), 1);

        EXPECT_EQ(Run(), kRefused);
        EXPECT_EQ(Records(),
                  (Texts{"ENTER ARL_ActivityReport", "INFO Job Tracker data retreived successfully",
                         "INFO Activity Report Template file " + dir + "/template.ps opened",
                         "INFO Open temp output file \"" + folder + "/" + kBody + "\"",
                         "ERROR ARL_ActivityReport(): working folder " + folder + " refused: " +
                             c.wantWhy + ".",
                         kCannotOpen}));
        EXPECT_EQ(Entries(tmp), Texts{}) << "nothing is made in a refused folder";
    }
}

// Fault: a lock that another user can take, that a child the host forks during a run keeps
// after it, or whose wait has no bound; a run that gives up but writes, or does not say why.
TEST_F(WorkingFolderTest, TheRunsLockIsItsOwnAndEndsWithTheRun)
{
    REQUIRE_ROOT();
    const std::string lock = tmp + "/" + kLock;
    pid_t forked = -1;
    AtEdit([&] {
        if ((forked = fork()) == 0)
            pause(); // holds every descriptor of the run until it is killed
    });
    EXPECT_EQ(Run(), kStatusOk);
    const int afterForkedRun = LockOfAnotherRun(lock);
    EXPECT_GE(afterForkedRun, 0) << "the forked child kept the lock";
    kill(forked, SIGKILL);
    waitpid(forked, nullptr, 0);
    EXPECT_FALSE(InChild(kOtherUid, [&] { return open(lock.c_str(), O_RDONLY) >= 0; }));

    Records();
    EXPECT_EQ(Run(), kRefused) << "another run holds the lock";
    close(afterForkedRun);
    EXPECT_EQ(Records(), Texts{"ERROR ARL_ActivityReport(): another run held the working folder " +
                               tmp + " for " + std::to_string(kShortLockWait) + " ms."});
    EXPECT_EQ(Entries(tmp), Texts{kLock});
}

// Fault: a link left under the lock file's name (by an older tool, or before the folder was made
// safe) followed or taken as the run's lock: the run would lock, or create, a file of another.
TEST_F(WorkingFolderTest, ALinkInThePlaceOfTheLockFileIsRefused)
{
    const std::string lock = tmp + "/" + kLock;
    for (const bool hard : {false, true}) {
        SCOPED_TRACE(hard ? "hard link" : "symbolic link");
        Fresh();
        ASSERT_EQ(hard ? link(victim.c_str(), lock.c_str()) : symlink(victim.c_str(), lock.c_str()),
                  0);
        EXPECT_EQ(Run(), kRefused);
        EXPECT_EQ(Records(), Texts{"ERROR ARL_ActivityReport(): " + std::string(kLock) + " in " +
                                   tmp + " is not a lock file of the run's own."});
        EXPECT_EQ(ReadFile(victim), kSecret);
    }
}

// Fault: a file of the run created with the host's umask instead of 0600, or a descriptor of
// the run, or of the stream editor, numbered 0, 1 or 2 when the host runs with those closed
// (the host's output and the log's records on standard error would land in the report).
TEST_F(WorkingFolderTest, ClosedStandardStreamsAndAnOpenUmaskChangeNoFile)
{
    std::string facts;
    auto note = [&facts, this](const std::string &what, const std::string &name) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(Mode(tmp + "/" + name)));
        facts += what + " " + mode + "; ";
        for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
            char target[256] = "";
            if (readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, 255) > 0 &&
                std::string(target).rfind(tmp, 0) == 0)
                facts += "descriptor " + std::to_string(fd) + " is " + target + "; ";
        }
    };
    AtEdit([&] { note("body", kBody); });
    beforeRename = [&] { note("output", UnfinishedOutput(tmp)); };
    streameditor::SetBeforeRenameHook(BeforeRename);
    EXPECT_TRUE(InChild(geteuid(), [&] {
        umask(0);
        for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
            close(fd);
        const int32_t status = Run();
        WriteFile(dir + "/facts", facts + "status " + std::to_string(status));
        return true;
    }));
    EXPECT_EQ(ReadFile(dir + "/facts"), "body 0600; output 0600; status 0");
    EXPECT_EQ(Mode(tmp + "/" + kLock), 0600u);
}

// Fault: the stream editor's unfinished output of a run killed during the finishing pass left
// for good, or the body it left not replaced.
TEST_F(WorkingFolderTest, WhatARunKilledWhileFinishingLeftGoesWithTheNextRun)
{
    streameditor::SetBeforeRenameHook([] { raise(SIGKILL); });
    EXPECT_FALSE(InChild(geteuid(), [this] { return Run() == kStatusOk; }));
    streameditor::SetBeforeRenameHook(nullptr);
    EXPECT_EQ(Entries(tmp).size(), 3u) << "the lock, the body and the unfinished report";

    EXPECT_EQ(Run(), kStatusOk);
    EXPECT_EQ(Entries(tmp), Texts{kLock});
}

} // namespace
