// Text conversion: integers as hex text, bounded and escaped copies, conversion to UTF-8 and to
// the hex text of the printer encoding.

#include "pluginFixture.h"

#include <climits>
#include <cstdlib>
#include <stdexcept>

using namespace testing_support;

namespace {

class TextConversionTest : public PluginTest {
protected:
    // The system charset as the first conversion of the process would have found it.
    static void SystemCharset(const char *name)
    {
        ForgetSystemCharset();
        ARL_STATE.transLibEncoding = name;
    }

    static std::string Take(char *text)
    {
        std::string copy = text ? text : "(NULL)";
        std::free(text);
        return copy;
    }
};

// Fault: wrong digits or case, the sign lost, the size off by one at either bound (the result
// and its NUL exactly filling maxBytes is allowed), a negative maxBytes taken as large, or the
// output written on failure.
TEST_F(TextConversionTest, ConvertIntToHexStringAtItsBounds)
{
    struct Case {
        int32_t value;
        int32_t maxBytes;
        int32_t result;
        const char *hex; // nullptr: output untouched
    };
    const std::vector<Case> cases = {
        {0, 3, 3, "30"},
        {0, 2, -1, nullptr},
        {-7, 511, 5, "2d37"},
        {255, 511, 7, "323535"},
        {12, 5, 5, "3132"},
        {INT32_MIN, 23, 23, "2d32313437343833363438"},
        {INT32_MIN, 22, -1, nullptr},
        {INT32_MAX, 511, 21, "32313437343833363437"},
        {0, -1, -1, nullptr},
        {5, INT32_MIN, -1, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " in " + std::to_string(c.maxBytes));
        logDouble::Reset();
        char out[40];
        std::memset(out, 'Z', sizeof out);

        EXPECT_EQ(ConvertIntToHexString(out, c.value, c.maxBytes), c.result);

        if (c.hex) {
            EXPECT_STREQ(out, c.hex);
            EXPECT_EQ(out[std::strlen(c.hex) + 1], 'Z') << "nothing written after the NUL";
            EXPECT_TRUE(logDouble::PluginRecords().empty());
        } else {
            EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, 'Z'));
            EXPECT_EQ(logDouble::PluginRecords(),
                      std::vector<std::string>{"L3 ConvertIntToHexString() insufficient memory "
                                               "allocated for output string."});
        }
    }
}

// Fault: a plain copy overrunning maxBytes, not terminated, not padded, or truncating without the
// warning (or warning without truncating).
TEST_F(TextConversionTest, CopyStringPlainAtTheBound)
{
    struct Case {
        const char *src;
        std::string written; // all maxBytes (5) bytes
        bool warned;
    };
    const std::vector<Case> cases = {
        {"abcd", std::string("abcd\0", 5), false},
        {"abcde", std::string("abcd\0", 5), true},
        {"abcdefgh", std::string("abcd\0", 5), true},
        {"ab", std::string("ab\0\0\0", 5), false},
        {"", std::string("\0\0\0\0\0", 5), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.src);
        logDouble::Reset();
        char dst[8];
        std::memset(dst, 'Z', sizeof dst);

        CopyString(dst, c.src, 5, COPY_PLAIN);

        EXPECT_EQ(std::string(dst, 5), c.written);
        EXPECT_EQ(std::string(dst + 5, 3), "ZZZ") << "nothing beyond maxBytes";
        EXPECT_EQ(logDouble::PluginRecords(),
                  c.warned ? std::vector<std::string>{"WARN CopyString() input string being "
                                                      "truncated."}
                           : std::vector<std::string>{});
    }
}

// Fault: an escape split by the bound, an escape written without room for its NUL, a plain byte
// warned about, the wrong warning, or the result not terminated inside maxBytes.
TEST_F(TextConversionTest, CopyStringEscapedAtTheBound)
{
    struct Case {
        const char *src;
        uint32_t maxBytes;
        const char *result;
        const char *warning; // nullptr: none
    };
    const std::vector<Case> cases = {
        {"ab(c", 5, "ab\\(", nullptr},
        {"ab(", 4, "ab", "WARN CopyString() input string being truncated (open paren)."},
        {"abcd", 5, "abcd", nullptr},
        {"abcde", 5, "abcd", nullptr},
        {"a)b", 10, "a\\)b", nullptr},
        {"a\\b", 10, "a\\\\b", nullptr},
        {"abc)", 5, "abc", "WARN CopyString() input string being truncated (close paren)."},
        {"abc\\", 5, "abc", "WARN CopyString() input string being truncated (backslash)."},
        {"((", 5, "\\(\\(", nullptr},
        {"(", 3, "\\(", nullptr},
        {"(", 2, "", "WARN CopyString() input string being truncated (open paren)."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.src) + " in " + std::to_string(c.maxBytes));
        logDouble::Reset();
        char dst[16];
        std::memset(dst, 'Z', sizeof dst);

        CopyString(dst, c.src, c.maxBytes, COPY_POSTSCRIPT_ESCAPED);

        EXPECT_STREQ(dst, c.result);
        EXPECT_EQ(std::string(dst + c.maxBytes, sizeof dst - c.maxBytes),
                  std::string(sizeof dst - c.maxBytes, 'Z'));
        EXPECT_EQ(logDouble::PluginRecords(),
                  c.warning ? std::vector<std::string>{c.warning} : std::vector<std::string>{});
    }
}

