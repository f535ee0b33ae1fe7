// Tests of the translation stand-in: texts from PO catalogues in the system charset, how bad
// catalogues and unknown languages show, printer encodings, the encoding converter and hex text.
//
// Catalogues are parsed once per process and kept, so every test writes its own languages.

#include "translation.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// One catalogue directory and log file for the test program, removed at its end.
class CatalogueEnvironment : public ::testing::Environment {
public:
    static fs::path directory;

    void SetUp() override
    {
        char pattern[] = "/tmp/test-translation-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        setenv("TRANS_CATALOG_DIR", directory.c_str(), 1);
        setenv("DEVICE_LOG", (directory / "log").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(directory); }
};
fs::path CatalogueEnvironment::directory;
const auto *const environment = ::testing::AddGlobalTestEnvironment(new CatalogueEnvironment);

std::string ReadFile(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const fs::path &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string Header(const std::string &charset, const std::string &printEncoding = "")
{
    std::string header = "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=" + charset + "\\n\"\n";
    if (!printEncoding.empty())
        header += "\"X-Printer-Encoding: " + printEncoding + "\\n\"\n";
    return header + "\n";
}

std::string Entry(unsigned int id, const std::string &source, const std::string &translation)
{
    return "msgctxt \"" + std::to_string(id) + "\"\nmsgid \"" + source + "\"\nmsgstr \"" + translation + "\"\n\n";
}

void WriteCatalogue(const std::string &language, const std::string &text)
{
    WriteFile(CatalogueEnvironment::directory / (language + ".po"), text);
}

std::string LogText()
{
    return ReadFile(CatalogueEnvironment::directory / "log");
}

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

struct Translation {
    int status;
    const char *text;
};

Translation Translate(const char *language, unsigned int id)
{
    Translation translation = {-1, "not set"};
    translation.status = Trans_TranslateString(language, id, &translation.text);
    return translation;
}

EncodingConverter::ConversionResults Convert(const std::string &from, const std::string &to, const std::string &text)
{
    EncodingConverter converter;
    converter.convertTo(to);
    return converter.convertFrom(from).convert(text);
}

std::string HexOf(const std::string &bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0f];
    }
    return hex;
}

class TranslationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(CatalogueEnvironment::directory / "log", "");
        unsetenv("SYSTEM_CHARSET");
    }
};

TEST_F(TranslationTest, GivesTheTranslationOrElseTheEnglishSource)
{
    WriteCatalogue("de", Header("UTF-8") + Entry(1, "Page", "Seite") + Entry(2, "Subject", "") +
                             "#, fuzzy\n" + Entry(3, "Sender", "Absender?"));

    Translation page = Translate("de", 1);
    EXPECT_EQ(page.status, TRANS_OK);
    EXPECT_STREQ(page.text, "Seite");
    EXPECT_STREQ(Translate("de", 2).text, "Subject") << "an empty translation falls back to the source";
    EXPECT_STREQ(Translate("de", 3).text, "Sender") << "an unchecked (fuzzy) translation is not used";

    // The text handed out stays where it is while other catalogues are loaded and texts asked for.
    for (int i = 0; i < 50; ++i)
        Translate(("absent-" + std::to_string(i)).c_str(), 1);
    EXPECT_EQ(Translate("de", 1).text, page.text);
    EXPECT_STREQ(page.text, "Seite");
}

