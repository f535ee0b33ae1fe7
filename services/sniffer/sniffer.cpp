// Encoding sniffer stand-in: turns device texts into UTF-8 with iconv. The source encoding is
// named by the caller, told by a byte-order mark or the byte pattern of UTF-16 and UTF-32, or
// detected by uchardet.
//
// Layout: the conversion every function goes through; the Unicode forms; the charset detection;
// then the three functions of the header.

// The library exports the functions its contract header declares, and nothing else.
#pragma GCC visibility push(default)
#include "sniffer.h"
#pragma GCC visibility pop

#include "charset.h"
#include "logrecord.h"

#include <uchardet/uchardet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>

namespace {

const char kLogFile[] = "sniffer";
// What 8-bit text of an encoding nobody can tell is read as: the charset of older devices.
const char kEightBitFallback[] = "ISO-8859-15";
// A unit that does not decode, or an incomplete character at the end, becomes U+FFFD.
const charset::Policy kReplace = {"\xEF\xBF\xBD", false, false};
const charset::Policy kStrict = {"", true, false};

// ---------------------------------------------------------------------------------------------
// Conversion to UTF-8
// ---------------------------------------------------------------------------------------------

// Converts `length` bytes of `text` from `charset` into UTF-8 in `out`. False when iconv does not
// know the charset, or with kStrict when a unit does not decode. Throws on a shortage.
bool ToUtf8(const char *text, size_t length, const char *charset, const charset::Policy &policy,
            std::string &out)
{
    static const std::string kUtf8 = "UTF-8"; // made once: every text is converted into it
    return charset::Convert(charset, kUtf8, text, length, policy, out) ==
           charset::Outcome::Converted;
}

// Puts a malloc'd, NUL-terminated copy of `utf8` into `*result`. 1, or 0 when memory runs out.
int HandOut(const std::string &utf8, char **result)
{
    char *copy = static_cast<char *>(std::malloc(utf8.size() + 1));
    if (copy == nullptr) {
        LOG_RECORD(logSpecError, "out of memory for a text of %zu bytes.", utf8.size());
        return 0;
    }
    std::memcpy(copy, utf8.data(), utf8.size());
    copy[utf8.size()] = '\0';
    *result = copy;
    return 1;
}

int ConvertAndHandOut(const char *text, size_t length, const char *charset, char **result)
{
    std::string utf8;
    if (!ToUtf8(text, length, charset, kReplace, utf8))
        return 0;
    return HandOut(utf8, result);
}

// ---------------------------------------------------------------------------------------------
// Unicode forms
// ---------------------------------------------------------------------------------------------

struct UnicodeForm {
    const char *charset; // with explicit byte order, so iconv neither expects nor keeps a mark
    size_t markLength;   // bytes of byte-order mark to skip
};

// The form a byte-order mark announces, or a NULL charset when the text starts with none. A UTF-32
// little-endian mark begins like the UTF-16 one, so it is tried first.
UnicodeForm FormOfByteOrderMark(const unsigned char *bytes, size_t length)
{
    auto startsWith = [bytes, length](std::initializer_list<unsigned char> mark) {
        return length >= mark.size() && std::equal(mark.begin(), mark.end(), bytes);
    };
    if (startsWith({0xEF, 0xBB, 0xBF}))
        return {"UTF-8", 3};
    if (startsWith({0xFF, 0xFE, 0x00, 0x00}) && length % 4 == 0)
        return {"UTF-32LE", 4};
    if (startsWith({0x00, 0x00, 0xFE, 0xFF}))
        return {"UTF-32BE", 4};
    if (startsWith({0xFF, 0xFE}))
        return {"UTF-16LE", 2};
    if (startsWith({0xFE, 0xFF}))
        return {"UTF-16BE", 2};
    return {nullptr, 0};
}

// Every 4-byte unit has the zero top byte and the 0x00-0x10 plane byte of a code point.
bool LooksLikeUtf32(const unsigned char *bytes, size_t length, bool littleEndian)
{
    if (length == 0 || length % 4 != 0)
        return false;
    for (size_t unit = 0; unit < length; unit += 4) {
        const unsigned char top = littleEndian ? bytes[unit + 3] : bytes[unit];
        const unsigned char plane = littleEndian ? bytes[unit + 2] : bytes[unit + 1];
        if (top != 0 || plane > 0x10)
            return false;
    }
    return true;
}

// Without a mark the form shows in the bytes. Text bytes are never below 0x08, yet UTF-16 text of
// the scripts up to U+07FF (Latin, Greek, Cyrillic, Hebrew, Arabic) has such a byte as the high
// byte of nearly every unit, all at even (big-endian) or all at odd (little-endian) positions,
// and UTF-32 text has zero top bytes. Anything else is taken as UTF-8.
UnicodeForm FormOfBytePattern(const unsigned char *bytes, size_t length)
{
    if (LooksLikeUtf32(bytes, length, true))
        return {"UTF-32LE", 0};
    if (LooksLikeUtf32(bytes, length, false))
        return {"UTF-32BE", 0};
    size_t lowAtEven = 0, lowAtOdd = 0;
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] < 0x08)
            ++(i % 2 == 0 ? lowAtEven : lowAtOdd);
    }
    const size_t units = length / 2;
    if (units == 0 || std::max(lowAtEven, lowAtOdd) * 2 < units)
        return {"UTF-8", 0};
    return lowAtOdd > lowAtEven ? UnicodeForm{"UTF-16LE", 0} : UnicodeForm{"UTF-16BE", 0};
}

