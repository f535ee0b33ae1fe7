// Encoding-sniffer double: records the call, answers the programmed result.

#include "doubles.h"

#include "sniffer.h"

#include <cstdlib>
#include <cstring>

namespace snifferDouble { State state; }

namespace {

int Respond(const char *function, const char *text, size_t length, const char *charset,
            char **result)
{
    using snifferDouble::state;
    state.calls.push_back(std::string(function) + "(" + text + ", " + std::to_string(length) +
                          (charset ? std::string(", ") + charset : "") + ")");
    std::string converted = state.prefix + std::string(text, length);
    *result = static_cast<char *>(std::malloc(converted.size() + 1));
    std::memcpy(*result, converted.c_str(), converted.size() + 1);
    return state.results.count(function) ? state.results[function] : 1;
}

} // namespace

extern "C" {
int SNF_Convert(const char *text, size_t length, const char *fromCharset, char **result)
{ return Respond("SNF_Convert", text, length, fromCharset ? fromCharset : "NULL", result); }
int SNF_ConvertUTF(const char *text, size_t length, char **result)
{ return Respond("SNF_ConvertUTF", text, length, nullptr, result); }
int SNF_AutoConvert(const char *text, size_t length, char **result)
{ return Respond("SNF_AutoConvert", text, length, nullptr, result); }
}
