// Tests of the encoding sniffer stand-in: conversion from a named charset, from the Unicode forms
// with and without byte-order mark, with the encoding detected, and under injected shortages.

#include "faults.h"
#include "sniffer.h"

#include <gtest/gtest.h>

// SNF_AutoConvert, SNF_ConvertUTF; any other name: SNF_Convert from that charset.
const char *const kAuto = "auto", *const kUnicode = "unicode";
const char kFailed[] = "<failed>";

// The text one call hands out, released as callers must; kFailed when it returns 0 and leaves
// NULL.
std::string Sniff(const char *how, const std::string &bytes)
{
    char *out = reinterpret_cast<char *>(1);
    const int status = how == kAuto      ? SNF_AutoConvert(bytes.data(), bytes.size(), &out)
                       : how == kUnicode ? SNF_ConvertUTF(bytes.data(), bytes.size(), &out)
                                         : SNF_Convert(bytes.data(), bytes.size(), how, &out);
    const std::string text = status == 1 && out ? out : status == 0 && !out ? kFailed : "<broken>";
    std::free(status == 1 ? out : nullptr);
    return text;
}

TEST(Sniffer, EveryFunctionGivesValidUtf8OrFails)
{
    const std::string french = "d\u00e9j\u00e0 vu de l'\u00e9t\u00e9 \u00e0 la for\u00eat, "
                               "re\u00e7u tr\u00e8s t\u00f4t apr\u00e8s No\u00ebl";
    const struct { const char *how; std::string bytes, text; } cases[] = {
        {"ISO-8859-1", "caf\xe9 \xa4", "caf\u00e9 \u00a4"}, {"NO-SUCH", "", kFailed},
        {"UTF-8", "a\xff" "b\xc3", "a\ufffd" "b\ufffd"},
        {"UTF-8", "\xf5\x80\x80\x80\xf8\x88", "\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd"},
        {"UTF-8", "\xc1\xbf\xc2\x80\xdf\xbf\xef\xbb\xbf\xf4\x8f\xbf\xbf",
         "\ufffd\ufffd\u0080\u07ff\ufeff\U0010ffff"},
        {kUnicode, std::string("\xff\xfe\0\0G\0\0\0", 8), "G"},
        {kUnicode, std::string("\0\0\0G\0\0\0\xfc", 8), "G\u00fc"},
        {kUnicode, "\x1f\x04\x40\x04", "\u041f\u0440"},
        {kUnicode, "\x04\x1f\x04\x40", "\u041f\u0440"},
        {kUnicode, std::string("\xfe\xff\x4e\x2d\0a", 6), "\u4e2d" "a"},
        {kUnicode, std::string("\xff\xfe" "a\0\x00\xd8" "b\0" "c", 9), "a\ufffd" "b\ufffd"},
        {kAuto,
         "d\xe9j\xe0 vu de l'\xe9t\xe9 \xe0 la for\xeat, re\xe7u tr\xe8s t\xf4t apr\xe8s No\xebl",
         french},
        {kAuto, french, french}, {kAuto, std::string("G\0\xfc\0", 4), "G\u00fc"}, {kAuto, "", ""},
        {kUnicode, "", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Sniff(c.how, c.bytes), c.text) << c.how << ": " << c.bytes;
}

// Fault: a failed allocation, each in turn, ending otherwise than with 0 and no text, or
// remembered (a later call must convert); a pair once opened opened again at each call.
TEST(Sniffer, FailedAllocationsAreNotRemembered)
{
    const char *const alpha = "\u03b1";
    std::string text;
    faults::FailEachAllocationInTurn(
        [&] { text = Sniff("ISO-8859-7", "\xe1"); },
        [&](const faults::AllocationRun &run) {
            SCOPED_TRACE("allocation " + std::to_string(run.nth));
            if (text != alpha) { // else an allocation it could do without, such as a log record's
                EXPECT_EQ(text, kFailed);
            }
        });
    EXPECT_EQ(text, alpha);
    // Another name of the same charset is a pair of its own, whose module is loaded by now: its
    // first conversion asks for the memory of an opening, its second must not.
    const auto greek = [&] { text = Sniff("ELOT_928", "\xe1"); };
    const long opening = faults::RunFailing(0, greek).allocations;
    EXPECT_EQ(text, alpha);
    EXPECT_LT(faults::RunFailing(0, greek).allocations, opening) << "a pair opened again";
}
