// Allocation faults (faults.h): counting entry points in front of the real allocator. The program
// defines malloc and its siblings, so the dynamic linker binds every library's calls to them, the
// C library's own included. Behind them is the C library's allocator, or in the sanitizer build
// (FAULTS_BEHIND_SANITIZER) the sanitizer's, whose operator new does not go through malloc: there
// ours replaces it.

#include "faults.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>

#ifdef FAULTS_BEHIND_SANITIZER
#define REAL(name) __interceptor_##name
#else
#define REAL(name) __libc_##name
#endif

namespace {

// Plain atomics, constant-initialised: allocations start before any constructor runs.
std::atomic<bool> counting{false};
std::atomic<long> failAt{0};
std::atomic<long> asked{0};
std::atomic<bool> failed{false};
std::atomic<long> inUse{0};

// Counts one allocation asked for; true when it is to fail.
bool Fails()
{
    if (!counting.load(std::memory_order_relaxed))
        return false;
    const bool fails = ++asked == failAt.load();
    if (fails) {
        failed = true;
        errno = ENOMEM;
    }
    return fails;
}

void *Counted(void *block)
{
    if (block)
        ++inUse;
    return block;
}

} // namespace

namespace faults {

long BlocksInUse() { return inUse; }

AllocationRun RunFailing(long nth, const std::function<void()> &operation)
{
    const long blocksBefore = BlocksInUse();
    asked = 0;
    failed = false;
    failAt = nth;
    counting = true;
    operation();
    counting = false;
    return {nth, asked, failed, BlocksInUse() - blocksBefore};
}

long FailEachAllocationInTurn(const std::function<void()> &operation,
                              const std::function<void(const AllocationRun &run)> &check)
{
    for (long nth = 1;; ++nth) {
        const AllocationRun run = RunFailing(nth, operation);
        check(run);
        if (!run.failed)
            return run.allocations;
    }
}

} // namespace faults

extern "C" {
void *REAL(malloc)(size_t size);
void *REAL(calloc)(size_t count, size_t size);
void *REAL(realloc)(void *block, size_t size);
void *REAL(memalign)(size_t alignment, size_t size);
void *REAL(valloc)(size_t size);
void *REAL(pvalloc)(size_t size);
void REAL(free)(void *block);

void *malloc(size_t size) noexcept { return Fails() ? nullptr : Counted(REAL(malloc)(size)); }

void *calloc(size_t count, size_t size) noexcept
{
    return Fails() ? nullptr : Counted(REAL(calloc)(count, size));
}

// realloc(block, 0) frees the block; only a request for memory can fail.
void *realloc(void *block, size_t size) noexcept
{
    if (block && size == 0) {
        --inUse;
        return REAL(realloc)(block, size);
    }
    if (Fails())
        return nullptr;
    void *moved = REAL(realloc)(block, size);
    return block ? moved : Counted(moved);
}

void *reallocarray(void *block, size_t count, size_t size) noexcept
{
    if (size != 0 && count > SIZE_MAX / size) {
        errno = ENOMEM;
        return nullptr;
    }
    return realloc(block, count * size);
}

void *memalign(size_t alignment, size_t size) noexcept
{
    return Fails() ? nullptr : Counted(REAL(memalign)(alignment, size));
}

void *aligned_alloc(size_t alignment, size_t size) noexcept { return memalign(alignment, size); }

int posix_memalign(void **block, size_t alignment, size_t size) noexcept
{
    if (alignment % sizeof(void *) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void *aligned = memalign(alignment, size);
    if (!aligned)
        return ENOMEM;
    *block = aligned;
    return 0;
}

void *valloc(size_t size) noexcept { return Fails() ? nullptr : Counted(REAL(valloc)(size)); }
void *pvalloc(size_t size) noexcept { return Fails() ? nullptr : Counted(REAL(pvalloc)(size)); }

void free(void *block) noexcept
{
    if (block)
        --inUse;
    REAL(free)(block);
}
}

#ifdef FAULTS_BEHIND_SANITIZER
// The sanitizer's own strdup allocates without malloc, and its blocks come back through ours.
extern "C" char *strndup(const char *text, size_t most) noexcept
{
    const size_t length = strnlen(text, most);
    char *copy = static_cast<char *>(std::malloc(length + 1));
    if (copy) {
        std::memcpy(copy, text, length);
        copy[length] = '\0';
    }
    return copy;
}
extern "C" char *strdup(const char *text) noexcept { return strndup(text, SIZE_MAX); }

// Out of line, so that the compiler does not take the free() below for a mismatch with new.
__attribute__((noinline)) void *operator new(size_t size)
{
    void *block = std::malloc(size ? size : 1);
    return block ? block : throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void *block) noexcept { std::free(block); }
void *operator new[](size_t size) { return ::operator new(size); }
void *operator new(size_t size, const std::nothrow_t &) noexcept { return std::malloc(size); }
void *operator new[](size_t size, const std::nothrow_t &) noexcept { return std::malloc(size); }
void operator delete[](void *block) noexcept { ::operator delete(block); }
void operator delete(void *block, size_t) noexcept { ::operator delete(block); }
void operator delete[](void *block, size_t) noexcept { ::operator delete(block); }
#endif
