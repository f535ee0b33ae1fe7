// The charset module: its own transliterations give what iconv gave under the C library's
// C.UTF-8 locale, with no locale at all. (That a lack of descriptors is never taken for an
// unknown charset, the translation tests show through the converter.)

#include "../files.h"
#include "charset.h"
#include "transliterations.h"

#include <clocale>
#include <iconv.h>
#include <locale.h>

namespace {

const charset::Policy kTransliterate = {.replacement = "?", .failOnUndecodable = false,
                                        .transliterate = true};

// Every printer encoding the catalogues name or may name, and the plain ASCII of old printers.
const char *const kPrinterEncodings[] = {
    "ISO-8859-15", "ISO-8859-1", "ISO-8859-2", "ISO-8859-5", "ISO-8859-7", "ISO-8859-9",
    "ISO-8859-13", "ISO-8859-16", "CP1251", "SHIFT_JIS", "GBK", "BIG5", "EUC-KR", "ASCII"};

// Characters a report may hold: every one up to U+24FF (the Latin, Greek, Cyrillic, Hebrew,
// Arabic, Indic scripts and the punctuation and symbols), every one the table has a rule for,
// and every 251st of the rest up to U+10FFFF.
const char32_t kDenseEnd = 0x2500;
const char32_t kSparseStep = 251;
const char32_t kLastCharacter = 0x10FFFF;
const size_t kCharactersPerText = 2048;

// Texts of kCharactersPerText characters that together hold every character tried.
std::vector<std::string> TextsOfEveryCharacter()
{
    std::vector<char32_t> characters;
    for (char32_t c = 0x80; c <= kLastCharacter; c += c < kDenseEnd ? 1 : kSparseStep) {
        if (c < 0xD800 || c > 0xDFFF)
            characters.push_back(c);
    }
    for (size_t rule = 0; rule < charset::kTransliterationCount; ++rule)
        characters.push_back(charset::kTransliterations[rule].character);
    std::vector<std::string> texts;
    for (size_t first = 0; first < characters.size(); first += kCharactersPerText) {
        const size_t count = std::min(kCharactersPerText, characters.size() - first);
        texts.emplace_back();
        charset::Convert("UTF-32LE", "UTF-8", reinterpret_cast<const char *>(&characters[first]),
                         count * sizeof(char32_t), kTransliterate, texts.back());
    }
    return texts;
}

// What iconv writes with "//TRANSLIT" under C.UTF-8, which has it write "?" for whatever it has
// no replacement for. "<failed>" when iconv stops all the same.
std::string ThroughTheLocale(locale_t locale, const std::string &to, const std::string &text)
{
    const locale_t previous = uselocale(locale);
    const iconv_t descriptor = iconv_open((to + "//TRANSLIT").c_str(), "UTF-8");
    std::string out(text.size() * 4 + 16, '\0');
    char *in = const_cast<char *>(text.data()), *written = &out[0];
    size_t inLeft = text.size(), outLeft = out.size();
    const bool converted = iconv(descriptor, &in, &inLeft, &written, &outLeft) != size_t(-1) &&
                           iconv(descriptor, nullptr, nullptr, &written, &outLeft) != size_t(-1);
    iconv_close(descriptor);
    uselocale(previous);
    return converted ? out.substr(0, out.size() - outLeft) : "<failed>";
}

std::string Transliterated(const std::string &to, const std::string &text)
{
    std::string out;
    const charset::Outcome outcome =
        charset::Convert("UTF-8", to, text.data(), text.size(), kTransliterate, out);
    return outcome == charset::Outcome::Converted ? out : "<failed>";
}

} // namespace

// The module's table against the locale's: a difference would change the bytes of a report.
TEST(Charset, TransliteratesAsTheCUtf8LocaleDid)
{
    const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) {
        if (std::getenv("ARL_REQUIRE_C_UTF8"))
            FAIL() << "no C.UTF-8 locale to compare the transliterations with";
        GTEST_SKIP() << "no C.UTF-8 locale to compare the transliterations with";
    }
    const std::vector<std::string> texts = TextsOfEveryCharacter();
    for (const char *to : kPrinterEncodings) {
        for (const std::string &text : texts)
            ASSERT_EQ(Transliterated(to, text), ThroughTheLocale(locale, to, text)) << to;
    }
    freelocale(locale);
}
