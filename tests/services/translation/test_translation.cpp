// Tests of the translation stand-in: texts from PO catalogues in the system charset, how bad
// catalogues and unknown languages show, printer encodings, the encoding converter and hex text.
//
// Catalogues are parsed once per process and kept, so every test writes its own languages.

#include "../files.h"
#include "translation.h"

#include <cstring>

namespace fs = std::filesystem;

namespace {

// One catalogue directory and log file for the test program, as catalogues stay loaded.
const TempDir kCatalogues;

void Write(const std::string &name, const std::string &text) { WriteFile(kCatalogues / name, text); }
std::string LogText() { return ReadFile(kCatalogues / "log"); }

std::string Header(const std::string &charset, const std::string &printEncoding = "")
{
    return "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=" + charset + "\\n\"\n" +
           (printEncoding.empty() ? "" : "\"X-Printer-Encoding: " + printEncoding + "\\n\"\n") + "\n";
}

std::string Entry(unsigned int id, const std::string &source, const std::string &translation)
{
    return "msgctxt \"" + std::to_string(id) + "\"\nmsgid \"" + source + "\"\nmsgstr \"" + translation + "\"\n\n";
}

struct Translation {
    int status;
    const char *text;
};

void ExpectTranslation(const Translation &translation, int status, const char *text)
{
    EXPECT_EQ(translation.status, status);
    EXPECT_EQ(translation.text ? std::string(translation.text) : "<NULL>", text ? text : "<NULL>");
}

Translation Translate(const char *language, unsigned int id)
{
    Translation translation = {-1, "not set"};
    translation.status = Trans_TranslateString(language, id, &translation.text);
    return translation;
}

EncodingConverter::ConversionResults Convert(const std::string &from, const std::string &to, const std::string &text)
{
    return EncodingConverter().convertTo(to).convertFrom(from).convert(text);
}

class TranslationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TRANS_CATALOG_DIR", kCatalogues.path.c_str(), 1);
        setenv("DEVICE_LOG", (kCatalogues / "log").c_str(), 1);
        Write("log", "");
        unsetenv("SYSTEM_CHARSET");
    }
};

TEST_F(TranslationTest, GivesTheTranslationOrElseTheEnglishSourceAndThePrinterEncoding)
{
    Write("de.po", Header("UTF-8", "ISO-8859-7 ") + Entry(1, "Page", "Seite") +
                           Entry(2, "Subject", "") + "#, fuzzy\n" + Entry(3, "Sender", "Absender?"));
    Write("nl.po", Header("UTF-8") + Entry(1, "Page", "Pagina"));

    const Translation page = Translate("de", 1);
    ExpectTranslation(page, TRANS_OK, "Seite");
    EXPECT_STREQ(Translate("de", 2).text, "Subject") << "an empty translation falls back to the source";
    EXPECT_STREQ(Translate("de", 3).text, "Sender") << "an unchecked (fuzzy) translation is not used";
    EXPECT_EQ(Translater("de").printEncoding(), "ISO-8859-7") << "blanks around the name are trimmed";
    EXPECT_EQ(Translater("nl").printEncoding(), TRANS_DEFAULT_PRINT_ENCODING) << "no header field";

    // The text handed out stays where it is while other catalogues are loaded and texts asked for.
    for (int i = 0; i < 50; ++i)
        Translate(("absent-" + std::to_string(i)).c_str(), 1);
    EXPECT_EQ(Translate("de", 1).text, page.text);
    EXPECT_STREQ(page.text, "Seite");
}

