// Tests of the encoding sniffer stand-in: conversion from a named charset, from the Unicode forms
// with and without byte-order mark, and with the encoding detected.

#include "sniffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iconv.h>
#include <string>

namespace {

struct Sniffed {
    int status;
    bool hasText;
    std::string text;
};

// Runs one sniffer function on `bytes` and takes over its result, releasing it as callers must.
template <typename Call>
Sniffed Sniff(const std::string &bytes, Call call)
{
    char *result = reinterpret_cast<char *>(1); // a failed call must clear it
    const int status = call(bytes.data(), bytes.size(), &result);
    Sniffed sniffed = {status, result != nullptr, result != nullptr ? result : ""};
    std::free(result);
    return sniffed;
}

Sniffed Convert(const std::string &bytes, const char *charset)
{
    return Sniff(bytes, [charset](const char *text, size_t length, char **result) {
        return SNF_Convert(text, length, charset, result);
    });
}

Sniffed ConvertUtf(const std::string &bytes)
{
    return Sniff(bytes, SNF_ConvertUTF);
}

Sniffed AutoConvert(const std::string &bytes)
{
    return Sniff(bytes, SNF_AutoConvert);
}

std::string Utf16(const std::u16string &text, bool littleEndian, bool withMark)
{
    std::string bytes;
    auto put = [&bytes, littleEndian](char16_t unit) {
        const char low = static_cast<char>(unit & 0xff), high = static_cast<char>(unit >> 8);
        bytes += littleEndian ? low : high;
        bytes += littleEndian ? high : low;
    };
    if (withMark)
        put(0xFEFF);
    for (char16_t unit : text)
        put(unit);
    return bytes;
}

std::string Utf32(const std::u32string &text, bool littleEndian, bool withMark)
{
    std::string bytes;
    auto put = [&bytes, littleEndian](char32_t unit) {
        for (int i = 0; i < 4; ++i) {
            const int shift = littleEndian ? 8 * i : 8 * (3 - i);
            bytes += static_cast<char>((unit >> shift) & 0xff);
        }
    };
    if (withMark)
        put(0xFEFF);
    for (char32_t unit : text)
        put(unit);
    return bytes;
}

bool IsValidUtf8(const std::string &text)
{
    iconv_t descriptor = iconv_open("UTF-8", "UTF-8");
    char *in = const_cast<char *>(text.data());
    size_t inLeft = text.size();
    std::string out(text.size() + 1, '\0');
    char *outPointer = &out[0];
    size_t outLeft = out.size();
    const bool valid = iconv(descriptor, &in, &inLeft, &outPointer, &outLeft) != static_cast<size_t>(-1);
    iconv_close(descriptor);
    return valid;
}

const char kGreeting[] = "Gr\u00fc\u00dfe, \u041f\u0440\u0438\u0432\u0435\u0442!";
const char16_t kGreeting16[] = u"Gr\u00fc\u00dfe, \u041f\u0440\u0438\u0432\u0435\u0442!";
const char32_t kGreeting32[] = U"Gr\u00fc\u00dfe, \u041f\u0440\u0438\u0432\u0435\u0442!";

TEST(SnifferConvert, DecodesTheNamedCharset)
{
    Sniffed latin1 = Convert("caf\xe9 \xa4", "ISO-8859-1");
    EXPECT_EQ(latin1.status, 1);
    EXPECT_EQ(latin1.text, "caf\u00e9 \u00a4");
    EXPECT_EQ(Convert("caf\xe9 \xa4", "ISO-8859-15").text, "caf\u00e9 \u20ac");
    EXPECT_EQ(Convert("a\xff" "b", "UTF-8").text, "a\ufffd" "b") << "undecodable byte";
    EXPECT_EQ(Convert("a\xc3", "UTF-8").text, "a\ufffd") << "character cut short at the end";

    Sniffed empty = Convert("", "ISO-8859-1");
    EXPECT_EQ(empty.status, 1);
    EXPECT_TRUE(empty.hasText);
    EXPECT_EQ(empty.text, "");

    Sniffed unknown = Convert("abc", "NO-SUCH-CHARSET");
    EXPECT_EQ(unknown.status, 0);
    EXPECT_FALSE(unknown.hasText) << "a failed call leaves the result NULL";
    char *result = nullptr;
    EXPECT_EQ(SNF_Convert(nullptr, 3, "UTF-8", &result), 0);
    EXPECT_EQ(SNF_Convert("abc", 3, nullptr, &result), 0);
    EXPECT_EQ(SNF_Convert("abc", 3, "UTF-8", nullptr), 0);
    EXPECT_EQ(result, nullptr);
}

TEST(SnifferConvertUtf, ReadsUtf16WithOrWithoutByteOrderMark)
{
    for (bool littleEndian : {true, false}) {
        for (bool withMark : {true, false}) {
            Sniffed sniffed = ConvertUtf(Utf16(kGreeting16, littleEndian, withMark));
            EXPECT_EQ(sniffed.status, 1);
            EXPECT_EQ(sniffed.text, kGreeting) << "little-endian " << littleEndian << ", mark " << withMark;
        }
    }
    // Beyond U+07FF only the mark tells the form.
    EXPECT_EQ(ConvertUtf(Utf16(u"\u4e2d\u6587 \U0001F600", false, true)).text, "\u4e2d\u6587 \U0001F600");
}

TEST(SnifferConvertUtf, ReadsUtf32AndUtf8)
{
    for (bool littleEndian : {true, false}) {
        for (bool withMark : {true, false}) {
            Sniffed sniffed = ConvertUtf(Utf32(kGreeting32, littleEndian, withMark));
            EXPECT_EQ(sniffed.status, 1);
            EXPECT_EQ(sniffed.text, kGreeting) << "little-endian " << littleEndian << ", mark " << withMark;
        }
    }
    EXPECT_EQ(ConvertUtf(kGreeting).text, kGreeting);
    EXPECT_EQ(ConvertUtf(std::string("\xef\xbb\xbf") + kGreeting).text, kGreeting) << "mark dropped";
    EXPECT_EQ(ConvertUtf("A").text, "A");

    Sniffed empty = ConvertUtf("");
    EXPECT_EQ(empty.status, 1);
    EXPECT_TRUE(empty.hasText);
    EXPECT_EQ(empty.text, "");
}

TEST(SnifferConvertUtf, ReplacesUndecodableUnits)
{
    // A lone high surrogate between two letters, then an odd last byte.
    const std::string loneSurrogate = Utf16(u"a", true, true) + std::string("\x00\xd8", 2) + Utf16(u"b", true, false);
    EXPECT_EQ(ConvertUtf(loneSurrogate).text, "a\ufffd" "b");
    Sniffed oddLength = ConvertUtf(Utf16(u"ab", false, true) + "c");
    EXPECT_EQ(oddLength.status, 1);
    EXPECT_EQ(oddLength.text, "ab\ufffd");
}

TEST(SnifferAutoConvert, DetectsLatin1AndUtf8)
{
    const std::string latin1 = "Le d\xe9j\xe0 vu de l'\xe9t\xe9 \xe0 la for\xeat: les \xe9l\xe8ves ont re\xe7u "
                               "leurs r\xe9sultats tr\xe8s t\xf4t, apr\xe8s la f\xeate de No\xebl.";
    const std::string utf8 = "Le d\u00e9j\u00e0 vu de l'\u00e9t\u00e9 \u00e0 la for\u00eat: les \u00e9l\u00e8ves "
                             "ont re\u00e7u leurs r\u00e9sultats tr\u00e8s t\u00f4t, apr\u00e8s la f\u00eate de No\u00ebl.";
    Sniffed fromLatin1 = AutoConvert(latin1);
    EXPECT_EQ(fromLatin1.status, 1);
    EXPECT_EQ(fromLatin1.text, utf8);
    EXPECT_EQ(AutoConvert(utf8).text, utf8);
    EXPECT_EQ(AutoConvert("plain ascii").text, "plain ascii");
    EXPECT_EQ(AutoConvert(Utf16(kGreeting16, true, false)).text, kGreeting) << "zero bytes: a Unicode form";

    Sniffed empty = AutoConvert("");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.text, "");
}

TEST(SnifferAutoConvert, AlwaysGivesUtf8)
{
    for (const std::string bytes : {"\xff", "\xc3", "\x80\x80\x80", "caf\xe9", "\xe9t\xe9 \xa4", "\xc3\xa9\xe9"}) {
        Sniffed sniffed = AutoConvert(bytes);
        EXPECT_EQ(sniffed.status, 1) << bytes;
        EXPECT_TRUE(IsValidUtf8(sniffed.text)) << bytes << " gave " << sniffed.text;
        EXPECT_FALSE(sniffed.text.empty()) << bytes;
    }
    char *result = nullptr;
    EXPECT_EQ(SNF_AutoConvert(nullptr, 1, &result), 0);
    EXPECT_EQ(SNF_ConvertUTF(nullptr, 1, &result), 0);
}

} // namespace
