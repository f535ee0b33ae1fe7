// faults.h - faults injected between the plug-in and the real services.
//
// A test program that links the `service_faults` library keeps the real services, but the
// linker's --wrap routes its calls of the functions in faults.cpp through this layer first. Each
// call is appended to `calls` as "name(arguments)"; a call whose text starts with a key of
// `answers` gets the next of those answers (the last one repeats) instead of the service's:
// a status, for Sed_CreateCmdArray NULL, for uname an errno. The job tracker and the sniffers
// are asked anyway and only their status is replaced: a sniffer's text must still be freed,
// and a failing field status always comes with a stale value pointer, so that only the status
// may decide.
#ifndef TESTS_DOUBLES_FAULTS_H
#define TESTS_DOUBLES_FAULTS_H

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace faults {

struct State {
    std::vector<std::string> calls;
    std::map<std::string, std::vector<long>> answers;
    int missingFieldStatus = -1; // >= 0: a missing job-tracker field answers this status
    std::string removed;         // the content of the latest file removed
    std::function<void(const std::string &call)> observe; // sees every call as it is made
};
extern State state;

// The recorded calls that start with `prefix`.
std::vector<std::string> Calls(const std::string &prefix);

// malloc() of exactly this size fails (0: none does). Plain, so it works before main().
extern size_t failMallocOf;

} // namespace faults

#endif