TEST_F(TranslationTest, RefusesUnknownLanguagesStringsAndArguments)
{
    WriteCatalogue("fr", Header("UTF-8") + Entry(1, "Page", "Page"));
    WriteCatalogue(".hidden", Header("UTF-8") + Entry(1, "Page", "Hidden"));
    fs::create_directory(CatalogueEnvironment::directory / "sub");
    WriteFile(CatalogueEnvironment::directory / "sub" / "fr.po", Header("UTF-8") + Entry(1, "Page", "Sub"));

    struct Case {
        const char *language;
        unsigned int id;
        int status;
    } cases[] = {
        {"fr", 99, TRANS_ERR_UNKNOWN_STRING},   {"xx-none", 1, TRANS_ERR_UNKNOWN_LANGUAGE},
        {".hidden", 1, TRANS_ERR_UNKNOWN_LANGUAGE}, {"sub/fr", 1, TRANS_ERR_UNKNOWN_LANGUAGE},
        {"../fr", 1, TRANS_ERR_UNKNOWN_LANGUAGE}, {"", 1, TRANS_ERR_UNKNOWN_LANGUAGE},
        {nullptr, 1, TRANS_ERR_ARGUMENT},
    };
    for (const Case &c : cases) {
        Translation translation = Translate(c.language, c.id);
        EXPECT_EQ(translation.status, c.status) << (c.language ? c.language : "NULL") << " " << c.id;
        EXPECT_EQ(translation.text, nullptr) << (c.language ? c.language : "NULL") << " " << c.id;
    }
    EXPECT_EQ(Trans_TranslateString("fr", 1, nullptr), TRANS_ERR_ARGUMENT);
}

TEST_F(TranslationTest, MalformedCatalogueIsLoggedWithFileAndLineOnce)
{
    // Header lines 1 to 4, entry lines 5 to 9, then a string left open on line 12.
    const std::string catalogue = Header("UTF-8") + Entry(1, "Page", "Pagina") +
                                  "msgctxt \"2\"\nmsgid \"Subject\"\nmsgstr \"Oggetto\n\n";
    WriteCatalogue("it-bad", catalogue);

    EXPECT_EQ(Translate("it-bad", 1).status, TRANS_ERR_BAD_CATALOG);
    EXPECT_EQ(Translate("it-bad", 1).text, nullptr);
    const std::string log = LogText();
    EXPECT_TRUE(Contains(log, (CatalogueEnvironment::directory / "it-bad.po").string() + ", line 12:"))
        << log;
    EXPECT_EQ(Translater("it-bad").printEncoding(), TRANS_DEFAULT_PRINT_ENCODING);

    // Kept as bad: asking again neither parses nor logs the file again.
    WriteFile(CatalogueEnvironment::directory / "log", "");
    EXPECT_EQ(Translate("it-bad", 2).status, TRANS_ERR_BAD_CATALOG);
    EXPECT_FALSE(Contains(LogText(), "line 12")) << LogText();

    // Other ways a file can be unusable: a charset iconv does not know, a directory in its place.
    WriteCatalogue("it-charset", Header("NO-SUCH-CHARSET") + Entry(1, "Page", "Pagina"));
    EXPECT_EQ(Translate("it-charset", 1).status, TRANS_ERR_BAD_CATALOG);
    fs::create_directory(CatalogueEnvironment::directory / "it-dir.po");
    EXPECT_EQ(Translate("it-dir", 1).status, TRANS_ERR_BAD_CATALOG);
}

TEST_F(TranslationTest, HandsOutTextsInTheSystemCharset)
{
    WriteCatalogue("es", Header("UTF-8") + Entry(1, "Price", "Precio 5 \u20ac, caf\u00e9") +
                             Entry(2, "Hello", "\u041f\u0440\u0438\u0432\u0435\u0442 \u4e2d"));
    WriteCatalogue("es-latin1", Header("ISO-8859-1") + Entry(1, "Summer", "\xe9t\xe9"));

    EXPECT_STREQ(Translate("es", 1).text, "Precio 5 \xa4, caf\xe9") << "ISO-8859-15 when SYSTEM_CHARSET is unset";
    const std::string unmappable = Translate("es", 2).text;
    EXPECT_EQ(unmappable.size(), 8u) << "one character, or '?', for each that ISO-8859-15 lacks";
    EXPECT_EQ(unmappable.back(), '?');

    setenv("SYSTEM_CHARSET", "UTF-8", 1);
    EXPECT_STREQ(Translate("es-latin1", 1).text, "\u00e9t\u00e9");
    EXPECT_STREQ(Translate("es", 1).text, "Precio 5 \u20ac, caf\u00e9") << "texts are kept per system charset";

    setenv("SYSTEM_CHARSET", "NO-SUCH-CHARSET", 1);
    Translation unknown = Translate("es", 1);
    EXPECT_EQ(unknown.status, TRANS_ERR_CONVERSION);
    EXPECT_EQ(unknown.text, nullptr);
}

