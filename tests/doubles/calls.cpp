// Call faults (faults.h): records the calls, answers what the test programmed, passes the rest on.
//
// The WRAP lines below are the one list of wrapped calls: CMakeLists.txt reads the names from
// them and has the linker route each through its __wrap_ function here.

#include "faults.h"

#include "config.h"
#include "jtapi.h"
#include "sniffer.h"
#include "streameditor.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>
#include <sys/utsname.h>

namespace faults {
State state;

std::vector<std::string> Calls(const std::string &name)
{
    std::vector<std::string> found;
    for (const std::string &call : state.calls) {
        if (call.size() > name.size() && call.compare(0, name.size(), name) == 0 &&
            call[name.size()] == '(')
            found.push_back(call);
    }
    return found;
}
} // namespace faults

namespace {
using faults::state;

std::string Str(const char *text) { return text ? text : "NULL"; }
std::string Num(long number) { return std::to_string(number); }

// The answer of the first fault that names this call and strikes at it. Every fault naming the
// call counts it, whether it strikes or not.
std::optional<long> Answer(const char *name, const char *call)
{
    std::optional<long> answer;
    for (faults::Fault &fault : state.faults) {
        if (fault.call != name && fault.call != call)
            continue;
        ++fault.matched;
        const bool strikes =
            fault.once ? fault.matched == fault.nth : fault.matched >= fault.nth;
        if (strikes && !answer)
            answer = fault.answer;
    }
    return answer;
}

std::optional<long> Recorded(const char *name, const std::string &arguments)
{
    const std::string call = std::string(name) + "(" + arguments + ")";
    state.calls.push_back(call);
    if (state.observe)
        state.observe(call);
    return Answer(name, call.c_str());
}

// How a wrapped call answers. Replaced: the fault's answer instead of the service, which is not
// asked. Asked: the service is asked anyway and only its result replaced. Unrecorded: as
// Replaced, but not recorded, and with nothing allocated on the way: the program's own
// allocations (gtest's among them) start before main().
enum How { kReplaced, kAsked, kUnrecorded };

template <How how>
struct Answered {
    template <typename Real>
    auto operator()(const char *name, const std::string &arguments, Real real) const
    {
        using R = decltype(real());
        if constexpr (how == kAsked) {
            const R result = real();
            const std::optional<long> answer = Recorded(name, arguments);
            return answer ? R(*answer) : result;
        } else {
            const std::optional<long> answer =
                how == kUnrecorded ? Answer(name, name) : Recorded(name, arguments);
            return answer ? R(*answer) : real();
        }
    }
};
using Replaced = Answered<kReplaced>;
using Asked = Answered<kAsked>;
using Unrecorded = Answered<kUnrecorded>;

// The answer is an errno; the call then returns -1.
struct Errno {
    template <typename Real>
    int operator()(const char *name, const std::string &arguments, Real real) const
    {
        const std::optional<long> answer = Recorded(name, arguments);
        if (!answer)
            return real();
        errno = static_cast<int>(*answer);
        return -1;
    }
};

// The job tracker is asked anyway; a failing status, its own or the fault's, comes with a stale
// value pointer, so that only the status may decide.
struct FieldStatus {
    void **value;
    template <typename Real>
    int32_t operator()(const char *name, const std::string &arguments, Real real) const
    {
        static char stale[64] = "\xff\xff\xff\xffSTALE";
        int32_t status = real();
        const std::optional<long> answer = Recorded(name, arguments);
        if (answer)
            status = static_cast<int32_t>(*answer);
        else if (status != 0 && state.missingFieldStatus >= 0)
            status = state.missingFieldStatus;
        if (status != 0)
            *value = stale;
        return status;
    }
};

std::string Kept(int folder, const char *name) // keeps the file's last content for the test
{
    std::ifstream in("/proc/self/fd/" + Num(folder) + "/" + Str(name), std::ios::binary);
    state.removed.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return Str(name);
}

} // namespace

// WRAP(result type, name, parameters, arguments, how it answers, recorded arguments)
#define WRAP(R, name, parameters, arguments, how, recorded)                                   \
    extern "C" R __real_##name parameters;                                                   \
    extern "C" R __wrap_##name parameters                                                    \
    {                                                                                         \
        return how(#name, recorded, [&] { return __real_##name arguments; });               \
    }

WRAP(void *, malloc, (size_t size), (size), Unrecorded(), "")
WRAP(int, unlinkat, (int d, const char *p, int f), (d, p, f), Replaced(), Kept(d, p))
WRAP(int, uname, (struct utsname *host), (host), Errno(), "")
WRAP(int32_t, jtapi_get_field_data,
     (JTAPI_ReportData *r, int32_t field, int32_t job, int32_t address, void **value,
      int32_t *aux),
     (r, field, job, address, value, aux), FieldStatus{value},
     Num(field) + "/" + Num(job) + "/" + Num(address))
WRAP(int32_t, jtapi_release_report_data, (JTAPI_ReportData *r), (r), Asked(), "")
WRAP(uint32_t, oa_xid_of, (const char *n), (n), Replaced(), Str(n))
WRAP(int, TD_GetFormat, (uint16_t id, char *f), (id, f), Asked(), Num(id))
WRAP(int, SNF_Convert, (const char *t, size_t n, const char *from, char **r), (t, n, from, r),
     Asked(), std::string(t, n) + ", " + Num(n) + ", " + Str(from))
WRAP(int, SNF_ConvertUTF, (const char *t, size_t n, char **r), (t, n, r), Asked(),
     std::string(t, n) + ", " + Num(n))
WRAP(int, SNF_AutoConvert, (const char *t, size_t n, char **r), (t, n, r), Asked(),
     std::string(t, n) + ", " + Num(n))
WRAP(int, Trans_Init, (void), (), Replaced(), "")
WRAP(int, Trans_TranslateString, (const char *l, unsigned id, const char **t), (l, id, t),
     Replaced(), Str(l) + ", " + Num(id))
WRAP(int, Trans_ConvertUTF8StringToHex, (char *o, const char *t, int m), (o, t, m), Replaced(),
     Str(t) + ", " + Num(m))
WRAP(SedCmdArray *, Sed_CreateCmdArray, (int c), (c), Replaced(), Num(c))
WRAP(int, Sed_AddCommand, (SedCmdArray *a, int type, const char *f, const char *r),
     (a, type, f, r), Replaced(), Str(f) + ", " + Num(type) + ", " + Str(r))
WRAP(int, Sed_FileEdit, (SedCmdArray *a, const char *i, const char *o), (a, i, o), Replaced(),
     Str(i) + ", " + Str(o))
WRAP(int, Sed_FreeCommands, (SedCmdArray *a), (a), Asked(), a ? "array" : "NULL")
