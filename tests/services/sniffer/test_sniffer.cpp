// Tests of the encoding sniffer stand-in: conversion from a named charset, from the Unicode forms
// with and without byte-order mark, with the encoding detected, and under an injected shortage.

#include "../translation/iconvFault.h"
#include "sniffer.h"

#include <gtest/gtest.h>

const char *const kAuto = "auto", *const kUnicode = "unicode"; // SNF_AutoConvert, SNF_ConvertUTF; else SNF_Convert

// The text one call hands out, released as callers must; "<failed>" when it returns 0 and leaves NULL.
std::string Sniff(const char *how, const std::string &bytes)
{
    char *out = reinterpret_cast<char *>(1);
    const int status = how == kAuto      ? SNF_AutoConvert(bytes.data(), bytes.size(), &out)
                       : how == kUnicode ? SNF_ConvertUTF(bytes.data(), bytes.size(), &out)
                                         : SNF_Convert(bytes.data(), bytes.size(), how, &out);
    const std::string text = status == 1 && out ? out : status == 0 && !out ? "<failed>" : "<broken>";
    std::free(status == 1 ? out : nullptr);
    return text;
}

TEST(Sniffer, EveryFunctionGivesValidUtf8OrFails)
{
    const std::string french = "d\u00e9j\u00e0 vu de l'\u00e9t\u00e9 \u00e0 la for\u00eat, re\u00e7u tr\u00e8s t\u00f4t apr\u00e8s No\u00ebl";
    const struct { const char *how; std::string bytes, text; } cases[] = {
        {"ISO-8859-1", "caf\xe9 \xa4", "caf\u00e9 \u00a4"}, {"NO-SUCH", "", "<failed>"},
        {"UTF-8", "a\xff" "b\xc3", "a\ufffd" "b\ufffd"}, {"UTF-8", "\xf5\x80\x80\x80\xf8\x88", "\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd"},
        {"UTF-8", "\xc1\xbf\xc2\x80\xdf\xbf\xef\xbb\xbf\xf4\x8f\xbf\xbf", "\ufffd\ufffd\u0080\u07ff\ufeff\U0010ffff"},
        {kUnicode, std::string("\xff\xfe\0\0G\0\0\0", 8), "G"}, {kUnicode, std::string("\0\0\0G\0\0\0\xfc", 8), "G\u00fc"},
        {kUnicode, "\x1f\x04\x40\x04", "\u041f\u0440"}, {kUnicode, "\x04\x1f\x04\x40", "\u041f\u0440"},
        {kUnicode, std::string("\xfe\xff\x4e\x2d\0a", 6), "\u4e2d" "a"},
        {kUnicode, std::string("\xff\xfe" "a\0\x00\xd8" "b\0" "c", 9), "a\ufffd" "b\ufffd"},
        {kAuto, "d\xe9j\xe0 vu de l'\xe9t\xe9 \xe0 la for\xeat, re\xe7u tr\xe8s t\xf4t apr\xe8s No\xebl", french},
        {kAuto, french, french}, {kAuto, std::string("G\0\xfc\0", 4), "G\u00fc"}, {kAuto, "", ""}, {kUnicode, "", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Sniff(c.how, c.bytes), c.text) << c.how << ": " << c.bytes;
    iconvShortage = true;
    EXPECT_EQ(Sniff("ISO-8859-7", "\xe1"), "<failed>");
    iconvShortage = false;
    EXPECT_EQ(Sniff("ISO-8859-7", "\xe1"), "\u03b1") << "a shortage is not remembered";
    iconvShortage = true;
    EXPECT_EQ(Sniff("ISO-8859-7", "\xe1"), "\u03b1") << "a pair once opened is opened again";
    iconvShortage = false;
}
