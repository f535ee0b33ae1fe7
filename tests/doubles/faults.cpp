// Fault layer: records the calls, answers what the test programmed, passes the rest on.

#include "faults.h"

#include "config.h"
#include "jtapi.h"
#include "sniffer.h"
#include "streameditor.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <sys/utsname.h>

namespace faults {
State state;
size_t failMallocOf = 0;

std::vector<std::string> Calls(const std::string &prefix)
{
    std::vector<std::string> found;
    for (const std::string &call : state.calls)
        if (call.rfind(prefix, 0) == 0)
            found.push_back(call);
    return found;
}
} // namespace faults

namespace {
using faults::state;

std::string Str(const char *text) { return text ? text : "NULL"; }
std::string Num(long number) { return std::to_string(number); }

// Records `call`; true with `*answer` set when the test programmed an answer for it.
bool Answer(const std::string &call, long *answer)
{
    state.calls.push_back(call);
    if (state.observe)
        state.observe(call);
    for (auto &[key, answers] : state.answers) {
        if (call.rfind(key, 0) != 0 || answers.empty())
            continue;
        *answer = answers.front();
        if (answers.size() > 1)
            answers.erase(answers.begin());
        return true;
    }
    return false;
}

// The programmed answer, or else the service's; a service `asked` anyway is asked first.
template <typename R, typename Service> R Pass(const std::string &call, bool asked, Service service)
{
    R result = asked ? service() : R();
    long answer;
    return Answer(call, &answer) ? R(answer) : asked ? result : service();
}

std::string Kept(int folder, const char *name) // keeps the file's last content for the test
{
    std::ifstream in("/proc/self/fd/" + Num(folder) + "/" + Str(name), std::ios::binary);
    state.removed.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return Str(name);
}

} // namespace

#define WRAP(R, name, parameters, arguments, asked, call)                                       \
    extern "C" R __real_##name parameters;                                                     \
    extern "C" R __wrap_##name parameters                                                      \
    { return Pass<R>(call, asked, [&] { return __real_##name arguments; }); }

WRAP(int32_t, jtapi_release_report_data, (JTAPI_ReportData *r), (r), true,
     "jtapi_release_report_data()")
WRAP(uint32_t, oa_xid_of, (const char *n), (n), false, "oa_xid_of(" + Str(n) + ")")
WRAP(int, TD_GetFormat, (uint16_t id, char *f), (id, f), true, "TD_GetFormat(" + Num(id) + ")")
WRAP(int, SNF_Convert, (const char *t, size_t n, const char *from, char **r), (t, n, from, r),
     true, "SNF_Convert(" + std::string(t, n) + ", " + Num(n) + ", " + Str(from) + ")")
WRAP(int, SNF_ConvertUTF, (const char *t, size_t n, char **r), (t, n, r), true,
     "SNF_ConvertUTF(" + std::string(t, n) + ", " + Num(n) + ")")
WRAP(int, SNF_AutoConvert, (const char *t, size_t n, char **r), (t, n, r), true,
     "SNF_AutoConvert(" + std::string(t, n) + ", " + Num(n) + ")")
WRAP(int, Trans_Init, (void), (), false, "Trans_Init()")
WRAP(int, Trans_TranslateString, (const char *l, unsigned id, const char **t), (l, id, t), false,
     "Trans_TranslateString(" + Str(l) + ", " + Num(id) + ")")
WRAP(int, Trans_ConvertUTF8StringToHex, (char *o, const char *t, int m), (o, t, m), false,
     "Trans_ConvertUTF8StringToHex(" + Str(t) + ", " + Num(m) + ")")
WRAP(SedCmdArray *, Sed_CreateCmdArray, (int c), (c), false, "Sed_CreateCmdArray(" + Num(c) + ")")
WRAP(int, Sed_AddCommand, (SedCmdArray *a, int type, const char *f, const char *r),
     (a, type, f, r), false, "Sed_AddCommand(" + Str(f) + ", " + Num(type) + ", " + Str(r) + ")")
WRAP(int, Sed_FileEdit, (SedCmdArray *a, const char *i, const char *o), (a, i, o), false,
     "Sed_FileEdit(" + Str(i) + ", " + Str(o) + ")")
WRAP(int, unlinkat, (int d, const char *p, int f), (d, p, f), false, "unlinkat(" + Kept(d, p) + ")")
WRAP(int, Sed_FreeCommands, (SedCmdArray *a), (a), true,
     a ? "Sed_FreeCommands(array)" : "Sed_FreeCommands(NULL)")

extern "C" int32_t __real_jtapi_get_field_data(JTAPI_ReportData *, int32_t, int32_t, int32_t,
                                               void **, int32_t *);
extern "C" int32_t __wrap_jtapi_get_field_data(JTAPI_ReportData *r, int32_t field, int32_t job,
                                               int32_t address, void **value, int32_t *aux)
{
    static char stale[64] = "\xff\xff\xff\xffSTALE";
    int32_t status = __real_jtapi_get_field_data(r, field, job, address, value, aux);
    long answer;
    if (Answer("jtapi_get_field_data(" + Num(field) + "/" + Num(job) + "/" + Num(address) + ")",
               &answer))
        status = static_cast<int32_t>(answer);
    else if (status != 0 && state.missingFieldStatus >= 0)
        status = state.missingFieldStatus;
    if (status != 0)
        *value = stale;
    return status;
}

extern "C" int __real_uname(struct utsname *);
extern "C" int __wrap_uname(struct utsname *host)
{
    long error;
    if (!Answer("uname()", &error))
        return __real_uname(host);
    errno = static_cast<int>(error);
    return -1;
}

extern "C" void *__real_malloc(size_t);
extern "C" void *__wrap_malloc(size_t size)
{ return size == faults::failMallocOf ? nullptr : __real_malloc(size); }
