// Tests of the encoding sniffer stand-in: conversion from a named charset, from the Unicode forms
// with and without byte-order mark, and with the encoding detected.

#include "sniffer.h"

#include <functional>
#include <gtest/gtest.h>
#include <iconv.h>

namespace {

typedef std::function<int(const char *, size_t, char **)> SniffFunction;

struct Sniffed {
    int status;
    bool hasText;
    std::string text;
};

// Runs one sniffer function on `bytes` and takes over its result, releasing it as callers must.
Sniffed Sniff(const SniffFunction &call, const std::string &bytes)
{
    char *result = reinterpret_cast<char *>(1); // a failed call must clear it
    const int status = call(bytes.data(), bytes.size(), &result);
    Sniffed sniffed = {status, result != nullptr, result != nullptr ? result : ""};
    std::free(result);
    return sniffed;
}

SniffFunction ConvertFrom(const char *charset)
{
    return [charset](const char *text, size_t length, char **result) {
        return SNF_Convert(text, length, charset, result);
    };
}

// `text` converted by iconv, which makes the test inputs; "<invalid>" when it does not convert.
std::string Iconv(const std::string &text, const char *from, const char *to)
{
    iconv_t descriptor = iconv_open(to, from);
    std::string out(4 * text.size() + 8, '\0');
    char *in = const_cast<char *>(text.data()), *outPointer = &out[0];
    size_t inLeft = text.size(), outLeft = out.size();
    const bool valid = iconv(descriptor, &in, &inLeft, &outPointer, &outLeft) != static_cast<size_t>(-1);
    iconv_close(descriptor);
    return valid ? out.substr(0, out.size() - outLeft) : "<invalid>";
}

void ExpectText(const Sniffed &sniffed, const std::string &text)
{
    EXPECT_EQ(sniffed.status, 1);
    EXPECT_TRUE(sniffed.hasText);
    EXPECT_EQ(sniffed.text, text);
}

const char kGreeting[] = "Gr\u00fc\u00dfe, \u041f\u0440\u0438\u0432\u0435\u0442!";

TEST(Sniffer, ConvertDecodesTheNamedCharset)
{
    ExpectText(Sniff(ConvertFrom("ISO-8859-1"), "caf\xe9 \xa4"), "caf\u00e9 \u00a4");
    EXPECT_EQ(Sniff(ConvertFrom("ISO-8859-15"), "caf\xe9 \xa4").text, "caf\u00e9 \u20ac");
    EXPECT_EQ(Sniff(ConvertFrom("UTF-8"), "a\xff" "b").text, "a\ufffd" "b") << "undecodable byte";
    EXPECT_EQ(Sniff(ConvertFrom("UTF-8"), "a\xc3").text, "a\ufffd") << "character cut short at the end";

    const Sniffed unknown = Sniff(ConvertFrom("NO-SUCH-CHARSET"), "abc");
    EXPECT_TRUE(unknown.status == 0 && !unknown.hasText) << "a failed call returns 0 and leaves the result NULL";
}

TEST(Sniffer, ConvertUtfReadsEveryUnicodeForm)
{
    for (const char *form : {"UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE", "UTF-8"}) {
        for (const std::string mark : {"", "\ufeff"}) {
            SCOPED_TRACE(form + mark);
            ExpectText(Sniff(SNF_ConvertUTF, Iconv(mark + kGreeting, "UTF-8", form)), kGreeting);
        }
    }
    // Beyond U+07FF only the mark tells the form.
    const std::string chinese = "\u4e2d\u6587 \U0001F600";
    EXPECT_EQ(Sniff(SNF_ConvertUTF, Iconv("\ufeff" + chinese, "UTF-8", "UTF-16BE")).text, chinese);
    EXPECT_EQ(Sniff(SNF_ConvertUTF, "A").text, "A");
    // Undecodable units: a lone high surrogate between two letters, an odd last byte.
    EXPECT_EQ(Sniff(SNF_ConvertUTF, std::string("\xff\xfe" "a\0\x00\xd8" "b\0", 8)).text, "a\ufffd" "b");
    EXPECT_EQ(Sniff(SNF_ConvertUTF, std::string("\xfe\xff\0a\0b" "c", 7)).text, "ab\ufffd");
}

TEST(Sniffer, AutoConvertDetectsTheEncodingAndAlwaysGivesUtf8)
{
    const std::string french = "Le d\u00e9j\u00e0 vu de l'\u00e9t\u00e9 \u00e0 la for\u00eat: "
                               "les \u00e9l\u00e8ves ont re\u00e7u leurs r\u00e9sultats tr\u00e8s t\u00f4t, "
                               "apr\u00e8s la f\u00eate de No\u00ebl.";
    ExpectText(Sniff(SNF_AutoConvert, Iconv(french, "UTF-8", "ISO-8859-1")), french);
    EXPECT_EQ(Sniff(SNF_AutoConvert, french).text, french);
    EXPECT_EQ(Sniff(SNF_AutoConvert, "plain ascii").text, "plain ascii");
    EXPECT_EQ(Sniff(SNF_AutoConvert, Iconv(kGreeting, "UTF-8", "UTF-16LE")).text, kGreeting)
        << "zero bytes: a Unicode form";

    for (const std::string bytes : {"\xff", "\xc3", "\x80\x80\x80", "caf\xe9", "\xe9t\xe9 \xa4",
                                    "\xc3\xa9\xe9"}) {
        Sniffed sniffed = Sniff(SNF_AutoConvert, bytes);
        EXPECT_EQ(sniffed.status, 1) << bytes;
        EXPECT_FALSE(sniffed.text.empty()) << bytes;
        EXPECT_EQ(Iconv(sniffed.text, "UTF-8", "UTF-8"), sniffed.text) << bytes << " gave invalid UTF-8";
    }
}

TEST(Sniffer, EmptyTextSucceedsAndNullArgumentsFail)
{
    for (const SniffFunction &call : {ConvertFrom("ISO-8859-1"), SniffFunction(SNF_ConvertUTF),
                                      SniffFunction(SNF_AutoConvert)}) {
        ExpectText(Sniff(call, ""), "");
        char *result = nullptr;
        EXPECT_EQ(call(nullptr, 3, &result), 0);
        EXPECT_EQ(call("abc", 3, nullptr), 0);
        EXPECT_EQ(result, nullptr);
    }
    char *result = nullptr;
    EXPECT_EQ(SNF_Convert("abc", 3, nullptr, &result), 0);
    EXPECT_EQ(result, nullptr);
}

} // namespace
