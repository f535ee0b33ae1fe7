// Text conversion at its bounds: integers as hex text, bounded and escaped copies, conversion to
// UTF-8 by input encoding, and the hex text of a converted text.

#include "pluginFixture.h"

#include <climits>
#include <optional>

namespace {

using namespace std::string_literals;

// Fault: wrong digits or case, the sign lost, the size off by one at either bound (the text and
// its NUL exactly filling maxBytes is allowed), a negative maxBytes taken as large, or `out`
// written on failure or beyond the NUL.
TEST_F(PluginTest, ConvertIntToHexStringAtItsBounds)
{
    const struct { int32_t value, maxBytes, result; std::string hex; } cases[] = {
        {0, 3, 3, "30"}, {0, 2, -1, ""}, {-7, 511, 5, "2d37"}, {255, 511, 7, "323535"},
        {INT32_MIN, 23, 23, "2d32313437343833363438"}, {INT32_MIN, 22, -1, ""}, {0, -1, -1, ""}};
    for (const auto &c : cases) {
        std::string out(40, 'Z');
        EXPECT_EQ(ConvertIntToHexString(&out[0], c.value, c.maxBytes), c.result) << c.value;
        const std::string written = c.hex.empty() ? "" : c.hex + '\0';
        EXPECT_EQ(out, written + std::string(40 - written.size(), 'Z'));
        EXPECT_EQ(Records(), c.result > 0 ? Texts{} : Texts{"ERROR ConvertIntToHexString() "
                                                            "insufficient memory allocated for "
                                                            "output string."});
    }
}

// Fault: a copy overrunning maxBytes or not terminated inside it; a plain copy not padded, or
// truncating without the warning (or warning without truncating); an escape split by the bound or
// written without room for its NUL, a cut plain byte warned about, the wrong warning; a NULL
// pointer or a zero size written through, the checks in the wrong order (a NULL pointer with a bad
// type reports the pointer), or a bad type copying anyway.
TEST_F(PluginTest, CopyStringAtItsBounds)
{
    const std::string cut = "WARN CopyString() input string being truncated",
                      pointer = "ERROR CopyString() sent to or from pointer.";
    const int32_t plain = COPY_PLAIN, escaped = COPY_POSTSCRIPT_ESCAPED;
    char dst[16];
    const struct {
        char *to; const char *src; uint32_t maxBytes; int32_t type; std::string written, record;
    } cases[] = { // the first bytes of dst (empty: untouched), the record (empty: none)
        {dst, "abcd", 5, plain, "abcd\0"s, ""}, {dst, "abcde", 5, plain, "abcd\0"s, cut + "."},
        {dst, "ab", 5, plain, "ab\0\0\0"s, ""}, {dst, "ab(c", 5, escaped, "ab\\(\0"s, ""},
        {dst, "ab(", 4, escaped, "ab\0"s, cut + " (open paren)."},
        {dst, "abcde", 5, escaped, "abcd\0"s, ""}, {dst, "a)b\\", 10, escaped, "a\\)b\\\\\0"s, ""},
        {dst, "abc)", 5, escaped, "abc\0"s, cut + " (close paren)."},
        {dst, "abc\\", 5, escaped, "abc\0"s, cut + " (backslash)."},
        {dst, nullptr, 5, 3, "", pointer}, {nullptr, "abc", 5, plain, "", pointer},
        {dst, "abc", 0, escaped, "", "ERROR CopyString() sent maxBytes of zero."},
        {dst, "abc", 5, 3, "", "ERROR CopyString() sent invalid string type."}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.src ? c.src : "NULL") + " in " + std::to_string(c.maxBytes));
        std::memset(dst, 'Z', sizeof dst);
        CopyString(c.to, c.src, c.maxBytes, c.type);
        const std::string expected = c.written.empty() ? std::string(16, 'Z') : c.written;
        EXPECT_EQ(std::string(dst, expected.size()), expected);
        EXPECT_EQ(std::string(dst + c.maxBytes, 16 - c.maxBytes),
                  std::string(16 - c.maxBytes, 'Z'));
        EXPECT_EQ(Records(), c.record.empty() ? Texts{} : Texts{c.record});
    }
}

