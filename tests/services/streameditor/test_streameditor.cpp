// Tests of the stream editor stand-in's contract points that the replay of its fuzz corpus (what a
// pass replaces, across read blocks) does not reach: refused commands, the date and time commands,
// paths that are not regular files, a file size limit and failed allocations.

#include "../files.h"
#include "streameditor.h"

#include <algorithm>
#include <csignal>
#include <ctime>
#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Counts down to one failed allocation: n >= 0 fails the n-th from now, -1 none.
static long allocationsBeforeFailure = -1;
void *operator new(size_t size)
{
    void *block = allocationsBeforeFailure >= 0 && allocationsBeforeFailure-- == 0 ? nullptr : std::malloc(size ? size : 1);
    return block ? block : throw std::bad_alloc();
}
#pragma GCC diagnostic ignored "-Wmismatched-new-delete" // free() of malloc()'s blocks, above
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, size_t) noexcept { std::free(block); }

namespace {

struct StreamEditorTest : ::testing::Test {
    TempDir dir;
    const std::string in = dir / "in.ps", out = dir / "out.ps";
    StreamEditorTest() { setenv("DEVICE_LOG", (dir / "log").c_str(), 1), setenv("DEVICE_CONFIG", (dir / "conf").c_str(), 1); }

    // `from` edited into `to` with a replacement, and the date and time commands `withClock`;
    // -1 when a command is refused.
    static int Edit(const std::string &from, const std::string &to, bool withClock = false)
    {
        SedCmdArray *cmds = Sed_CreateCmdArray(3);
        int refused = Sed_AddCommand(cmds, SED_CMD_REPLACE, "__of__", "6f66");
        if (withClock)
            refused |= Sed_AddCommand(cmds, SED_CMD_SYSTEM_DATE, "__date__", "4e2f41") | Sed_AddCommand(cmds, SED_CMD_SYSTEM_TIME, "__time__", "4e2f41");
        const int status = refused ? -1 : Sed_FileEdit(cmds, from.c_str(), to.c_str());
        return Sed_FreeCommands(cmds), status;
    }
    // Temporary outputs ("out.ps.<random>") left behind.
    long Leftovers() const
    {
        return std::count_if(std::filesystem::directory_iterator(dir.path), {},
                             [](const auto &entry) { return entry.path().filename().string().rfind("out.ps.", 0) == 0; });
    }
};

TEST_F(StreamEditorTest, CommandArrayRefusesBadCommandsAndKeepsItsOwnCopies)
{
    EXPECT_EQ(Sed_CreateCmdArray(0), nullptr);
    EXPECT_EQ(Sed_FreeCommands(nullptr), 0);
    SedCmdArray *cmds = Sed_CreateCmdArray(1);
    char find[] = "__a__", replace[] = "41";
    const struct { SedCmdArray *cmds; int type; const char *find, *replace; } refused[] = {
        {nullptr, 1, find, replace}, {cmds, 1, nullptr, replace}, {cmds, 1, find, nullptr},
        {cmds, 1, "", replace}, {cmds, 0, find, replace}, {cmds, 2, find, replace}, {cmds, 8, find, replace}};
    for (const auto &c : refused)
        EXPECT_EQ(Sed_AddCommand(c.cmds, c.type, c.find, c.replace), SED_ERR_ARGUMENT) << c.type << c.find;
    EXPECT_EQ(Sed_AddCommand(cmds, SED_CMD_REPLACE, find, replace), SED_OK);
    find[2] = replace[1] = '2'; // the plug-in reuses one buffer for every command
    EXPECT_EQ(Sed_AddCommand(cmds, SED_CMD_REPLACE, find, replace), SED_ERR_ARGUMENT) << "array full";
    WriteFile(in, "__a____2__");
    EXPECT_EQ(Sed_FileEdit(cmds, in.c_str(), out.c_str()), SED_OK);
    EXPECT_EQ(ReadFile(out), "41__2__");
    EXPECT_EQ(Sed_FileEdit(nullptr, in.c_str(), out.c_str()) | Sed_FileEdit(cmds, nullptr, out.c_str()) |
              Sed_FileEdit(cmds, in.c_str(), nullptr), SED_ERR_ARGUMENT);
    Sed_FreeCommands(cmds);
}

TEST_F(StreamEditorTest, DateAndTimeUseTheDeviceFormatsElseTheReplacementGiven)
{
    WriteFile(in, "<__date__20__time__> <__of__>");
    char year[5];
    const std::time_t now = std::time(nullptr);
    std::strftime(year, sizeof year, "%Y", std::localtime(&now));
    WriteFile(dir / "conf", "OID_ATT_DATE_FORMAT = %Y\nOID_ATT_TIME_FORMAT = T%%\n");
    EXPECT_EQ(Edit(in, out, true), SED_OK);
    EXPECT_EQ(ReadFile(out), "<3" + std::string{year[0]} + "3" + year[1] + "3" + year[2] + "3" + year[3] + "205425> <6f66>");
    setenv("DEVICE_CONFIG", (dir / "empty").c_str(), 1);
    WriteFile(dir / "empty", "OID_ATT_DATE_FORMAT =\nOID_ATT_TIME_FORMAT =\n");
    EXPECT_EQ(Edit(in, out, true), SED_OK);
    EXPECT_EQ(ReadFile(out), "<4e2f41204e2f41> <6f66>");
}

// A FIFO, a device or a directory must neither block the call nor be read without end.
TEST_F(StreamEditorTest, PathsThatAreNotRegularFilesAreRefusedAtOnce)
{
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    WriteFile(in, "<__of__>");
    const struct { std::string from, to; int status; } cases[] = {
        {dir / "missing", out, SED_ERR_OPEN_INPUT}, {dir / "fifo", out, SED_ERR_OPEN_INPUT},
        {"/dev/zero", out, SED_ERR_OPEN_INPUT}, {dir.path, out, SED_ERR_OPEN_INPUT},
        {in, dir / "fifo", SED_ERR_OPEN_OUTPUT}, {in, "/dev/null", SED_ERR_OPEN_OUTPUT},
        {in, dir.path, SED_ERR_OPEN_OUTPUT}, {in, dir / "no/such/out.ps", SED_ERR_OPEN_OUTPUT}};
    for (const auto &c : cases)
        EXPECT_EQ(Edit(c.from, c.to), c.status) << c.from << " to " << c.to;
    EXPECT_EQ(Leftovers(), 0);
}

// Also stands for a full disk: both fail the write, and the previous report must survive whole.
TEST_F(StreamEditorTest, FileSizeLimitGivesNoSpaceAndLeavesThePreviousOutput)
{
    WriteFile(in, std::string(1 << 20, 'x'));
    WriteFile(out, "previous");
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {4096, 4096};
        _exit(setrlimit(RLIMIT_FSIZE, &limit) ? 99 : Edit(in, out));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -status, SED_ERR_NO_SPACE);
    EXPECT_EQ(ReadFile(out), "previous");
    EXPECT_EQ(Leftovers(), 0);
}

// Each allocation of an edit fails in turn: a status every time, never an exception or a partial
// or temporary file.
TEST_F(StreamEditorTest, FailedAllocationGivesAStatusAndLeavesThePreviousOutput)
{
    WriteFile(in, "<__of__>");
    for (long n = 0, failed = 1; failed; ++n) {
        WriteFile(out, "previous");
        allocationsBeforeFailure = n;
        const int status = Edit(in, out);
        failed = allocationsBeforeFailure < 0;
        allocationsBeforeFailure = -1;
        // Sorting the commands may do without its buffer and succeed all the same.
        EXPECT_TRUE(status == SED_OK || status == -1 || status == SED_ERR_MEMORY) << status << " at allocation " << n;
        EXPECT_EQ(ReadFile(out), status == SED_OK ? "<6f66>" : "previous") << "at allocation " << n;
        EXPECT_EQ(Leftovers(), 0);
    }
}

} // namespace
