// The stream editor against the obvious replacer: random commands, whose texts are pieces of the
// input so that they occur in it, over a random body read in random small blocks. Commands that
// break the rules (no array, array full, empty find text, no such type) must be refused.
// Input: block-size byte (0: the default); a byte for the command count and the array's capacity
// (0 to 8: 0 gives no array); per command four bytes (find start, find length and type,
// replacement start and length; starts taken modulo the body's size); then the body.

#include "../../tests/services/files.h"
#include "streameditor.h"
#include "streameditor_internal.h"

#include <cstdio>
#include <vector>

namespace {

struct Command { std::string find, replace; };

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

// One folder for every input, removed when the run ends, with the log and the date and time
// formats.
const TempDir workDir;
const bool configured = [] {
    WriteFile(workDir / "conf", "OID_ATT_DATE_FORMAT = D\nOID_ATT_TIME_FORMAT = T\n");
    return setenv("DEVICE_CONFIG", (workDir / "conf").c_str(), 1) == 0 &&
           setenv("DEVICE_LOG", (workDir / "log").c_str(), 1) == 0;
}();

void Check(bool ok, const char *fault)
{
    if (ok)
        return;
    std::fprintf(stderr, "%s\n", fault);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto byte = [&](size_t i) -> size_t { return i < size ? data[i] : 0; };
    const size_t count = 1 + byte(1) % 8, capacity = byte(1) / 8 % 9, header = 2 + 4 * count;
    const std::string body(data + std::min(size, header), data + size);
    // Command texts are C strings: a piece ends at its first NUL byte.
    auto piece = [&](size_t i, size_t length) {
        return body.empty() ? "" : std::string(body.substr(byte(i) % body.size(), length).c_str());
    };
    std::vector<Command> commands;
    SedCmdArray *cmds = Sed_CreateCmdArray(static_cast<int>(capacity));
    for (size_t at = 2; at < header; at += 4) {
        // Mostly type 1, then the date and time (the configured formats' texts "D" and "T"), then
        // types that do not exist.
        const size_t kind = byte(at + 1);
        const int type = kind < 128 ? SED_CMD_REPLACE : static_cast<int>(kind / 16) - 2;
        const std::string find = piece(at, 1 + kind % 12);
        const std::string replace = piece(at + 2, byte(at + 3) % 12);
        const bool known =
            type == SED_CMD_REPLACE || type == SED_CMD_SYSTEM_DATE || type == SED_CMD_SYSTEM_TIME;
        const bool valid = capacity > 0 && !find.empty() && commands.size() < capacity && known;
        const int added = Sed_AddCommand(cmds, type, find.c_str(), replace.c_str());
        Check((added == SED_OK) == valid, "a command wrongly refused or accepted");
        // The date and time commands write the hex of the configured formats' texts.
        const std::string written =
            type == SED_CMD_SYSTEM_DATE ? "44" : type == SED_CMD_SYSTEM_TIME ? "54" : replace;
        if (valid)
            commands.push_back({find, written});
    }
    const std::string in = workDir / "in", out = workDir / "out";
    WriteFile(in, body);
    streameditor::SetReadBlockSize(byte(0));
    const int status = Sed_FileEdit(cmds, in.c_str(), out.c_str());
    Sed_FreeCommands(cmds);
    Check(status == (capacity > 0 ? SED_OK : SED_ERR_ARGUMENT), "an edit failed");
    Check(capacity == 0 || ReadFile(out) == ReferenceEdit(commands, body),
          "an output other than the reference replacer's");
    return 0;
}