// Fault: a NULL pointer or a zero size dereferenced or written, the checks in the wrong order (a
// NULL pointer with a bad type must report the pointer), a bad type copying anyway.
TEST_F(TextConversionTest, CopyStringRejectsBadArguments)
{
    char dst[8];
    struct Case {
        const char *name;
        char *dst;
        const char *src;
        uint32_t maxBytes;
        int32_t type;
        const char *record;
    };
    const std::vector<Case> cases = {
        {"NULL source", dst, nullptr, 5, COPY_PLAIN, "ERROR CopyString() sent to or from pointer."},
        {"NULL destination", nullptr, "abc", 5, COPY_PLAIN,
         "ERROR CopyString() sent to or from pointer."},
        {"NULL source, bad type", dst, nullptr, 5, 3,
         "ERROR CopyString() sent to or from pointer."},
        {"zero size", dst, "abc", 0, COPY_PLAIN, "ERROR CopyString() sent maxBytes of zero."},
        {"zero size, escaped", dst, "abc", 0, COPY_POSTSCRIPT_ESCAPED,
         "ERROR CopyString() sent maxBytes of zero."},
        {"type 3", dst, "abc", 5, 3, "ERROR CopyString() sent invalid string type."},
        {"type 0", dst, "abc", 5, 0, "ERROR CopyString() sent invalid string type."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        logDouble::Reset();
        std::memset(dst, 'Z', sizeof dst);

        CopyString(c.dst, c.src, c.maxBytes, c.type);

        EXPECT_EQ(std::string(dst, sizeof dst), std::string(sizeof dst, 'Z'));
        EXPECT_EQ(logDouble::PluginRecords(), std::vector<std::string>{c.record});
    }
}

// Fault: the system charset read at every call (or never stored), the default or its records
// wrong, or looked up for a NULL text.
TEST_F(TextConversionTest, SystemCharsetIsLookedUpOnceOnFirstUse)
{
    SystemCharset(nullptr);
    unsetenv("SYSTEM_CHARSET");

    EXPECT_EQ(ARL_CvtToUtf8(nullptr, 1, 0), nullptr);
    EXPECT_EQ(logDouble::PluginRecords(),
              std::vector<std::string>{"L3 ARL_CvtToUtf8(): received NULL inStr."});
    EXPECT_EQ(ARL_STATE.transLibEncoding, nullptr);

    logDouble::Reset();
    EXPECT_EQ(Take(ARL_CvtToUtf8("abc", 1, 0)), "abc");
    EXPECT_EQ(logDouble::PluginRecords(),
              (std::vector<std::string>{"L3 ARL_CvtToUtf8(): getenv(SYSTEM_CHARSET) returned NULL.",
                                        "L1 ARL_CvtToUtf8(): transLibEncoding = ISO-8859-15."}));
    ASSERT_NE(ARL_STATE.transLibEncoding, nullptr);
    EXPECT_STREQ(ARL_STATE.transLibEncoding, "ISO-8859-15");

    // Fixed from now on, whatever the environment says.
    logDouble::Reset();
    setenv("SYSTEM_CHARSET", "UTF-8", 1);
    EXPECT_EQ(Take(ARL_CvtToUtf8("def", 1, 0)), "def");
    EXPECT_TRUE(logDouble::PluginRecords().empty());
    EXPECT_TRUE(snifferDouble::Calls().empty());

    // A set variable is taken as it is, with only the information record.
    SystemCharset(nullptr);
    logDouble::Reset();
    EXPECT_EQ(Take(ARL_CvtToUtf8("ghi", 1, 0)), "ghi");
    EXPECT_EQ(snifferDouble::Calls().size(), 1u) << "a UTF-8 system converts with the sniffer";
    EXPECT_EQ(logDouble::PluginRecords(),
              std::vector<std::string>{"L1 ARL_CvtToUtf8(): transLibEncoding = UTF-8."});
    EXPECT_STREQ(ARL_STATE.transLibEncoding, "UTF-8");
}

// Fault: a system charset other than exactly "UTF-8" sent through the sniffer, the encoding
// checked there, or the original text handed back instead of a copy.
TEST_F(TextConversionTest, NonUtf8SystemReturnsAnUnchangedCopy)
{
    const char text[] = "Caf\xe9 (draft)";
    for (const char *charset : {"ISO-8859-15", "utf-8", "UTF8"}) {
        SystemCharset(charset);
        for (int32_t encoding : {0, 1, 2, 3, 4}) {
            SCOPED_TRACE(std::string(charset) + ", encoding " + std::to_string(encoding));
            char *copy = ARL_CvtToUtf8(text, encoding, 1);
            ASSERT_NE(copy, nullptr);
            EXPECT_NE(copy, text);
            EXPECT_STREQ(copy, text);
            std::free(copy);
        }
    }
    EXPECT_TRUE(snifferDouble::Calls().empty());
    EXPECT_TRUE(logDouble::PluginRecords().empty());
}

// Fault: an encoding routed to the wrong sniffer function, the wrong source charset, the length
// wrong, autoConvert values other than 1 selecting detection, or the sniffer's result not the
// one returned.
TEST_F(TextConversionTest, Utf8SystemRoutesEachEncodingToItsSniffer)
{
    SystemCharset("UTF-8");
    snifferDouble::SetOutputPrefix("U:");
    struct Case {
        int32_t encoding, autoConvert;
        const char *function, *charset;
    };
    const std::vector<Case> cases = {
        {1, 0, "SNF_Convert", "UTF-8"},     {1, 1, "SNF_Convert", "UTF-8"},
        {3, 0, "SNF_Convert", "ISO-8859-15"}, {3, 1, "SNF_Convert", "ISO-8859-15"},
        {2, 1, "SNF_AutoConvert", ""},      {2, 0, "SNF_ConvertUTF", ""},
        {2, 2, "SNF_ConvertUTF", ""},       {2, -1, "SNF_ConvertUTF", ""},
    };
    const char text[] = "R\xc3\xa9sum\xc3\xa9";
    for (const Case &c : cases) {
        SCOPED_TRACE("encoding " + std::to_string(c.encoding) + ", autoConvert " +
                     std::to_string(c.autoConvert));
        snifferDouble::Reset();
        snifferDouble::SetOutputPrefix("U:");

        EXPECT_EQ(Take(ARL_CvtToUtf8(text, c.encoding, c.autoConvert)), std::string("U:") + text);

        ASSERT_EQ(snifferDouble::Calls().size(), 1u);
        const snifferDouble::Call &call = snifferDouble::Calls()[0];
        EXPECT_EQ(call.function, c.function);
        EXPECT_EQ(call.text, text);
        EXPECT_EQ(call.length, std::strlen(text));
        EXPECT_EQ(call.charset, c.charset);
    }
    EXPECT_TRUE(logDouble::PluginRecords().empty());

    // An empty text still goes to the sniffer.
    snifferDouble::Reset();
    EXPECT_EQ(Take(ARL_CvtToUtf8("", 1, 0)), "");
    ASSERT_EQ(snifferDouble::Calls().size(), 1u);
    EXPECT_EQ(snifferDouble::Calls()[0].length, 0u);
}

// Fault: the success rules of the sniffer functions mixed up (SNF_Convert succeeds on any nonzero
// result, the two others on exactly 1), a failure's result leaked, or the wrong record.
TEST_F(TextConversionTest, SnifferResultsAreJudgedByEachFunctionsRule)
{
    SystemCharset("UTF-8");
    struct Case {
        int32_t encoding, autoConvert;
        const char *function;
        int result;
        bool succeeds;
        const char *record;
    };
    const std::vector<Case> cases = {
        {1, 0, "SNF_Convert", 2, true, nullptr},
        {1, 0, "SNF_Convert", -1, true, nullptr},
        {1, 0, "SNF_Convert", 0, false, "L3 ARL_CvtToUtf8(): SNF_Convert(abc, UTF-8) failed."},
        {3, 0, "SNF_Convert", 0, false,
         "L3 ARL_CvtToUtf8(): SNF_Convert(abc, ISO-8859-15) failed."},
        {2, 0, "SNF_ConvertUTF", 2, false, "L3 ARL_CvtToUtf8(): UTF8 conversion failed (abc, 0)."},
        {2, 0, "SNF_ConvertUTF", 0, false, "L3 ARL_CvtToUtf8(): UTF8 conversion failed (abc, 0)."},
        {2, 0, "SNF_ConvertUTF", -1, false,
         "L3 ARL_CvtToUtf8(): UTF8 conversion failed (abc, 0)."},
        {2, 1, "SNF_AutoConvert", 2, false,
         "L3 ARL_CvtToUtf8(): UTF8 conversion failed (abc, 1)."},
        {2, 1, "SNF_AutoConvert", 0, false,
         "L3 ARL_CvtToUtf8(): UTF8 conversion failed (abc, 1)."},
    };
    for (bool giveResult : {true, false}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.function) + " answering " + std::to_string(c.result) +
                         (giveResult ? " with a result" : " without a result"));
            snifferDouble::Reset();
            logDouble::Reset();
            snifferDouble::SetReturn(c.function, c.result, giveResult || c.succeeds);

            char *converted = ARL_CvtToUtf8("abc", c.encoding, c.autoConvert);

            if (c.succeeds) {
                EXPECT_EQ(Take(converted), "abc");
                EXPECT_TRUE(logDouble::PluginRecords().empty());
            } else {
                EXPECT_EQ(converted, nullptr); // a result handed with a failure is freed (ASan)
                EXPECT_EQ(logDouble::PluginRecords(), std::vector<std::string>{c.record});
            }
        }
    }
}