TEST_F(TranslationTest, TranslaterNamesThePrinterEncodingOrTheDefault)
{
    WriteCatalogue("el", Header("UTF-8", "ISO-8859-7 ") + Entry(1, "Page", "Page"));
    WriteCatalogue("nl", Header("UTF-8") + Entry(1, "Page", "Pagina"));
    WriteCatalogue("pl-bad", Header("UTF-8", "ISO-8859-2") + "msgid \"Page\"\n");

    EXPECT_EQ(Translater("el").printEncoding(), "ISO-8859-7");
    EXPECT_EQ(Translater("nl").printEncoding(), TRANS_DEFAULT_PRINT_ENCODING) << "no header field";
    EXPECT_EQ(Translater("pl-bad").printEncoding(), TRANS_DEFAULT_PRINT_ENCODING) << "malformed";
    EXPECT_EQ(Translater("zz-none").printEncoding(), TRANS_DEFAULT_PRINT_ENCODING) << "no catalogue";
    EXPECT_EQ(Translater("../el").printEncoding(), TRANS_DEFAULT_PRINT_ENCODING) << "not a language name";
}

TEST_F(TranslationTest, InitChecksTheCatalogueDirectory)
{
    EXPECT_EQ(Trans_Init(), TRANS_OK);

    const std::string directory = CatalogueEnvironment::directory.string();
    setenv("TRANS_CATALOG_DIR", (directory + "/missing").c_str(), 1);
    EXPECT_EQ(Trans_Init(), TRANS_ERR_CATALOG_DIR);
    EXPECT_TRUE(Contains(LogText(), directory + "/missing")) << LogText();
    WriteFile(directory + "/plain-file", "");
    setenv("TRANS_CATALOG_DIR", (directory + "/plain-file").c_str(), 1);
    EXPECT_EQ(Trans_Init(), TRANS_ERR_CATALOG_DIR);
    setenv("TRANS_CATALOG_DIR", directory.c_str(), 1);
}

TEST_F(TranslationTest, HexIsLowercasePairsOfEveryByte)
{
    char out[16] = "untouched";
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(out, "A\xff\x01 ", sizeof out), 8);
    EXPECT_STREQ(out, "41ff0120");
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(out, "", sizeof out), 0);
    EXPECT_STREQ(out, "");

    std::string untouched = "untouched";
    char buffer[16] = "untouched";
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(nullptr, "A", 16), -1);
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(buffer, nullptr, 16), -1);
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(buffer, "A", 0), -1);
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(buffer, "A", -5), -1);
    EXPECT_EQ(buffer, untouched) << "a refused call writes nothing";
}

TEST_F(TranslationTest, HexCutNeverSplitsAUtf8Character)
{
    // Characters of 1, 2, 3, 4 and 1 bytes: they end after bytes 1, 3, 6, 10 and 11.
    const std::string text = "a\u00e9\u20ac\U0001F600b";
    const size_t characterEnds[] = {0, 1, 3, 6, 10, 11};
    for (int maxBytes = 1; maxBytes <= 26; ++maxBytes) {
        const size_t room = static_cast<size_t>(maxBytes - 1) / 2;
        size_t expected = 0;
        for (size_t end : characterEnds) {
            if (end <= room)
                expected = end;
        }
        char out[32];
        std::memset(out, 'x', sizeof out);
        EXPECT_EQ(Trans_ConvertUTF8StringToHex(out, text.c_str(), maxBytes), static_cast<int>(2 * expected))
            << "maxBytes " << maxBytes;
        EXPECT_EQ(std::string(out), HexOf(text.substr(0, expected))) << "maxBytes " << maxBytes;
        EXPECT_EQ(out[maxBytes], 'x') << "wrote past maxBytes " << maxBytes;
    }
}

