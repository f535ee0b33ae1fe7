// uname() of the test program: the kernel's answer, or a programmed failure.

#include "doubles.h"

#include <cerrno>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace unameDouble { State state; }

extern "C" int uname(struct utsname *buf) noexcept
{
    ++unameDouble::state.calls;
    if (unameDouble::state.failWith != 0) {
        errno = unameDouble::state.failWith;
        return -1;
    }
    return static_cast<int>(syscall(SYS_uname, buf));
}