// Fault: an invalid encoding sent to some sniffer, or not reported.
TEST_F(TextConversionTest, InvalidEncodingOnAUtf8System)
{
    SystemCharset("UTF-8");
    for (int32_t encoding : {0, 4, -1}) {
        logDouble::Reset();
        EXPECT_EQ(ARL_CvtToUtf8("abc", encoding, 1), nullptr);
        EXPECT_EQ(logDouble::PluginRecords(),
                  std::vector<std::string>{"L3 ARL_CvtToUtf8(): invalid inStrEncoding (" +
                                           std::to_string(encoding) + ")."});
    }
    EXPECT_TRUE(snifferDouble::Calls().empty());
}

// Fault: an empty text sent through a converter (or the language used for it), or its hex
// conversion skipped.
TEST_F(TextConversionTest, EmptyTextNeedsNoConverter)
{
    char out[511];
    std::memset(out, 'Z', sizeof out);

    EXPECT_EQ(ARL_CvtToUtf8Hex("", 1, 0, out, 511, "xx"), out);

    EXPECT_STREQ(out, "");
    EXPECT_EQ(translationDouble::Events(),
              std::vector<std::string>{"Trans_ConvertUTF8StringToHex(, 511)"});
    EXPECT_TRUE(logDouble::PluginRecords().empty());

    // On a UTF-8 system the emptiness is judged after the sniffer, whose failure fails the call.
    SystemCharset("UTF-8");
    snifferDouble::SetReturn("SNF_Convert", 0, false);
    logDouble::Reset();
    translationDouble::Reset();
    EXPECT_EQ(ARL_CvtToUtf8Hex("", 1, 0, out, 511, "xx"), nullptr);
    EXPECT_EQ(snifferDouble::Calls().size(), 1u);
    EXPECT_TRUE(translationDouble::Events().empty());
    EXPECT_EQ(logDouble::PluginRecords(),
              (std::vector<std::string>{"L3 ARL_CvtToUtf8(): SNF_Convert(, UTF-8) failed.",
                                        "ERROR ARL_CvtToUtf8Hex(): ARL_CvtToUtf8() failed."}));
}

