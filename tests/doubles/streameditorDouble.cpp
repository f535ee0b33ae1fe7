// Stream-editor double: records the commands and edits with plain find-and-replace.

#include "streameditorDouble.h"

#include "streameditor.h"

#include <fstream>
#include <iterator>
#include <sstream>

struct SedCmdArray {
    int capacity;
    std::vector<streameditorDouble::Command> commands;
};

namespace {

bool failCreate = false;
std::vector<int> capacities;
int addCalls = 0;
int addFailCall = 0;
int addFailResult = 1;
std::string addFailFind;
bool addFailByFind = false;
int addFailFindResult = 1;
std::vector<streameditorDouble::Command> commands;
int editStatus = 0;
std::vector<streameditorDouble::Edit> edits;
int freeCalls = 0;
int freeNullCalls = 0;
int arraysAlive = 0;

std::string ReadFile(const std::string &path, bool *ok)
{
    std::ifstream in(path, std::ios::binary);
    *ok = static_cast<bool>(in);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces every occurrence of each command's find text in turn; replaced text is not scanned
// again by the same command.
std::string ReplaceAll(std::string text, const std::vector<streameditorDouble::Command> &list)
{
    for (const streameditorDouble::Command &command : list) {
        if (command.result != 0 || command.find.empty())
            continue;
        std::string::size_type at = 0;
        while ((at = text.find(command.find, at)) != std::string::npos) {
            text.replace(at, command.find.size(), command.replace);
            at += command.replace.size();
        }
    }
    return text;
}

} // namespace

extern "C" SedCmdArray *Sed_CreateCmdArray(int capacity)
{
    capacities.push_back(capacity);
    if (failCreate || capacity < 1)
        return nullptr;
    ++arraysAlive;
    return new SedCmdArray{capacity, {}};
}

extern "C" int Sed_AddCommand(SedCmdArray *cmds, int type, const char *find, const char *replace)
{
    ++addCalls;
    streameditorDouble::Command command{cmds == nullptr, type, find ? find : "NULL",
                                        replace ? replace : "NULL", 0};
    if (addCalls == addFailCall)
        command.result = addFailResult;
    else if (addFailByFind && command.find == addFailFind)
        command.result = addFailFindResult;
    else if (!cmds || !find || !replace || !*find ||
             static_cast<int>(cmds->commands.size()) >= cmds->capacity)
        command.result = 1;
    commands.push_back(command);
    if (command.result == 0)
        cmds->commands.push_back(command);
    return command.result;
}

extern "C" int Sed_FileEdit(SedCmdArray *cmds, const char *inPath, const char *outPath)
{
    bool readable = false;
    std::string input = inPath ? ReadFile(inPath, &readable) : std::string();
    edits.push_back({inPath ? inPath : "NULL", outPath ? outPath : "NULL", input,
                     cmds ? cmds->commands.size() : 0});
    if (editStatus != 0)
        return editStatus;
    if (!cmds || !inPath || !outPath)
        return SED_ERR_ARGUMENT;
    if (!readable)
        return SED_ERR_OPEN_INPUT;
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    if (!out)
        return SED_ERR_OPEN_OUTPUT;
    out << ReplaceAll(input, cmds->commands);
    return out.good() ? SED_OK : SED_ERR_WRITE;
}

extern "C" int Sed_FreeCommands(SedCmdArray *cmds)
{
    ++freeCalls;
    if (!cmds) {
        ++freeNullCalls;
        return 0;
    }
    --arraysAlive;
    delete cmds;
    return 0;
}

namespace streameditorDouble {

void Reset()
{
    failCreate = false;
    capacities.clear();
    addCalls = 0;
    addFailCall = 0;
    addFailResult = 1;
    addFailFind.clear();
    addFailByFind = false;
    commands.clear();
    editStatus = 0;
    edits.clear();
    freeCalls = 0;
    freeNullCalls = 0;
    arraysAlive = 0;
}

void FailCreate() { failCreate = true; }
const std::vector<int> &Capacities() { return capacities; }

void FailAddOnCall(int n, int result)
{
    addFailCall = addCalls + n;
    addFailResult = result;
}

void FailAddFor(const std::string &find, int result)
{
    addFailByFind = true;
    addFailFind = find;
    addFailFindResult = result;
}

const std::vector<Command> &Commands() { return commands; }

void SetFileEditStatus(int status) { editStatus = status; }
const std::vector<Edit> &Edits() { return edits; }

int FreeCalls() { return freeCalls; }
int FreeNullCalls() { return freeNullCalls; }
int ArraysAlive() { return arraysAlive; }

std::string Apply(const std::string &text) { return ReplaceAll(text, commands); }

} // namespace streameditorDouble