int ConvertUnicode(const char *text, size_t length, char **result)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    UnicodeForm form = FormOfByteOrderMark(bytes, length);
    if (form.charset == nullptr)
        form = FormOfBytePattern(bytes, length);
    return ConvertAndHandOut(text + form.markLength, length - form.markLength, form.charset,
                             result);
}

// ---------------------------------------------------------------------------------------------
// Detection
// ---------------------------------------------------------------------------------------------

struct DetectorDeleter {
    void operator()(uchardet *detector) const { uchardet_delete(detector); }
};

// The charset uchardet names for the text ("UTF-8", "ISO-8859-1", "WINDOWS-1252", "ASCII", ...),
// or "" when it cannot tell. uchardet is C++ inside: its functions may throw std::bad_alloc, which
// the caller's guard catches, and it reports a shortage as NULL or a nonzero status too.
std::string DetectCharset(const char *text, size_t length)
{
    std::unique_ptr<uchardet, DetectorDeleter> detector(uchardet_new());
    if (detector == nullptr || uchardet_handle_data(detector.get(), text, length) != 0)
        throw std::bad_alloc();
    uchardet_data_end(detector.get());
    const char *charset = uchardet_get_charset(detector.get());
    return charset != nullptr ? charset : "";
}

bool IsUnicodeFormName(const std::string &charset)
{
    return charset.compare(0, 6, "UTF-16") == 0 || charset.compare(0, 6, "UTF-32") == 0;
}

// Text of an encoding nobody could tell: UTF-8 when it decodes as such, else 8-bit text.
int ConvertUndetected(const char *text, size_t length, char **result)
{
    std::string utf8;
    if (ToUtf8(text, length, "UTF-8", kStrict, utf8))
        return HandOut(utf8, result);
    return ConvertAndHandOut(text, length, kEightBitFallback, result);
}

int AutoConvert(const char *text, size_t length, char **result)
{
    if (length == 0)
        return HandOut(std::string(), result);
    // Zero bytes never occur in 8-bit text, and uchardet only tells UTF-16 by its mark.
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    if (FormOfByteOrderMark(bytes, length).charset != nullptr ||
        std::memchr(text, '\0', length) != nullptr)
        return ConvertUnicode(text, length, result);

    const std::string detected = DetectCharset(text, length);
    if (IsUnicodeFormName(detected))
        return ConvertUnicode(text, length, result);
    if (detected.empty() || detected == "ASCII")
        return ConvertUndetected(text, length, result);
    if (ConvertAndHandOut(text, length, detected.c_str(), result) == 1)
        return 1;
    LOG_RECORD(logSpecWarn,
               "SNF_AutoConvert(): detected charset \"%s\" is unknown to iconv; read as UTF-8 "
               "or %s.",
               detected.c_str(), kEightBitFallback);
    return ConvertUndetected(text, length, result);
}

// Runs one function of the header: checks the arguments every function takes, clears the result,
// and turns every exception (a shortage here or inside uchardet, an iconv failure) into 0.
template <typename Call>
int Guarded(const char *function, const char *text, char **result, Call call)
{
    if (result != nullptr)
        *result = nullptr;
    if (text == nullptr || result == nullptr) {
        LOG_RECORD(logSpecError, "%s(): NULL argument (%p, %p).", function,
                   static_cast<const void *>(text), static_cast<void *>(result));
        return 0;
    }
    try {
        return call();
    } catch (const std::bad_alloc &) {
        LOG_RECORD(logSpecError, "%s(): out of memory.", function);
    } catch (const std::exception &failure) {
        LOG_RECORD(logSpecError, "%s(): %s.", function, failure.what());
    } catch (...) {
        LOG_RECORD(logSpecError, "%s(): conversion failed.", function);
    }
    return 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The functions of the header
// ---------------------------------------------------------------------------------------------

extern "C" int SNF_Convert(const char *text, size_t length, const char *fromCharset, char **result)
{
    return Guarded("SNF_Convert", text, result, [=] {
        if (fromCharset == nullptr) {
            LOG_RECORD(logSpecError, "SNF_Convert(): NULL charset.");
            return 0;
        }
        if (ConvertAndHandOut(text, length, fromCharset, result) == 1)
            return 1;
        LOG_RECORD(logSpecError, "SNF_Convert(): cannot convert from \"%s\".", fromCharset);
        return 0;
    });
}

extern "C" int SNF_ConvertUTF(const char *text, size_t length, char **result)
{
    return Guarded("SNF_ConvertUTF", text, result,
                   [=] { return ConvertUnicode(text, length, result); });
}

extern "C" int SNF_AutoConvert(const char *text, size_t length, char **result)
{
    return Guarded("SNF_AutoConvert", text, result,
                   [=] { return AutoConvert(text, length, result); });
}