// Fault: the converter used in another order (the target set from something else than the
// printer encoding of the language, the source not UTF-8), the hex text made from the input
// instead of the converted text, or the objects kept beyond the call.
TEST_F(TextConversionTest, NonEmptyTextGoesThroughTheConverterInOrder)
{
    translationDouble::SetPrintEncoding("CP1250");
    translationDouble::SetConversion([](const std::string &text) { return "<" + text + ">"; });
    char out[511];

    EXPECT_EQ(ARL_CvtToUtf8Hex("Subject", 1, 1, out, 511, "cs"), out);

    EXPECT_STREQ(out, Hex("<Subject>").c_str());
    EXPECT_EQ(translationDouble::Events(),
              (std::vector<std::string>{"EncodingConverter()", "Translater(cs)", "printEncoding()",
                                        "convertTo(CP1250)", "convertFrom(UTF-8)",
                                        "convert(Subject)",
                                        "Trans_ConvertUTF8StringToHex(<Subject>, 511)",
                                        "~Translater()", "~EncodingConverter()"}));
    EXPECT_EQ(translationDouble::LiveObjects(), 0);

    // On a UTF-8 system it is the sniffer's text that is converted; maxBytes goes through as is.
    SystemCharset("UTF-8");
    snifferDouble::SetOutputPrefix("U:");
    translationDouble::Reset();
    char small[9];
    EXPECT_EQ(ARL_CvtToUtf8Hex("abcdef", 1, 0, small, 9, "cs"), small);
    EXPECT_STREQ(small, Hex("U:ab").c_str());
    EXPECT_EQ(translationDouble::EventsStartingWith("Trans_ConvertUTF8StringToHex("),
              std::vector<std::string>{"Trans_ConvertUTF8StringToHex(U:abcdef, 9)"});
    EXPECT_TRUE(logDouble::PluginRecords().empty());
}

