// faults.h - the tests' one fault harness: allocations that fail, and calls that fail.
//
// Allocations (library `faults`). The program's malloc, calloc, realloc, the aligned allocators
// and free count over the C library's own, so every allocation of the process passes here: the
// program's, operator new's (which then throws std::bad_alloc), SQLite's, iconv's and those of
// every library it loads. FailAllocation(n) makes the n-th allocation from then on fail with
// ENOMEM, or every one from the n-th on; BlocksInUse() counts the blocks not yet freed, so that a
// test can check that an operation gives back all it took. In the sanitizer build the
// sanitizer's allocator stands behind them, and operator new is replaced too, since the
// sanitizer's does not call malloc.
//
// Calls (library `service_faults`, which adds the real services). A program that links it keeps
// the real services, but the linker's --wrap routes its calls of the functions in faults.cpp
// through this layer first. Each call is appended to `calls` as "name(arguments)"; a call whose
// text starts with a key of `answers` gets the next of those answers (the last one repeats)
// instead of the service's: a status, for Sed_CreateCmdArray NULL, for uname an errno. The job
// tracker and the sniffers are asked anyway and only their status is replaced: a sniffer's text
// must still be freed, and a failing field status always comes with a stale value pointer, so
// that only the status may decide.
#ifndef TESTS_DOUBLES_FAULTS_H
#define TESTS_DOUBLES_FAULTS_H

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace faults {

// ---- Allocations -------------------------------------------------------------------------------

// From now on counts allocations and fails the `nth` (from 1; 0 fails none), or every one from
// the `nth` on when `andLater`. StopAllocationFaults() ends the counting; the counts stay.
void FailAllocation(long nth, bool andLater = false);
void StopAllocationFaults();
long Allocations();       // asked for since FailAllocation()
long FailedAllocations(); // of them, those that failed
long BlocksInUse();       // allocated and not yet freed, at any time

// One run of `operation` with FailAllocation(nth, andLater) around it alone.
struct AllocationRun {
    long nth;         // the allocation that was to fail
    long allocations; // asked for by the run
    bool failed;      // whether one of them failed
    long blocksKept;  // blocks in use after the run less those before
};
AllocationRun RunFailing(long nth, const std::function<void()> &operation, bool andLater = false);

// Runs `operation` with its first allocation failing, then its second, and so on until a run
// asks for fewer than the one to fail; `check(run)` after each run, outside the fault. Returns
// the number of allocations of that last, whole run.
long FailEachAllocationInTurn(const std::function<void()> &operation,
                              const std::function<void(const AllocationRun &run)> &check);

// ---- Calls -------------------------------------------------------------------------------------

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
