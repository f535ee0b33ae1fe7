// Tests of the fault harness itself: which allocation fails, how each way of allocating sees the
// failure, and the count of blocks in use.

#include "faults.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <new>

namespace {

void *volatile kept; // the compiler may not drop an allocation whose block is stored here

// True when `block` was given; gives it back.
bool Given(void *block)
{
    kept = block;
    std::free(block);
    return block != nullptr;
}

bool NewGives()
{
    try {
        char *block = new char[16];
        kept = block;
        delete[] block;
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

// Fault: another allocation failing, or a later one too, the count off, a failure without ENOMEM
// or one that does not reach operator new; a block not counted when allocated, or when freed.
// (A sweep that stops before a whole run fails the services' tests, which expect the last run
// whole.)
TEST(Faults, OnlyTheNthAllocationFailsWhicheverWayItIsAsked)
{
    const struct {
        const char *name;
        bool (*allocates)();
        long perFailure = 0; // allocations a failure adds (std::bad_alloc is thrown in one)
    } ways[] = {
        {.name = "malloc", .allocates = [] { return Given(std::malloc(16)); }},
        {.name = "calloc", .allocates = [] { return Given(std::calloc(2, 8)); }},
        {.name = "realloc", .allocates = [] { return Given(std::realloc(nullptr, 8)); }},
        {.name = "aligned_alloc", .allocates = [] { return Given(std::aligned_alloc(64, 64)); }},
        {.name = "operator new", .allocates = NewGives, .perFailure = 1},
    };
    const long kAllocations = 3, kFailing = 2;
    for (const auto &way : ways) {
        bool got[kAllocations] = {};
        int error = 0;
        const faults::AllocationRun run = faults::RunFailing(kFailing, [&] {
            for (long i = 0; i < kAllocations; ++i) {
                got[i] = way.allocates();
                if (i + 1 == kFailing)
                    error = errno;
            }
        });
        EXPECT_TRUE(got[0]) << way.name;
        EXPECT_FALSE(got[1]) << way.name;
        EXPECT_TRUE(got[2]) << way.name;
        EXPECT_EQ(error, ENOMEM) << way.name;
        EXPECT_EQ(run.allocations, kAllocations + way.perFailure) << way.name;
        EXPECT_EQ(run.blocksKept, 0) << way.name;
    }
}

// Fault: realloc counting a block it moved, or not giving back one it freed.
TEST(Faults, ReallocCountsOnlyTheBlocksItMakes)
{
    const long before = faults::BlocksInUse();
    kept = std::realloc(std::malloc(8), 4096);
    EXPECT_EQ(faults::BlocksInUse(), before + 1);
    EXPECT_EQ(std::realloc(kept, 0), nullptr);
    EXPECT_EQ(faults::BlocksInUse(), before);
}

} // namespace