TEST_F(TranslationTest, RefusesUnknownLanguagesStringsAndDirectories)
{
    Write("fr.po", Header("UTF-8") + Entry(1, "Page", "Page"));
    Write(".hidden.po", Header("UTF-8", "ISO-8859-2") + Entry(1, "Page", "Hidden"));
    fs::create_directory(kCatalogues.path / "sub");
    Write("sub/fr.po", Header("UTF-8", "ISO-8859-2") + Entry(1, "Page", "Sub"));

    const struct {
        const char *language;
        unsigned int id;
        int status;
    } cases[] = {
        {"fr", 99, TRANS_ERR_UNKNOWN_STRING},   {"xx-none", 1, TRANS_ERR_UNKNOWN_LANGUAGE},
        {".hidden", 1, TRANS_ERR_UNKNOWN_LANGUAGE}, {"sub/fr", 1, TRANS_ERR_UNKNOWN_LANGUAGE},
        {"../fr", 1, TRANS_ERR_UNKNOWN_LANGUAGE}, {"", 1, TRANS_ERR_UNKNOWN_LANGUAGE},
        {nullptr, 1, TRANS_ERR_ARGUMENT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.language ? c.language : "NULL") + " " + std::to_string(c.id));
        ExpectTranslation(Translate(c.language, c.id), c.status, nullptr);
        EXPECT_TRUE(!c.language || Translater(c.language).printEncoding() == TRANS_DEFAULT_PRINT_ENCODING);
    }
    EXPECT_EQ(Trans_TranslateString("fr", 1, nullptr), TRANS_ERR_ARGUMENT);

    // Init checks that the catalogue directory can be read.
    const std::string directory = kCatalogues.path.string();
    EXPECT_EQ(Trans_Init(), TRANS_OK);
    setenv("TRANS_CATALOG_DIR", (directory + "/missing").c_str(), 1);
    EXPECT_EQ(Trans_Init(), TRANS_ERR_CATALOG_DIR);
    EXPECT_TRUE(Contains(LogText(), directory + "/missing")) << LogText();
    setenv("TRANS_CATALOG_DIR", (directory + "/fr.po").c_str(), 1);
    EXPECT_EQ(Trans_Init(), TRANS_ERR_CATALOG_DIR);
    setenv("TRANS_CATALOG_DIR", directory.c_str(), 1);
}

TEST_F(TranslationTest, MalformedCatalogueIsLoggedWithFileAndLineOnce)
{
    // Header lines 1 to 5, entry lines 6 to 9, then a string left open on line 12 (ended by 13).
    Write("it-bad.po", Header("UTF-8", "ISO-8859-2") + Entry(1, "Page", "Pagina") +
                               "msgctxt \"2\"\nmsgid \"Subject\"\nmsgstr \"Oggetto\n\n");

    ExpectTranslation(Translate("it-bad", 1), TRANS_ERR_BAD_CATALOG, nullptr);
    const std::string line = (kCatalogues.path / "it-bad.po").string() + ", line 13:";
    EXPECT_NE(LogText().find(line), std::string::npos) << LogText();
    EXPECT_EQ(Translater("it-bad").printEncoding(), TRANS_DEFAULT_PRINT_ENCODING);

    // Kept as bad: asking again neither parses nor logs the file again.
    Write("log", "");
    EXPECT_EQ(Translate("it-bad", 2).status, TRANS_ERR_BAD_CATALOG);
    EXPECT_EQ(LogText().find(line), std::string::npos) << LogText();

    // Other ways a file can be unusable: a charset iconv does not know, a directory in its place.
    Write("it-charset.po", Header("NO-SUCH-CHARSET") + Entry(1, "Page", "Pagina"));
    EXPECT_EQ(Translate("it-charset", 1).status, TRANS_ERR_BAD_CATALOG);
    fs::create_directory(kCatalogues.path / "it-dir.po");
    EXPECT_EQ(Translate("it-dir", 1).status, TRANS_ERR_BAD_CATALOG);
}

TEST_F(TranslationTest, HandsOutTextsInTheSystemCharset)
{
    Write("es.po", Header("UTF-8") + Entry(1, "Price", "Precio 5 \u20ac, caf\u00e9") +
                           Entry(2, "Hello", "\u041f\u0440\u0438\u0432\u0435\u0442 \u4e2d"));
    Write("es-latin1.po", Header("ISO-8859-1") + Entry(1, "Summer", "\xe9t\xe9"));

    EXPECT_STREQ(Translate("es", 1).text, "Precio 5 \xa4, caf\xe9") << "ISO-8859-15 when SYSTEM_CHARSET is unset";
    const std::string unmappable = Translate("es", 2).text;
    EXPECT_EQ(unmappable.size(), 8u) << "one character, or '?', for each that ISO-8859-15 lacks";
    EXPECT_EQ(unmappable.back(), '?');

    setenv("SYSTEM_CHARSET", "UTF-8", 1);
    EXPECT_STREQ(Translate("es-latin1", 1).text, "\u00e9t\u00e9");
    EXPECT_STREQ(Translate("es", 1).text, "Precio 5 \u20ac, caf\u00e9") << "texts are kept per system charset";

    setenv("SYSTEM_CHARSET", "NO-SUCH-CHARSET", 1);
    ExpectTranslation(Translate("es", 1), TRANS_ERR_CONVERSION, nullptr);
}

