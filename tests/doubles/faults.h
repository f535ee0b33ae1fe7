// faults.h - the tests' one fault harness: allocations that fail, and calls that fail.
//
// Allocations (library `faults`). The program's malloc, calloc, realloc, the aligned allocators
// and free count over the C library's own, so every allocation of the process passes here: the
// program's, operator new's (which then throws std::bad_alloc), SQLite's, iconv's and those of
// every library it loads. RunFailing(n, operation) makes the n-th allocation of the operation
// fail; BlocksInUse() counts the blocks not yet freed, so that a test can check that an
// operation gives back all it took. In the sanitizer build the
// sanitizer's allocator stands behind them, and operator new is replaced too, since the
// sanitizer's does not call malloc.
//
// Calls (library `service_faults`, which adds the real services). Each call the program's own
// objects make of a function on a WRAP line of calls.cpp passes here first (the linker's --wrap,
// set up from those lines): it is recorded in `state.calls` as "name(arguments)", and a Fault in
// `state.faults` that names it, by its exact name or by its exact recorded text, answers instead
// of the service from the fault's nth matching call on. The job tracker, the sniffers,
// TD_GetFormat and Sed_FreeCommands are asked anyway and only their status is replaced: a
// sniffer's text must still be freed, and a failing field status always comes with a stale value
// pointer, so that only the status decides. malloc is listed so that a test can fail the
// program's own n-th malloc; its calls are not recorded.
#ifndef TESTS_DOUBLES_FAULTS_H
#define TESTS_DOUBLES_FAULTS_H

#include <functional>
#include <string>
#include <vector>

namespace faults {

// ---- Allocations -------------------------------------------------------------------------------

long BlocksInUse(); // allocated and not yet freed, at any time

// One run of `operation` with its `nth` allocation (from 1; 0 fails none) failing with ENOMEM.
struct AllocationRun {
    long nth;         // the allocation that was to fail
    long allocations; // asked for by the run
    bool failed;      // whether one of them failed
    long blocksKept;  // blocks in use after the run less those before
};
AllocationRun RunFailing(long nth, const std::function<void()> &operation);

// Runs `operation` with its first allocation failing, then its second, and so on until a run
// asks for fewer than the one to fail; `check(run)` after each run, outside the fault. Returns
// the number of allocations of that last, whole run.
long FailEachAllocationInTurn(const std::function<void()> &operation,
                              const std::function<void(const AllocationRun &run)> &check);

// ---- Calls -------------------------------------------------------------------------------------

// A call that fails: from its `nth` matching call on (or at that one only, when `once`) it gives
// `answer` instead of the service's result: a status; NULL for Sed_CreateCmdArray and malloc;
// for uname an errno, with -1 returned.
struct Fault {
    std::string call; // an exact name ("Sed_FileEdit") or recorded text ("oa_xid_of(X)")
    long answer = 0;
    long nth = 1;
    bool once = false;
    long matched = 0; // calls that matched so far
};

struct State {
    std::vector<std::string> calls; // every call made, as "name(arguments)"; malloc's are not
    std::vector<Fault> faults;
    int missingFieldStatus = -1; // >= 0: a missing job-tracker field answers this status
    std::string removed;         // the content of the latest file removed
    std::function<void(const std::string &call)> observe; // sees every call as it is made
};
extern State state;

// The recorded calls of the function named exactly `name`.
std::vector<std::string> Calls(const std::string &name);

} // namespace faults

#endif
