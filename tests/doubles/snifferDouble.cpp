// Encoding-sniffer double: records the call, answers the programmed status.

#include "snifferDouble.h"

#include "sniffer.h"

#include <cstdlib>
#include <cstring>
#include <map>

namespace {

struct Answer {
    int result = 1;
    bool giveResult = true;
};

std::vector<snifferDouble::Call> calls;
std::map<std::string, Answer> answers;
std::string outputPrefix;

int Respond(const char *function, const char *text, size_t length, const char *charset,
           char **result)
{
    calls.push_back({function, text ? text : "NULL", length, charset ? charset : ""});
    const Answer &answer = answers[function];
    if (!result)
        return 0;
    *result = nullptr;
    if (answer.giveResult && text) {
        std::string converted = outputPrefix + std::string(text, length);
        *result = static_cast<char *>(std::malloc(converted.size() + 1));
        std::memcpy(*result, converted.c_str(), converted.size() + 1);
    }
    return answer.result;
}

} // namespace

extern "C" int SNF_Convert(const char *text, size_t length, const char *fromCharset, char **result)
{
    return Respond("SNF_Convert", text, length, fromCharset ? fromCharset : "NULL", result);
}

extern "C" int SNF_ConvertUTF(const char *text, size_t length, char **result)
{
    return Respond("SNF_ConvertUTF", text, length, nullptr, result);
}

extern "C" int SNF_AutoConvert(const char *text, size_t length, char **result)
{
    return Respond("SNF_AutoConvert", text, length, nullptr, result);
}

namespace snifferDouble {

void Reset()
{
    calls.clear();
    answers.clear();
    outputPrefix.clear();
}

const std::vector<Call> &Calls() { return calls; }

void SetReturn(const std::string &function, int result, bool giveResult)
{
    answers[function] = {result, giveResult};
}

void SetOutputPrefix(const std::string &prefix) { outputPrefix = prefix; }

} // namespace snifferDouble
