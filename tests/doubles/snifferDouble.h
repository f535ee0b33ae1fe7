/*
 * snifferDouble.h - control of the encoding sniffer's test double.
 *
 * Each call is recorded with its function name, the text (up to its NUL), the length passed and,
 * for SNF_Convert, the source charset. By default a call returns 1 and a malloc'd copy of the
 * text's first `length` bytes, prefixed with the output prefix (default empty), so a test can tell
 * the sniffer's result from the input.
 */
#ifndef TESTS_DOUBLES_SNIFFERDOUBLE_H
#define TESTS_DOUBLES_SNIFFERDOUBLE_H

#include <cstddef>
#include <string>
#include <vector>

namespace snifferDouble {

struct Call {
    std::string function; // "SNF_Convert", "SNF_ConvertUTF" or "SNF_AutoConvert"
    std::string text;
    size_t length;
    std::string charset;  // SNF_Convert only
};

void Reset();
const std::vector<Call> &Calls();

// What `function` returns from now on, and whether it still hands out a malloc'd result with it
// (a result given with a failing status tests that the caller releases it).
void SetReturn(const std::string &function, int result, bool giveResult);
// Text put in front of every converted result.
void SetOutputPrefix(const std::string &prefix);

} // namespace snifferDouble

#endif
