// The stream editor against the obvious replacer: random find/replace commands, whose texts are
// pieces of the input so that they occur in it, over a random body read in random small blocks.
// Input: block-size byte (0: the default), command-count byte, then per command four bytes (find
// start and length, replacement start and length, taken modulo the body's size), then the body.
//
// Built with -DARL_FUZZ_REPLAY instead of libFuzzer, it runs every file of the folders it is given
// once, so that the test suite replays the corpus.

#include "streameditor.h"
#include "streameditor_internal.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Command {
    std::string find, replace;
};

// At each position the longest find text that starts there (the first added of equal ones), else
// one byte copied; replacements are never scanned again.
std::string ReferenceEdit(const std::vector<Command> &commands, const std::string &body)
{
    std::string output;
    for (size_t pos = 0; pos < body.size();) {
        const Command *best = nullptr;
        for (const Command &command : commands)
            if (body.compare(pos, command.find.size(), command.find) == 0 &&
                (!best || command.find.size() > best->find.size()))
                best = &command;
        output += best ? best->replace : body.substr(pos, 1);
        pos += best ? best->find.size() : 1;
    }
    return output;
}

std::string ReadAll(const std::string &path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// One folder for every input, in memory where the machine has /dev/shm.
const std::string &WorkDir()
{
    static std::string dir = [] {
        std::string pattern = access("/dev/shm", W_OK) ? "/tmp/fuzz-edit-XXXXXX" : "/dev/shm/fuzz-edit-XXXXXX";
        setenv("DEVICE_LOG", (std::string(mkdtemp(&pattern[0])) + "/log.txt").c_str(), 1);
        return pattern;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto byte = [&](size_t i) -> size_t { return i < size ? data[i] : 0; };
    const size_t count = 1 + byte(1) % 8, header = 2 + 4 * count;
    const std::string body(data + std::min(size, header), data + size);
    // Command texts are C strings: a piece ends at its first NUL byte.
    auto piece = [&](size_t i, size_t length) {
        return body.empty() ? "_" : std::string(body.substr(byte(i) % body.size(), length).c_str());
    };
    std::vector<Command> commands;
    SedCmdArray *cmds = Sed_CreateCmdArray(static_cast<int>(count));
    for (size_t c = 0, at = 2; c < count; ++c, at += 4) {
        commands.push_back({piece(at, 1 + byte(at + 1) % 12), piece(at + 2, byte(at + 3) % 12)});
        if (Sed_AddCommand(cmds, SED_CMD_REPLACE, commands.back().find.c_str(), commands.back().replace.c_str()) != 0)
            commands.pop_back(); // an empty find text is refused
    }
    const std::string in = WorkDir() + "/in", out = WorkDir() + "/out";
    std::ofstream(in, std::ios::binary) << body;
    streameditor::SetReadBlockSize(byte(0));
    const int status = Sed_FileEdit(cmds, in.c_str(), out.c_str());
    Sed_FreeCommands(cmds);
    if (status != SED_OK || ReadAll(out) != ReferenceEdit(commands, body)) {
        std::fprintf(stderr, "status %d, or the output differs from the reference replacer\n", status);
        std::abort();
    }
    return 0;
}

#ifdef ARL_FUZZ_REPLAY
int main(int argc, char **argv)
{
    int inputs = 0;
    for (int i = 1; i < argc; ++i)
        for (const auto &entry : std::filesystem::directory_iterator(argv[i])) {
            const std::string input = ReadAll(entry.path());
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
            ++inputs;
        }
    std::printf("%d inputs replayed\n", inputs);
    return inputs == 0;
}
#endif
