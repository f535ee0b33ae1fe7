/*
 * streameditorDouble.h - control of the stream editor's test double.
 *
 * Records every call. Command arrays are real heap objects, so an array the caller forgets to
 * free shows as a leak and one freed twice as a double free under the sanitizers. By default
 * Sed_FileEdit writes the output file with every find text of every command replaced by the
 * command's replacement text (types 6 and 7 included), which is enough for a whole run.
 */
#ifndef TESTS_DOUBLES_STREAMEDITORDOUBLE_H
#define TESTS_DOUBLES_STREAMEDITORDOUBLE_H

#include <string>
#include <vector>

namespace streameditorDouble {

struct Command {
    bool toNullArray; // Sed_AddCommand was given the NULL handle
    int type;
    std::string find, replace;
    int result;       // what the double answered
};

struct Edit {
    std::string inPath, outPath;
    std::string input; // the input file's content at the time of the edit ("" if unreadable)
    size_t commands;   // commands in the array at the time
};

void Reset();

// Sed_CreateCmdArray.
void FailCreate();
const std::vector<int> &Capacities(); // one entry per call

// Sed_AddCommand: the n-th call from now fails with `result` (1 = the next), or every call for
// one find text does.
void FailAddOnCall(int n, int result = 1);
void FailAddFor(const std::string &find, int result = 1);
const std::vector<Command> &Commands(); // every call, failed ones included

// Sed_FileEdit answers `status` without writing when it is not 0.
void SetFileEditStatus(int status);
const std::vector<Edit> &Edits();

// Sed_FreeCommands.
int FreeCalls();
int FreeNullCalls();
int ArraysAlive(); // created and not yet freed

// The text after every replacement of the commands so far, as the default edit writes it.
std::string Apply(const std::string &text);

} // namespace streameditorDouble

#endif
