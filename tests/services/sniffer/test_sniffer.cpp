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
    const std::string latin1 = "d\xe9j\xe0 vu de l'\xe9t\xe9 \xe0 la for\xeat, "
                               "re\xe7u tr\xe8s t\xf4t apr\xe8s No\xebl";
    const struct { const char *how; std::string bytes, text; } cases[] = {
        {.how = "ISO-8859-1", .bytes = "caf\xe9 \xa4", .text = "caf\u00e9 \u00a4"},
        {.how = "NO-SUCH", .bytes = "", .text = kFailed},
        {.how = "UTF-8", .bytes = "a\xff" "b\xc3", .text = "a\ufffd" "b\ufffd"},
        {.how = "UTF-8", .bytes = "\xf5\x80\x80\x80\xf8\x88",
         .text = "\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd"},
        {.how = "UTF-8", .bytes = "\xc1\xbf\xc2\x80\xdf\xbf\xef\xbb\xbf\xf4\x8f\xbf\xbf",
         .text = "\ufffd\ufffd\u0080\u07ff\ufeff\U0010ffff"},
        {.how = kUnicode, .bytes = std::string("\xff\xfe\0\0G\0\0\0", 8), .text = "G"},
        {.how = kUnicode, .bytes = std::string("\0\0\0G\0\0\0\xfc", 8), .text = "G\u00fc"},
        {.how = kUnicode, .bytes = "\x1f\x04\x40\x04", .text = "\u041f\u0440"},
        {.how = kUnicode, .bytes = "\x04\x1f\x04\x40", .text = "\u041f\u0440"},
        {.how = kUnicode, .bytes = std::string("\xfe\xff\x4e\x2d\0a", 6), .text = "\u4e2d" "a"},
        {.how = kUnicode, .bytes = std::string("\xff\xfe" "a\0\x00\xd8" "b\0" "c", 9),
         .text = "a\ufffd" "b\ufffd"},
        {.how = kUnicode, .bytes = "", .text = ""},
        {.how = kAuto, .bytes = latin1, .text = french},
        {.how = kAuto, .bytes = french, .text = french},
        {.how = kAuto, .bytes = std::string("G\0\xfc\0", 4), .text = "G\u00fc"},
        {.how = kAuto, .bytes = "", .text = ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Sniff(c.how, c.bytes), c.text) << c.how << ": " << c.bytes;
}

// Fault: a failed allocation, each in turn, ending otherwise than with 0 and no text, or
// remembered (a later call must convert).
TEST(Sniffer, FailedAllocationsAreNotRemembered)
{
    const char *const alpha = "\u03b1";
    std::string text;
    faults::FailEachAllocationInTurn(
        [&] { text = Sniff("ISO-8859-7", "\xe1"); },
        [&](const faults::AllocationRun &run) {
            if (text != alpha) { // else an allocation it could do without, such as a log record's
                EXPECT_EQ(text, kFailed) << "allocation " << run.nth;
            }
        });
    EXPECT_EQ(text, alpha);
}
