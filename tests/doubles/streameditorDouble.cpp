// Stream-editor double: records the commands and edits with plain find-and-replace.

#include "doubles.h"

#include "streameditor.h"

#include <fstream>
#include <iterator>

struct SedCmdArray {
    size_t capacity;
    std::vector<streameditorDouble::Command> commands;
};

namespace streameditorDouble { State state; }

using streameditorDouble::state;

extern "C" SedCmdArray *Sed_CreateCmdArray(int capacity)
{
    state.capacities.push_back(capacity);
    if (state.failCreate || capacity < 1)
        return nullptr;
    ++state.arraysAlive;
    return new SedCmdArray{static_cast<size_t>(capacity), {}};
}

extern "C" int Sed_AddCommand(SedCmdArray *cmds, int type, const char *find, const char *replace)
{
    streameditorDouble::Command command{type, find ? find : "NULL", replace ? replace : "NULL", 0};
    if (!state.refusedFind.empty() && command.find == state.refusedFind)
        command.result = state.refusedResult;
    else if (!cmds || !find || !*find || !replace || cmds->commands.size() >= cmds->capacity)
        command.result = SED_ERR_ARGUMENT;
    state.commands.push_back(command);
    if (command.result == 0)
        cmds->commands.push_back(command);
    return command.result;
}

extern "C" int Sed_FileEdit(SedCmdArray *cmds, const char *inPath, const char *outPath)
{
    std::ifstream in(inPath ? inPath : "", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    state.edits.push_back({inPath ? inPath : "NULL", outPath ? outPath : "NULL", text});
    if (state.editStatus != 0)
        return state.editStatus;
    if (!cmds || !in || !outPath)
        return SED_ERR_ARGUMENT;
    // Each command replaces every occurrence in turn; its own replacements are not scanned again.
    for (const streameditorDouble::Command &command : cmds->commands) {
        for (size_t at = text.find(command.find); at != std::string::npos;
             at = text.find(command.find, at + command.replace.size()))
            text.replace(at, command.find.size(), command.replace);
    }
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out << text;
    return out.good() ? SED_OK : SED_ERR_WRITE;
}

extern "C" int Sed_FreeCommands(SedCmdArray *cmds)
{
    ++state.freeCalls;
    if (!cmds) {
        ++state.freeNullCalls;
        return 0;
    }
    --state.arraysAlive;
    delete cmds;
    return 0;
}