// Fault: an exception of the converter swallowed, or the objects and the UTF-8 text leaked on
// the way out (the sanitizer reports the leak).
TEST_F(TextConversionTest, ConverterExceptionsPassThroughAndLeakNothing)
{
    SystemCharset("UTF-8"); // the UTF-8 text is then the sniffer's malloc'd result
    for (const char *member :
         {"Translater", "printEncoding", "convertTo", "convertFrom", "convert"}) {
        SCOPED_TRACE(member);
        translationDouble::Reset();
        translationDouble::ThrowIn(member);
        char out[511];
        std::strcpy(out, "untouched");

        EXPECT_THROW(ARL_CvtToUtf8Hex("Subject", 1, 0, out, 511, "de"), std::runtime_error);

        EXPECT_EQ(translationDouble::LiveObjects(), 0);
        EXPECT_EQ(translationDouble::Events().back(), "~EncodingConverter()");
        EXPECT_TRUE(translationDouble::EventsStartingWith("Trans_ConvertUTF8StringToHex").empty());
        EXPECT_STREQ(out, "untouched");
    }
}

// Fault: a failure not reported, reported with the wrong text or level, or a non-NULL result.
TEST_F(TextConversionTest, CvtToUtf8HexFailureRecords)
{
    char out[511];
    std::strcpy(out, "untouched");
    char pointers[64];
    std::snprintf(pointers, sizeof pointers, "(%p, %p)", static_cast<void *>(nullptr),
                  static_cast<void *>(out));

    EXPECT_EQ(ARL_CvtToUtf8Hex(nullptr, 1, 0, out, 511, "en"), nullptr);
    EXPECT_EQ(logDouble::PluginRecords(),
              std::vector<std::string>{"ERROR ARL_CvtToUtf8Hex(): received NULL argument " +
                                       std::string(pointers) + "."});
    EXPECT_STREQ(out, "untouched");

    SystemCharset("UTF-8");
    snifferDouble::SetReturn("SNF_Convert", 0, false);
    logDouble::Reset();
    EXPECT_EQ(ARL_CvtToUtf8Hex("abc", 1, 0, out, 511, "en"), nullptr);
    EXPECT_EQ(logDouble::PluginRecords(),
              (std::vector<std::string>{"L3 ARL_CvtToUtf8(): SNF_Convert(abc, UTF-8) failed.",
                                        "ERROR ARL_CvtToUtf8Hex(): ARL_CvtToUtf8(abc) failed."}));
    EXPECT_STREQ(out, "untouched");
    EXPECT_TRUE(translationDouble::Events().empty());

    SystemCharset("ISO-8859-15");
    logDouble::Reset();
    translationDouble::FailHexOnCall(1, -3);
    EXPECT_EQ(ARL_CvtToUtf8Hex("abc", 1, 0, out, 511, "en"), nullptr);
    EXPECT_EQ(logDouble::PluginRecords(),
              std::vector<std::string>{"ERROR Trans_ConvertUTF8StringToHex() failed."});
    EXPECT_EQ(translationDouble::LiveObjects(), 0);

    // Any result that is not negative is success, also for an empty text.
    logDouble::Reset();
    translationDouble::FailHexOnCall(1, 0);
    EXPECT_EQ(ARL_CvtToUtf8Hex("", 1, 0, out, 511, "en"), out);
    EXPECT_TRUE(logDouble::PluginRecords().empty());
}

} // namespace
