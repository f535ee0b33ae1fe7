// Text conversion: integers as hex text, bounded and escaped copies, conversion to UTF-8 and to
// the hex text of the printer encoding.

#include "pluginFixture.h"

#include <climits>
#include <stdexcept>

namespace {

using namespace std::string_literals;

using TextConversionTest = PluginTest;

std::string Take(char *text)
{
    std::string copy = text ? text : "NULL";
    std::free(text);
    return copy;
}

// Fault: wrong digits or case, the sign lost, the size off by one at either bound (the text and
// its NUL exactly filling maxBytes is allowed), a negative maxBytes taken as large, or `out`
// written on failure or beyond the NUL.
TEST_F(TextConversionTest, ConvertIntToHexStringAtItsBounds)
{
    const std::tuple<int32_t, int32_t, int32_t, std::string> cases[] = {
        // value, maxBytes, result, what `out` holds (empty: untouched)
        {0, 3, 3, "30"}, {0, 2, -1, ""}, {-7, 511, 5, "2d37"}, {255, 511, 7, "323535"},
        {INT32_MIN, 23, 23, "2d32313437343833363438"}, {INT32_MIN, 22, -1, ""},
        {INT32_MAX, 21, 21, "32313437343833363437"}, {INT32_MAX, 20, -1, ""}, {0, -1, -1, ""},
        {5, INT32_MIN, -1, ""}};
    for (const auto &[value, maxBytes, result, hex] : cases) {
        SCOPED_TRACE(std::to_string(value) + " in " + std::to_string(maxBytes));
        ResetDoubles();
        std::string out(40, 'Z');
        EXPECT_EQ(ConvertIntToHexString(&out[0], value, maxBytes), result);
        const std::string written = hex.empty() ? "" : hex + '\0';
        EXPECT_EQ(out, written + std::string(40 - written.size(), 'Z'));
        EXPECT_EQ(logs.records,
                  result > 0 ? Texts{}
                             : Texts{"L3 ConvertIntToHexString() insufficient memory allocated "
                                     "for output string."});
    }
}

// Fault: a copy overrunning maxBytes or not terminated inside it; a plain copy not padded, or
// truncating without the warning (or warning without truncating); an escape split by the bound or
// written without room for its NUL, a cut plain byte warned about, the wrong warning; a NULL
// pointer or a zero size written through, the checks in the wrong order (a NULL pointer with a bad
// type reports the pointer), or a bad type copying anyway.
TEST_F(TextConversionTest, CopyStringAtItsBounds)
{
    const std::string cut = "WARN CopyString() input string being truncated";
    const std::string pointer = "ERROR CopyString() sent to or from pointer.";
    const int32_t plain = COPY_PLAIN, escaped = COPY_POSTSCRIPT_ESCAPED;
    char dst[16];
    const std::tuple<char *, const char *, uint32_t, int32_t, std::string, std::string> cases[] = {
        // dst, src, maxBytes, type, the first bytes of dst (empty: untouched), record (or none)
        {dst, "abcd", 5, plain, "abcd\0"s, ""},
        {dst, "abcde", 5, plain, "abcd\0"s, cut + "."},
        {dst, "ab", 5, plain, "ab\0\0\0"s, ""},
        {dst, "ab(c", 5, escaped, "ab\\(\0"s, ""},
        {dst, "ab(", 4, escaped, "ab\0"s, cut + " (open paren)."},
        {dst, "abcde", 5, escaped, "abcd\0"s, ""},
        {dst, "a)b\\", 10, escaped, "a\\)b\\\\\0"s, ""},
        {dst, "abc)", 5, escaped, "abc\0"s, cut + " (close paren)."},
        {dst, "abc\\", 5, escaped, "abc\0"s, cut + " (backslash)."},
        {dst, "(", 3, escaped, "\\(\0"s, ""},
        {dst, "(", 2, escaped, "\0"s, cut + " (open paren)."},
        {dst, nullptr, 5, 3, "", pointer},
        {nullptr, "abc", 5, plain, "", pointer},
        {dst, "abc", 0, escaped, "", "ERROR CopyString() sent maxBytes of zero."},
        {dst, "abc", 5, 3, "", "ERROR CopyString() sent invalid string type."}};
    for (const auto &[to, src, maxBytes, type, written, record] : cases) {
        SCOPED_TRACE(std::string(src ? src : "NULL") + " in " + std::to_string(maxBytes) +
                     ", type " + std::to_string(type));
        ResetDoubles();
        std::memset(dst, 'Z', sizeof dst);

        CopyString(to, src, maxBytes, type);

        const std::string expected = written.empty() ? std::string(16, 'Z') : written;
        EXPECT_EQ(std::string(dst, expected.size()), expected);
        EXPECT_EQ(std::string(dst + maxBytes, 16 - maxBytes), std::string(16 - maxBytes, 'Z'));
        EXPECT_EQ(logs.records, record.empty() ? Texts{} : Texts{record});
    }
}

// Fault: the system charset read at every call or never stored, its default or its records
// wrong, or looked up for a NULL text.
TEST_F(TextConversionTest, SystemCharsetIsLookedUpOnceOnFirstUse)
{
    SetSystemCharset(nullptr);
    unsetenv("SYSTEM_CHARSET");
    EXPECT_EQ(ARL_CvtToUtf8(nullptr, 1, 0), nullptr);
    EXPECT_EQ(ARL_STATE.transLibEncoding, nullptr);
    EXPECT_EQ(Take(ARL_CvtToUtf8("abc", 1, 0)), "abc");
    setenv("SYSTEM_CHARSET", "UTF-8", 1);
    EXPECT_EQ(Take(ARL_CvtToUtf8("def", 1, 0)), "def");
    EXPECT_EQ(logs.records, (Texts{"L3 ARL_CvtToUtf8(): received NULL inStr.",
                                   "L3 ARL_CvtToUtf8(): getenv(SYSTEM_CHARSET) returned NULL.",
                                   "L1 ARL_CvtToUtf8(): transLibEncoding = ISO-8859-15."}));
    EXPECT_TRUE(sniffer.calls.empty()) << "fixed whatever the environment says later";

    // A set variable is taken as it is, with only the information record.
    SetSystemCharset(nullptr);
    logs = {};
    EXPECT_EQ(Take(ARL_CvtToUtf8("ghi", 1, 0)), "ghi");
    EXPECT_EQ(sniffer.calls.size(), 1u);
    EXPECT_EQ(logs.records, Texts{"L1 ARL_CvtToUtf8(): transLibEncoding = UTF-8."});
}

// Fault: a system charset other than exactly "UTF-8" sent through the sniffer, the encoding
// checked there, or the original text handed back instead of a copy.
TEST_F(TextConversionTest, NonUtf8SystemReturnsAnUnchangedCopy)
{
    const char text[] = "Caf\xe9 (draft)";
    for (const char *charset : {"ISO-8859-15", "utf-8", "UTF8"}) {
        SetSystemCharset(charset);
        for (int32_t encoding = 0; encoding <= 4; ++encoding) {
            char *copy = ARL_CvtToUtf8(text, encoding, 1);
            EXPECT_NE(copy, text);
            EXPECT_EQ(Take(copy), text) << charset << ", encoding " << encoding;
        }
    }
    EXPECT_TRUE(sniffer.calls.empty());
    EXPECT_TRUE(logs.records.empty());
}

// Fault: an encoding routed to the wrong sniffer function, with the wrong source charset or
// length; autoConvert values other than 1 selecting detection; the success rules mixed up
// (SNF_Convert succeeds on any nonzero result, the two others on exactly 1); the result of a
// failure leaked (the sanitizer reports it) or its record wrong; an invalid encoding sent on.
TEST_F(TextConversionTest, Utf8SystemConvertsWithTheSnifferOfEachEncoding)
{
    SetSystemCharset("UTF-8");
    const std::string text = "Caf\xc3\xa9"; // five bytes, four characters
    const std::string utf = "UTF8 conversion failed (" + text, conv = "SNF_Convert(" + text;
    const std::tuple<int32_t, int32_t, std::string, int, std::string> cases[] = {
        // inStrEncoding, autoConvert, the call, its result, the failure record (or none)
        {1, 0, conv + ", 5, UTF-8)", 1, ""}, {1, 1, conv + ", 5, UTF-8)", 2, ""},
        {1, 0, conv + ", 5, UTF-8)", -1, ""},
        {1, 0, conv + ", 5, UTF-8)", 0, conv + ", UTF-8) failed."},
        {3, 1, conv + ", 5, ISO-8859-15)", 1, ""},
        {3, 0, conv + ", 5, ISO-8859-15)", 0, conv + ", ISO-8859-15) failed."},
        {2, 1, "SNF_AutoConvert(" + text + ", 5)", 1, ""},
        {2, 1, "SNF_AutoConvert(" + text + ", 5)", 2, utf + ", 1)."},
        {2, 0, "SNF_ConvertUTF(" + text + ", 5)", 1, ""},
        {2, 2, "SNF_ConvertUTF(" + text + ", 5)", 1, ""},
        {2, 0, "SNF_ConvertUTF(" + text + ", 5)", 2, utf + ", 0)."},
        {2, -1, "SNF_ConvertUTF(" + text + ", 5)", 0, utf + ", -1)."},
        {0, 1, "", 1, "invalid inStrEncoding (0)."}, {4, 1, "", 1, "invalid inStrEncoding (4)."}};
    for (const auto &[encoding, flag, call, result, failure] : cases) {
        SCOPED_TRACE(call + " answering " + std::to_string(result));
        ResetDoubles();
        sniffer.prefix = "U:";
        sniffer.results[call.substr(0, call.find('('))] = result;

        EXPECT_EQ(Take(ARL_CvtToUtf8(text.c_str(), encoding, flag)),
                  failure.empty() ? "U:" + text : "NULL");

        EXPECT_EQ(sniffer.calls, call.empty() ? Texts{} : Texts{call});
        EXPECT_EQ(logs.records,
                  failure.empty() ? Texts{} : Texts{"L3 ARL_CvtToUtf8(): " + failure});
    }
}

// Fault: an empty text sent through a converter (or the language used for it) or its hex
// conversion skipped; the converter used in another order (the target not the printer encoding
// of the language, the source not UTF-8), the hex text made from the input instead of the
// converted text or of the sniffer's text, maxBytes not handed on, the objects kept beyond the
// call; on a UTF-8 system, emptiness judged before the sniffer.
TEST_F(TextConversionTest, OnlyANonEmptyTextGoesThroughTheConverterInOrder)
{
    char out[511];
    EXPECT_EQ(ARL_CvtToUtf8Hex("", 1, 0, out, 511, "xx"), out);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(translation.events, Texts{"Trans_ConvertUTF8StringToHex(, 511)"});

    translation = {};
    translation.printEncoding = "CP1250";
    translation.conversion = [](const std::string &text) { return "<" + text + ">"; };
    EXPECT_EQ(ARL_CvtToUtf8Hex("Subject", 1, 1, out, 9, "cs"), out);
    EXPECT_STREQ(out, Hex("<Sub").c_str());
    EXPECT_EQ(translation.events,
              (Texts{"EncodingConverter()", "Translater(cs)", "printEncoding()",
                     "convertTo(CP1250)", "convertFrom(UTF-8)", "convert(Subject)",
                     "Trans_ConvertUTF8StringToHex(<Subject>, 9)", "~Translater()",
                     "~EncodingConverter()"}));
    EXPECT_EQ(translation.liveObjects, 0);
    EXPECT_TRUE(logs.records.empty());

    SetSystemCharset("UTF-8");
    sniffer.prefix = "U:";
    translation = {};
    EXPECT_EQ(ARL_CvtToUtf8Hex("ab", 1, 0, out, 511, "cs"), out);
    EXPECT_STREQ(out, Hex("U:ab").c_str());
    sniffer = {};
    sniffer.results["SNF_Convert"] = 0;
    translation = {};
    EXPECT_EQ(ARL_CvtToUtf8Hex("", 1, 0, out, 511, "xx"), nullptr);
    EXPECT_EQ(sniffer.calls, Texts{"SNF_Convert(, 0, UTF-8)"});
    EXPECT_TRUE(translation.events.empty());
}

// Fault: an exception of the converter swallowed, or the objects and the UTF-8 text leaked on the
// way out (the sanitizer reports the leak).
TEST_F(TextConversionTest, ConverterExceptionsPassThroughAndLeakNothing)
{
    SetSystemCharset("UTF-8"); // the UTF-8 text is then the sniffer's malloc'd result
    for (const char *member :
         {"Translater", "printEncoding", "convertTo", "convertFrom", "convert"}) {
        translation = {};
        translation.throwIn = member;
        char out[511] = "untouched";

        EXPECT_THROW(ARL_CvtToUtf8Hex("Subject", 1, 0, out, 511, "de"), std::runtime_error);

        EXPECT_EQ(translation.liveObjects, 0) << member;
        EXPECT_EQ(translation.events.back(), "~EncodingConverter()") << member;
        EXPECT_STREQ(out, "untouched");
    }
}

// Fault: a failure not reported, reported with the wrong text or level, a non-NULL result, `out`
// written before the hex conversion, or a hex result of 0 taken as a failure.
TEST_F(TextConversionTest, CvtToUtf8HexFailures)
{
    char out[511] = "untouched";
    char pointers[64];
    std::snprintf(pointers, sizeof pointers, "(%p, %p).", static_cast<void *>(nullptr),
                  static_cast<void *>(out));

    EXPECT_EQ(ARL_CvtToUtf8Hex(nullptr, 1, 0, out, 511, "en"), nullptr);
    SetSystemCharset("UTF-8");
    sniffer.results["SNF_Convert"] = 0;
    EXPECT_EQ(ARL_CvtToUtf8Hex("abc", 1, 0, out, 511, "en"), nullptr);
    EXPECT_STREQ(out, "untouched");
    EXPECT_TRUE(translation.events.empty());
    SetSystemCharset("ISO-8859-15");
    translation.hexResults = {{"abc", -3}, {"", 0}};
    EXPECT_EQ(ARL_CvtToUtf8Hex("abc", 1, 0, out, 511, "en"), nullptr);
    EXPECT_EQ(translation.liveObjects, 0);
    EXPECT_EQ(ARL_CvtToUtf8Hex("", 1, 0, out, 511, "en"), out);

    EXPECT_EQ(logs.records,
              (Texts{"ERROR ARL_CvtToUtf8Hex(): received NULL argument " + std::string(pointers),
                     "L3 ARL_CvtToUtf8(): SNF_Convert(abc, UTF-8) failed.",
                     "ERROR ARL_CvtToUtf8Hex(): ARL_CvtToUtf8(abc) failed.",
                     "ERROR Trans_ConvertUTF8StringToHex() failed."}));
}

} // namespace