TEST_F(TranslationTest, ConverterWritesTargetBytesAndStandsInForMissingCharacters)
{
    EncodingConverter converter;
    EXPECT_EQ(&converter.convertTo("ISO-8859-15"), &converter);
    EXPECT_EQ(&converter.convertFrom("UTF-8"), &converter);
    EncodingConverter::ConversionResults latin9 = converter.convert("Caf\u00e9 5 \u20ac");
    EXPECT_EQ(latin9.first, "UTF-8");
    EXPECT_EQ(latin9.second, "Caf\xe9 5 \xa4");

    // Transliteration works whatever the caller's locale: accented Latin letters keep their base
    // letter in a Cyrillic encoding, the euro sign is spelt out.
    EXPECT_EQ(Convert("UTF-8", "ISO-8859-5", "\u00c9lodie Ma\u0142gorzata").second, "Elodie Malgorzata");
    EXPECT_EQ(Convert("UTF-8", "ISO-8859-1", "5 \u20ac").second, "5 EUR");
    EXPECT_EQ(Convert("UTF-8", "ISO-8859-1", "a\u4e2d\u6587b").second, "a??b");
    // Cyrillic either transliterates into Latin letters or becomes "?", one byte per letter.
    const std::string cyrillic = Convert("UTF-8", "ISO-8859-1", "\u041f\u0440\u0438\u0432\u0435\u0442").second;
    EXPECT_EQ(cyrillic.size(), 6u) << cyrillic;
    for (unsigned char byte : cyrillic)
        EXPECT_TRUE(byte < 0x80 && (std::isalpha(byte) || byte == '?')) << cyrillic;

    // Undecodable input characters become "?" and the rest still converts.
    EXPECT_EQ(Convert("ASCII", "ISO-8859-15", "a\xe9z").second, "a?z");
    EXPECT_EQ(Convert("UTF-16LE", "ISO-8859-15", std::string("a\0\x00\xd8z\0", 6)).second, "a?z");
    // Output larger than the first guess of its size.
    const std::string wide = Convert("ASCII", "UTF-32LE", std::string(1000, 'a')).second;
    ASSERT_EQ(wide.size(), 4000u);
    EXPECT_EQ(wide.substr(3996), std::string("a\0\0\0", 4));
}

TEST_F(TranslationTest, ConverterReadsTextThatIsNotUtf8AsLatin9)
{
    EncodingConverter::ConversionResults results = Convert("UTF-8", "UTF-8", "Caf\xe9 5 \xa4");
    EXPECT_EQ(results.first, "ISO-8859-15");
    EXPECT_EQ(results.second, "Caf\u00e9 5 \u20ac");
    // Near misses of UTF-8 that iconv would refuse: overlong, surrogate, cut short.
    EXPECT_EQ(Convert("UTF-8", "UTF-8", "\xc0\xaf").first, "ISO-8859-15");
    EXPECT_EQ(Convert("UTF-8", "UTF-8", "\xed\xa0\x80").first, "ISO-8859-15");
    EXPECT_EQ(Convert("utf8", "UTF-8", "caf\xc3").first, "ISO-8859-15");
    EXPECT_EQ(Convert("UTF-8", "ISO-8859-15", "caf\u00e9").first, "UTF-8");
}

TEST_F(TranslationTest, ConverterLeavesTextUnchangedForUnknownEncodings)
{
    const std::string text = "caf\u00e9";
    EXPECT_EQ(Convert("UTF-8", "NO-SUCH-ENCODING", text).second, text);
    EXPECT_EQ(Convert("NO-SUCH-ENCODING", "UTF-8", text).second, text);
    EXPECT_EQ(EncodingConverter().convert(text).second, text) << "nothing set";
    EXPECT_EQ(Convert("UTF-8", "ISO-8859-15", "").second, "");
}

} // namespace
