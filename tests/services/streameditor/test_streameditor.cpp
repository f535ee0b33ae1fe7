// Tests of the stream editor stand-in under faults: paths that are not regular files and a file size
// limit. What an edit replaces, across read blocks, and which commands are refused, the replay of
// the fuzz corpus (fuzz/streameditor) checks against a reference replacer; failed allocations, the
// plug-in's robustness test injects into whole runs through the real stand-ins.

#include "../files.h"
#include "streameditor.h"

#include <algorithm>
#include <csignal>
#include <sys/resource.h>

namespace {

// `from` edited into `to` by one replacement.
int Edit(const std::string &from, const std::string &to)
{
    SedCmdArray *cmds = Sed_CreateCmdArray(1);
    const int status = Sed_AddCommand(cmds, SED_CMD_REPLACE, "__of__", "6f66") ? -1 : Sed_FileEdit(cmds, from.c_str(), to.c_str());
    return Sed_FreeCommands(cmds), status;
}

// A FIFO, a device or a directory must neither block the call nor be read without end; a file
// size limit stands for a full disk. Each leaves the previous report whole and no temporary file.
TEST(StreamEditorTest, EachFaultGivesItsStatusAndLeavesThePreviousOutput)
{
    TempDir dir;
    const std::string in = dir / "in.ps", out = dir / "out.ps";
    setenv("DEVICE_LOG", (dir / "log").c_str(), 1);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    WriteFile(in, "<__of__>" + std::string(1 << 20, 'x'));
    WriteFile(out, "previous");
    const struct { std::string from, to; int status; rlim_t fileSizeLimit = RLIM_INFINITY; } cases[] = {
        {dir / "missing", out, SED_ERR_OPEN_INPUT}, {dir / "fifo", out, SED_ERR_OPEN_INPUT},
        {"/dev/zero", out, SED_ERR_OPEN_INPUT}, {dir.path, out, SED_ERR_OPEN_INPUT},
        {in, dir / "fifo", SED_ERR_OPEN_OUTPUT}, {in, "/dev/null", SED_ERR_OPEN_OUTPUT},
        {in, dir.path, SED_ERR_OPEN_OUTPUT}, {in, dir / "no/such/out.ps", SED_ERR_OPEN_OUTPUT},
        {in, out, SED_ERR_NO_SPACE, 4096}};
    std::signal(SIGXFSZ, SIG_IGN);
    for (const auto &c : cases) {
        rlimit limit;
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit lowered = {std::min(c.fileSizeLimit, limit.rlim_max), limit.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
        EXPECT_EQ(Edit(c.from, c.to), c.status) << c.from << " to " << c.to;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    EXPECT_EQ(ReadFile(out), "previous");
    auto temporary = [](const auto &entry) { return entry.path().filename().string().rfind("out.ps.", 0) == 0; };
    EXPECT_EQ(std::count_if(std::filesystem::directory_iterator(dir.path), {}, temporary), 0) << "a temporary output left";
    // Then a success replaces it, the output passing through the editor's write buffer several times.
    EXPECT_EQ(Edit(in, out), SED_OK);
    EXPECT_EQ(ReadFile(out), "<6f66>" + std::string(1 << 20, 'x'));
}

} // namespace
