// uname() of the test program: the kernel's answer, or a programmed failure.

#include "unameDouble.h"

#include <cerrno>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

int failWith = 0;
int calls = 0;

} // namespace

extern "C" int uname(struct utsname *buf) noexcept
{
    ++calls;
    if (failWith != 0) {
        errno = failWith;
        return -1;
    }
    return static_cast<int>(syscall(SYS_uname, buf));
}

namespace unameDouble {

void Reset()
{
    failWith = 0;
    calls = 0;
}

void Fail(int error) { failWith = error; }
int Calls() { return calls; }

std::string RealNodeName()
{
    struct utsname name;
    if (syscall(SYS_uname, &name) != 0)
        return std::string();
    return name.nodename;
}

} // namespace unameDouble
