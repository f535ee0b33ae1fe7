// Tests of the stream editor stand-in under faults: paths that are not regular files, a file size
// limit, files that are not the caller's own, and temporary outputs that calls left behind. What
// an edit replaces, across read blocks, and which commands are refused, the replay of the fuzz
// corpus (fuzz/streameditor) checks against a reference replacer; failed allocations, the
// plug-in's robustness test injects into whole runs through the real stand-ins; swaps during an
// edit and a killed edit, the plug-in's tests of its working folder.

#include "../files.h"
#include "streameditor.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>

namespace {

// `from` edited into `to` by one replacement.
int Edit(const std::string &from, const std::string &to)
{
    SedCmdArray *cmds = Sed_CreateCmdArray(1);
    const int status = Sed_AddCommand(cmds, SED_CMD_REPLACE, "__of__", "6f66")
                           ? -1
                           : Sed_FileEdit(cmds, from.c_str(), to.c_str());
    Sed_FreeCommands(cmds);
    return status;
}

// A FIFO or a device must neither block the call nor be read without end; a file size limit
// stands for a full disk, and its SIGXFSZ, left at its default, must not end the caller. Each
// leaves the previous report whole and no temporary file. (A folder or a device fails the same
// check of the file's type as a FIFO does, on either side.)
TEST(StreamEditorTest, EachFaultGivesItsStatusAndLeavesThePreviousOutput)
{
    TempDir dir;
    const std::string in = dir / "in.ps", out = dir / "out.ps";
    setenv("DEVICE_LOG", (dir / "log").c_str(), 1);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    WriteFile(in, "<__of__>" + std::string(1 << 20, 'x'));
    WriteFile(out, "previous");
    const struct {
        std::string from, to;
        int wantStatus;
        rlim_t fileSizeLimit = RLIM_INFINITY;
    } cases[] = {
        {.from = dir / "missing", .to = out, .wantStatus = SED_ERR_OPEN_INPUT},
        {.from = dir / "fifo", .to = out, .wantStatus = SED_ERR_OPEN_INPUT},
        {.from = "/dev/zero", .to = out, .wantStatus = SED_ERR_OPEN_INPUT},
        {.from = in, .to = dir / "fifo", .wantStatus = SED_ERR_OPEN_OUTPUT},
        {.from = in, .to = dir / "no/such/out.ps", .wantStatus = SED_ERR_OPEN_OUTPUT},
        {.from = in, .to = out, .wantStatus = SED_ERR_NO_SPACE, .fileSizeLimit = 4096}};
    std::signal(SIGXFSZ, SIG_DFL);
    for (const auto &c : cases) {
        rlimit limit;
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit lowered = {std::min(c.fileSizeLimit, limit.rlim_max), limit.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
        EXPECT_EQ(Edit(c.from, c.to), c.wantStatus) << c.from << " to " << c.to;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    EXPECT_EQ(ReadFile(out), "previous");
    EXPECT_EQ(Entries(dir.path), (std::vector<std::string>{"fifo", "in.ps", "log", "out.ps"}));
    // Then a success replaces it, the output passing through the editor's write buffer many times.
    EXPECT_EQ(Edit(in, out), SED_OK);
    EXPECT_EQ(ReadFile(out), "<6f66>" + std::string(1 << 20, 'x'));
}

// Fault: an input read through a link, or one that another user owns or could swap (in a folder
// of theirs) for a link to a root-only file; another user's output replaced in a sticky folder.
// (Which folders are verified, the platform layer's tests show.)
TEST(StreamEditorTest, OnlyTheCallersOwnFilesInVerifiedFoldersAreEdited)
{
    REQUIRE_ROOT();
    TempDir dir;
    setenv("DEVICE_LOG", (dir / "log").c_str(), 1);
    ASSERT_EQ(mkdir((dir / "theirs").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir / "sticky").c_str(), 0700), 0);
    ASSERT_EQ(chmod((dir / "sticky").c_str(), 01777), 0);
    for (const char *file : {"own.ps", "others.ps", "theirs/in.ps", "sticky/out.ps"})
        WriteFile(dir / file, "<__of__>");
    ASSERT_EQ(symlink("own.ps", (dir / "link.ps").c_str()), 0);
    for (const char *file : {"others.ps", "theirs", "sticky/out.ps"})
        ASSERT_EQ(chown((dir / file).c_str(), kOtherUid, kOtherUid), 0);
    const struct {
        const char *name, *from, *to; // in the test's folder
        int wantStatus;
    } cases[] = {
        {.name = "a link", .from = "link.ps", .to = "out.ps", .wantStatus = SED_ERR_OPEN_INPUT},
        {.name = "another user's input", .from = "others.ps", .to = "out.ps",
         .wantStatus = SED_ERR_OPEN_INPUT},
        {.name = "another user's folder", .from = "theirs/in.ps", .to = "out.ps",
         .wantStatus = SED_ERR_OPEN_INPUT},
        {.name = "another user's output", .from = "own.ps", .to = "sticky/out.ps",
         .wantStatus = SED_ERR_OPEN_OUTPUT},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Edit(dir / c.from, dir / c.to), c.wantStatus) << c.name;
    EXPECT_EQ(ReadFile(dir / "sticky/out.ps"), "<__of__>");
}

// Fault: a temporary output of a call that died left for good; one of a live call, a name the
// editor never makes, or another output's removed. (That the output is private whatever the
// umask, the plug-in's tests of its working folder show.)
TEST(StreamEditorTest, OnlyLeftoversOfDeadCallsAreRemoved)
{
    TempDir dir;
    setenv("DEVICE_LOG", (dir / "log").c_str(), 1);
    const std::vector<std::string> kept = {"in.ps", "log", "other.ps.deadDEAD", "out.ps",
                                           "out.ps.bad-name", "out.ps.liveLIVE", "out.ps.short"};
    for (const std::string &name : kept)
        WriteFile(dir / name, "<__of__>");
    WriteFile(dir / "out.ps.deadDEAD", "left by a call that was killed");
    const int live = open((dir / "out.ps.liveLIVE").c_str(), O_RDWR);
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    ASSERT_EQ(fcntl(live, F_OFD_SETLK, &whole), 0) << "as a live call holds its output";
    EXPECT_EQ(Edit(dir / "in.ps", dir / "out.ps"), SED_OK);
    close(live);
    EXPECT_EQ(Entries(dir.path), kept);
}

} // namespace