// Fault: an encoding routed to the wrong sniffer function, with the wrong length; autoConvert
// values other than 1 selecting detection; the success rules mixed up (SNF_Convert succeeds on any
// nonzero result, the two others on exactly 1); the sniffer's text not the one returned, or leaked
// on failure (the sanitizer reports it); an invalid encoding sent on. (The runs convert the system
// charset's texts and the Latin-9 device name, and make both fail.)
TEST_F(PluginTest, Utf8SystemConvertsWithTheSnifferOfEachEncoding)
{
    const std::string text = "Caf\xc3\xa9", utf = "UTF8 conversion failed (" + text,
                      automatic = "SNF_AutoConvert(" + text + ", 5)",
                      unicode = "SNF_ConvertUTF(" + text + ", 5)";
    const struct {
        int32_t encoding, flag;
        std::string call;          // the sniffer called (empty: none)
        std::optional<long> answer = {}; // its answer (none: its own)
        std::string result;        // empty: any text
    } cases[] = {
        {.encoding = 1, .flag = 1, .call = "SNF_Convert(" + text + ", 5, UTF-8)", .answer = -1,
         .result = text},
        {.encoding = 2, .flag = 1, .call = automatic, .result = ""},
        {.encoding = 2, .flag = 1, .call = automatic, .answer = 2, .result = "NULL"},
        {.encoding = 2, .flag = 2, .call = unicode, .result = text},
        {.encoding = 2, .flag = 0, .call = unicode, .answer = 2, .result = "NULL"},
        {.encoding = 0, .flag = 1, .call = "", .result = "NULL"},
        {.encoding = 4, .flag = 1, .call = "", .result = "NULL"}};
    const Texts failures = {utf + ", 1).", utf + ", 0).", "invalid inStrEncoding (0).",
                            "invalid inStrEncoding (4)."};
    Texts logged;
    SetSystemCharset("UTF-8");
    for (const auto &c : cases) {
        faults::state = {};
        if (c.answer)
            faults::state.faults = {{.call = c.call, .answer = *c.answer}};
        char *converted = ARL_CvtToUtf8(text.c_str(), c.encoding, c.flag);
        const std::string result = converted ? converted : "NULL";
        std::free(converted);
        EXPECT_EQ(c.result.empty() ? "" : result, c.result) << c.call;
        EXPECT_EQ(faults::state.calls, c.call.empty() ? Texts{} : Texts{c.call});
        for (const std::string &record : Records())
            logged.push_back(record.substr(std::strlen("ERROR ARL_CvtToUtf8(): ")));
    }
    EXPECT_EQ(logged, failures);
}

// Fault: on a UTF-8 system, emptiness judged before the sniffer, or `out` written although the
// sniffer failed; a NULL text not reported with both pointers. (The runs catch the rest: a
// failure not reported, and an empty text's hex result of 0 taken as a failure.)
TEST_F(PluginTest, CvtToUtf8HexSendsEvenAnEmptyTextThroughTheSniffer)
{
    char out[ARL_HEX_BUFFER_SIZE] = "untouched";
    EXPECT_EQ(ARL_CvtToUtf8Hex(nullptr, 1, 0, out, ARL_HEX_BUFFER_SIZE, "en"), nullptr);
    SetSystemCharset("UTF-8");
    faults::state.faults = {{.call = "SNF_Convert", .answer = 0}};
    EXPECT_EQ(ARL_CvtToUtf8Hex("", 1, 0, out, ARL_HEX_BUFFER_SIZE, "en"), nullptr);
    EXPECT_STREQ(out, "untouched");
    char pointers[64];
    std::snprintf(pointers, sizeof pointers, "(%p, %p).", nullptr, static_cast<void *>(out));
    EXPECT_EQ(Records(),
              (Texts{"ERROR ARL_CvtToUtf8Hex(): received NULL argument " + std::string(pointers),
                     "ERROR ARL_CvtToUtf8(): SNF_Convert(, UTF-8) failed.",
                     "ERROR ARL_CvtToUtf8Hex(): ARL_CvtToUtf8() failed."}));
}

} // namespace