// Lowercase pairs of every byte, cut before a character that does not fit whole.
TEST_F(TranslationTest, HexCutNeverSplitsAUtf8Character)
{
    // Characters of 1, 2, 3, 4 and 1 bytes, "a\u00e9\u20ac\U0001F600b": they end after bytes 1,
    // 3, 6, 10 and 11.
    const std::string text = "a\u00e9\u20ac\U0001F600b";
    const std::string hex = "61c3a9e282acf09f988062";
    const size_t characterEnds[] = {0, 1, 3, 6, 10, 11};
    for (int maxBytes = 1; maxBytes <= 26; ++maxBytes) {
        const size_t room = static_cast<size_t>(maxBytes - 1) / 2;
        size_t expected = 0;
        for (size_t end : characterEnds)
            expected = end <= room ? end : expected;
        char out[32];
        std::memset(out, 'x', sizeof out);
        EXPECT_EQ(Trans_ConvertUTF8StringToHex(out, text.c_str(), maxBytes), static_cast<int>(2 * expected))
            << "maxBytes " << maxBytes;
        EXPECT_EQ(std::string(out), hex.substr(0, 2 * expected)) << "maxBytes " << maxBytes;
        EXPECT_EQ(out[maxBytes], 'x') << "wrote past maxBytes " << maxBytes;
    }
    char out[16] = "untouched";
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(out, "A\xff\x01 ", sizeof out), 8);
    EXPECT_STREQ(out, "41ff0120");

    std::strcpy(out, "untouched");
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(nullptr, "A", 16), -1);
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(out, nullptr, 16), -1);
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(out, "A", 0), -1);
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(out, "A", -5), -1);
    EXPECT_STREQ(out, "untouched") << "a refused call writes nothing";
}

TEST_F(TranslationTest, ConverterNeverFailsOnData)
{
    const struct {
        const char *from, *to;
        std::string text, readAs, converted;
    } cases[] = {
        {"UTF-8", "ISO-8859-15", "Caf\u00e9 5 \u20ac", "UTF-8", "Caf\xe9 5 \xa4"},
        // Transliteration works whatever the caller's locale: accented Latin letters keep their
        // base letter in a Cyrillic encoding, the euro sign is spelt out, the rest becomes "?".
        {"UTF-8", "ISO-8859-5", "\u00c9lodie Ma\u0142gorzata", "UTF-8", "Elodie Malgorzata"},
        {"UTF-8", "ISO-8859-1", "5 \u20ac", "UTF-8", "5 EUR"},
        {"UTF-8", "ISO-8859-1", "a\u4e2d\u6587b", "UTF-8", "a??b"},
        // Undecodable input characters become "?" and the rest still converts.
        {"ASCII", "ISO-8859-15", "a\xe9z", "ASCII", "a?z"},
        {"UTF-16LE", "ISO-8859-15", std::string("a\0\x00\xd8z\0", 6), "UTF-16LE", "a?z"},
        // Text that is not UTF-8 is read as Latin-9: plain, overlong, surrogate, cut short.
        {"UTF-8", "UTF-8", "Caf\xe9 5 \xa4", "ISO-8859-15", "Caf\u00e9 5 \u20ac"},
        {"UTF-8", "UTF-8", "\xc0\xaf", "ISO-8859-15", "\u00c0\u00af"},
        {"UTF-8", "UTF-8", "\xe0\x80\xaf", "ISO-8859-15", "\u00e0\u0080\u00af"},
        {"UTF-8", "UTF-8", "\xed\xa0\x80", "ISO-8859-15", "\u00ed\u00a0\u0080"},
        {"utf8", "UTF-8", "caf\xc3", "ISO-8859-15", "caf\u00c3"},
        // Unknown encodings, or none, leave the text unchanged.
        {"UTF-8", "NO-SUCH-ENCODING", "caf\u00e9", "UTF-8", "caf\u00e9"},
        {"NO-SUCH-ENCODING", "UTF-8", "caf\u00e9", "NO-SUCH-ENCODING", "caf\u00e9"},
        {"", "", "caf\u00e9", "", "caf\u00e9"},
        {"UTF-8", "ISO-8859-15", "", "UTF-8", ""},
    };
    for (const auto &c : cases) {
        const EncodingConverter::ConversionResults results = Convert(c.from, c.to, c.text);
        EXPECT_EQ(results.first, c.readAs) << c.from << " to " << c.to << ": " << c.text;
        EXPECT_EQ(results.second, c.converted) << c.from << " to " << c.to << ": " << c.text;
    }

    // Output larger than the first guess of its size.
    const std::string wide = Convert("ASCII", "UTF-32LE", std::string(1000, 'a')).second;
    ASSERT_EQ(wide.size(), 4000u);
    EXPECT_EQ(wide.substr(3996), std::string("a\0\0\0", 4));
}

} // namespace
