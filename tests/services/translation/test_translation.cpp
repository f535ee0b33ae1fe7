// Tests of the translation stand-in: catalogue texts in the system charset, bad catalogues, printer
// encodings, the encoding converter, hex text, overlapping calls, and failures that must not be
// remembered.

#include "../files.h"
#include "faults.h"
#include "translation.h"

#include <functional>
#include <iconv.h>
#include <new>
#include <optional>
#include <system_error>

const TempDir kDir;

// The catalogues every test reads, made before the first one runs.
const bool kCatalogues = [] {
    setenv("TRANS_CATALOG_DIR", kDir.path.c_str(), 1);
    setenv("DEVICE_LOG", (kDir / "log").c_str(), 1);
    WriteFile(kDir / "de.po",
              "# header\nmsgid \"\" msgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n"
              "\"X-Printer-Encoding: ISO-8859-7 \\n\"\n"
              "msgctxt \"1\" msgid \"Page\" msgstr \"Sei\"\n\"te\"\n"
              "msgctxt \"2\" msgid \"To\" msgstr \"\"\n#, fuzzy\n"
              "msgctxt \"3\" msgid \"To\" msgstr \"An\"\n"
              "msgctxt \"4\" msgid \"\" msgstr \"5 \\342\\202\\254\\t\\x41\\\"\"\n"
              "msgctxt \"5\" msgid \"\" msgstr \"\\320\\237\"\n"
              "msgctxt \"1\" msgid \"Page\" msgstr \"Blatt\"\n");
    WriteFile(kDir / "tiny.po", "msgctxt\"0\"msgid\"\"msgstr\"\xb5\"");
    WriteFile(kDir / "bad.po", "msgctxt \"1\"\nmsgid \"Page\"\nmsgstr \"open\n");
    WriteFile(kDir / "stray.po", "\"no keyword\"\nmsgctxt \"1\" msgid \"P\" msgstr \"Q\"\n");
    std::filesystem::create_directory(kDir / "sub");
    return mkfifo((kDir / "fifo.po").c_str(), 0600) == 0;
}();

const useconds_t kPastTheRecheck = 120000;  // a catalogue is looked at again every 100 ms

// The status, a blank and the text of one translation.
std::string Translate(const char *language, unsigned int id)
{
    const char *text = nullptr;
    const int status = Trans_TranslateString(language, id, &text);
    return std::to_string(status) + " " + (text ? text : "NULL");
}

// What each step gave, in order, run in a child process with SYSTEM_CHARSET set to `charset`:
// the service reads it once per process. The log's own records go elsewhere.
using Steps = std::vector<std::function<std::string()>>;
std::vector<std::string> WithCharset(const char *charset, const Steps &steps)
{
    const std::string out = InChild([&] {
        setenv("SYSTEM_CHARSET", charset, 1);
        const int results = dup(STDERR_FILENO);
        dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
        std::string all;
        for (const auto &step : steps)
            all += step() + '\0';
        _exit(write(results, all.data(), all.size()) == static_cast<ssize_t>(all.size()) ? 0 : 1);
    }).standardError;
    std::vector<std::string> results;
    for (size_t start = 0, end; (end = out.find('\0', start)) != std::string::npos; start = end + 1)
        results.push_back(out.substr(start, end - start));
    return results;
}

// The encoding the text was read as, a blank and the converted text.
std::string Convert(const std::string &from, const std::string &to, const std::string &text)
{
    const auto results = EncodingConverter().convertTo(to).convertFrom(from).convert(text);
    return results.first + " " + results.second;
}

TEST(Translation, CatalogueTextsInTheSystemCharset)
{
    const struct { const char *language; unsigned int id; const char *charset, *want; } cases[] = {
        {.language = "de", .id = 1, .charset = "ISO-8859-15", .want = "0 Seite"}, // the first
        {.language = "de", .id = 2, .charset = "UTF-8", .want = "0 To"}, // empty
        {.language = "de", .id = 3, .charset = "UTF-8", .want = "0 To"}, // fuzzy
        {.language = "de", .id = 4, .charset = "ISO-8859-15", .want = "0 5 \xa4\tA\""},
        {.language = "de", .id = 4, .charset = "UTF-8", .want = "0 5 \u20ac\tA\""},
        {.language = "de", .id = 99, .charset = "UTF-8", .want = "4 NULL"},
        {.language = "de", .id = 5, .charset = "ISO-8859-15//IGNORE", .want = "0 "},
        {.language = "tiny", .id = 0, .charset = "ISO-8859-15//IGNORE", .want = "0 ?"},
        {.language = "de", .id = 4, .charset = "NO-SUCH", .want = "5 NULL"},
        {.language = nullptr, .id = 1, .charset = "UTF-8", .want = "1 NULL"},
        {.language = "none", .id = 1, .charset = "UTF-8", .want = "2 NULL"},
        {.language = "sub/../de", .id = 1, .charset = "UTF-8", .want = "2 NULL"}, // out and back
        {.language = "", .id = 1, .charset = "UTF-8", .want = "2 NULL"},
        {.language = "bad", .id = 1, .charset = "UTF-8", .want = "3 NULL"},
        {.language = "fifo", .id = 1, .charset = "UTF-8", .want = "3 NULL"}, // or any not regular
        {.language = "stray", .id = 1, .charset = "UTF-8", .want = "3 NULL"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(WithCharset(c.charset, {[&] { return Translate(c.language, c.id); }}),
                  std::vector<std::string>{c.want})
            << c.id << " " << c.charset;
    const std::string log = ReadFile(kDir / "log");
    EXPECT_TRUE(Contains(log, kDir / "bad.po, line 3:"));
    EXPECT_TRUE(Contains(log, kDir / "de.po, line 11: string id 1 appears twice"));
    EXPECT_EQ(Translater("de").printEncoding(), "ISO-8859-7");
    EXPECT_EQ(Translater("fifo").printEncoding(), TRANS_DEFAULT_PRINT_ENCODING);
    // The plug-in reads SYSTEM_CHARSET once per process; so does the service, or the two would
    // disagree on the charset of every text after a change.
    const Steps charsetChanged = {[] { return Translate("de", 5); },
                                  [] {
                                      setenv("SYSTEM_CHARSET", "ISO-8859-15", 1);
                                      return Translate("de", 4);
                                  }};
    EXPECT_EQ(WithCharset("UTF-8", charsetChanged),
              (std::vector<std::string>{"0 \u041f", "0 5 \u20ac\tA\""}));
}

// Before any test that converts in this process: the rows' children must read their own system
// charset, and a child keeps the one its parent read first (the whole program run at once).
// Fault: hex text cut by UTF-8 rules in another encoding (ISO-8859-2 letters look like
// continuation bytes, and the text vanished), a byte the room allows dropped, a second byte that
// looks like ASCII or like a lead byte taken for a character, a text the converter did not give
// cut by the converter's encoding; on a device of a national charset, a text that is valid UTF-8
// by chance read as UTF-8, and on another device invalid UTF-8 not read in its charset. (The
// plug-in's run test prints ISO-8859-5 and Shift JIS subjects through the same cut.)
TEST(Translation, HexTextKeepsTheWholeCharactersOfItsEncodingThatFit)
{
    const struct {
        const char *system, *to;
        std::string text;
        int room;
        const char *hex, *read = "UTF-8";
    } cases[] = {
        {.system = "UTF-8", .to = "CP932", .text = "表ｱ表", .room = 9, .hex = "955cb1"},
        {.system = "UTF-8", .to = "BIG5", .text = "1一一", .room = 7, .hex = "31a440"},
        {.system = "UTF-8", .to = "CP949", .text = "갂갂", .room = 7, .hex = "8141"},
        {.system = "UTF-8", .to = "GB18030", .text = "a中𠀀", .room = 11, .hex = "61d6d0"},
        {.system = "UTF-8", .to = "EUC-JP", .text = "丂ｱ", .room = 9, .hex = "8fb0a1"},
        {.system = "GBK", .to = "GBK", .text = "\xd2\xbb\xd2\xbb", .room = 7, .hex = "d2bb",
         .read = "GBK"},
        {.system = "ISO-8859-2", .to = "ISO-8859-2", .text = "\xb1\xb1", .room = 9, .hex = "b1b1",
         .read = "ISO-8859-2"},
        {.system = "ISO-8859-2", .to = "ISO-8859-2", .text = "ą", .room = 9, .hex = "b1"}};
    char out[32];
    for (const auto &c : cases) {
        const auto convertAndHex = [&] {
            const auto results =
                EncodingConverter().convertTo(c.to).convertFrom("UTF-8").convert(c.text);
            Trans_ConvertUTF8StringToHex(out, results.second.c_str(), c.room);
            return results.first + " " + out;
        };
        EXPECT_EQ(WithCharset(c.system, {convertAndHex}),
                  std::vector<std::string>{std::string(c.read) + " " + c.hex})
            << c.system << " to " << c.to;
    }
    Trans_ConvertUTF8StringToHex(out, "\xbf\xbf\xbf\xbf", 7);
    EXPECT_STREQ(out, "") << "a text the converter did not give is cut as UTF-8";
}

// Fault: a failed allocation, each in turn, ending otherwise than with TRANS_ERR_NO_MEMORY or
// std::bad_alloc; a failure remembered, so that a later call does not translate; a lack of
// descriptors answered with a default, or taken for an unknown charset.
TEST(Translation, FailuresAreNotRemembered)
{
    WriteFile(kDir / "new.po",
              "msgid \"\" msgstr \"Content-Type: text/plain; charset=ISO-8859-2\\n\"\n"
              "msgctxt \"1\" msgid \"P\" msgstr \"Pagina\"");
    setenv("SYSTEM_CHARSET", "ISO-8859-15", 1);
    // The C library reports a conversion module it cannot load for lack of memory as an unknown
    // charset (EINVAL), which no caller can tell from a wrong name: the modules these calls need
    // are loaded first, and stay loaded while a descriptor of theirs is open.
    std::vector<iconv_t> loaded;
    for (const char *charset : {"ISO-8859-2", "ISO-8859-15", "ISO-8859-5"}) {
        loaded.push_back(iconv_open(charset, "UTF-8"));
        ASSERT_NE(loaded.back(), reinterpret_cast<iconv_t>(-1)) << charset;
    }
    const std::string kThrown = "std::bad_alloc";
    const struct {
        const char *what;
        std::function<std::string()> call;
        std::string whole, shortOfMemory;
    } rows[] = { // the first reads the catalogue
        {.what = "a translater", .call = [] { return Translater("new").printEncoding(); },
         .whole = TRANS_DEFAULT_PRINT_ENCODING, .shortOfMemory = kThrown},
        {.what = "a text", .call = [] { return Translate("new", 1); },
         .whole = std::to_string(TRANS_OK) + " Pagina",
         .shortOfMemory = std::to_string(TRANS_ERR_NO_MEMORY) + " NULL"},
        {.what = "a conversion", .call = [] { return Convert("UTF-8", "ISO-8859-5", "\u00c9lo"); },
         .whole = "UTF-8 Elo", .shortOfMemory = kThrown},
    };
    for (const auto &row : rows) {
        std::string got;
        const auto call = [&] {
            try {
                got = row.call();
            } catch (const std::bad_alloc &) {
                got = kThrown;
            }
        };
        long failedRuns = 0;
        faults::FailEachAllocationInTurn(call, [&](const faults::AllocationRun &run) {
            failedRuns += run.failed;
            if (got != row.whole) { // else an allocation it could do without
                EXPECT_EQ(got, row.shortOfMemory) << row.what << ", allocation " << run.nth;
            }
        });
        EXPECT_EQ(got, row.whole) << row.what;
        EXPECT_GT(failedRuns, 0) << row.what;
    }
    for (iconv_t descriptor : loaded)
        iconv_close(descriptor);
    if (!kSanitizerNeedsDescriptors) {
        NoFreeDescriptors exhausted;
        EXPECT_THROW(Translater("lost2"), std::system_error) << "no descriptor for the catalogue";
        try {
            Convert("UTF-8", "ISO-8859-4", "\u0101");
            ADD_FAILURE() << "converted without a descriptor";
        } catch (const std::system_error &failure) {
            EXPECT_EQ(failure.code().value(), EMFILE) << "taken for an unknown charset";
        }
    }
    EXPECT_EQ(Convert("UTF-8", "ISO-8859-4", "\u0101"), "UTF-8 \xe0") << "a shortage remembered";
}

// A catalogue read while it was being copied is read again once it changes: cut between two
// entries (the text is unknown), then inside a string (the catalogue is bad), then whole but
// without a descriptor to read it with; that failure is not remembered.
TEST(Translation, ACatalogueIsReadAgainOnceItChangesOrCanBeRead)
{
    const std::string path = kDir / "copied.po",
                      whole = "msgid \"\" msgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                              "msgctxt \"1\" msgid \"One\" msgstr \"Eins\"\n"
                              "msgctxt \"2\" msgid \"Two\" msgstr \"Zwei\"\n";
    const auto copiedUpTo = [&](const std::string &end, bool descriptors = true) {
        return [&, end, descriptors] {
            WriteFile(path, whole.substr(0, whole.find(end)));
            usleep(kPastTheRecheck);
            std::optional<NoFreeDescriptors> exhausted;
            if (!descriptors)
                exhausted.emplace();
            return Translate("copied", 2);
        };
    };
    const char *const kWhole = "<not in the text>";
    const Steps steps = {copiedUpTo("msgctxt \"2\""), copiedUpTo("Zwei"), copiedUpTo(kWhole, false),
                         [] { return Translate("copied", 2); }};
    EXPECT_EQ(WithCharset("UTF-8", steps),
              (std::vector<std::string>{"4 NULL", "3 NULL", "3 NULL", "0 Zwei"}));
}

TEST(Translation, ConversionsNeverFailOnDataNorPassTextUnconverted)
{
    const struct { const char *from, *to; std::string text, want; } cases[] = {
        // whatever the locale
        {.from = "UTF-8", .to = "ISO-8859-1", .text = "5 \u20ac a\u4e2d\u6587b",
         .want = "UTF-8 5 EUR a??b"},
        {.from = "ASCII", .to = "UTF-8", .text = "a\xe9", .want = "ASCII a?"},
        {.from = "UTF-8", .to = "ISO-8859-15//IGNORE", .text = "a\u041f\u0440b",
         .want = "UTF-8 ab"},
        {.from = "UTF-8", .to = "ISO-8859-2//TRANSLIT", .text = "\u00e6\u0301", // ours, not the
         .want = "UTF-8 ae"},                                                     // locale's
        {.from = "UTF-16LE", .to = "ASCII", .text = std::string("a\0\x00\xd8z\0\xe9", 7),
         .want = "UTF-16LE a?z?"},
        {.from = "utf8", .to = "UTF-8", .text = "\xe9\xa4 \xc0\xaf \xed\xa0\x80 \xc3",
         .want = "ISO-8859-15 \u00e9\u20ac \u00c0\u00af \u00ed\u00a0\u0080 \u00c3"},
        // Targets where ASCII or a letter is not one byte of its own: no shortcut may copy it.
        {.from = "UTF-8", .to = "ISO-8859-7", .text = "\u03b1\u03b2 \u00e9 +",
         .want = "UTF-8 \xe1\xe2 e +"},
        {.from = "UTF-8", .to = "UTF-7", .text = "a+b", .want = "UTF-8 a+-b"},
        {.from = "UTF-8", .to = "ISO-2022-JP", .text = "a\u03b1b",
         .want = "UTF-8 a\x1b$B&A\x1b(Bb"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Convert(c.from, c.to, c.text), c.want) << c.from << " to " << c.to;
    EXPECT_EQ(Convert("ASCII", "UTF-32LE", std::string(1000, 'a')).size(), 6 + 4000u);
    for (const char *to : {"NO-SUCH", ""})
        EXPECT_THROW(Convert("UTF-8", to, "\u00e9"), std::system_error) << "into \"" << to << "\"";

    // Hex text is cut before a character that does not fit whole: room for 8 bytes here.
    char out[32] = "x";
    const int refused = -1, digitsOfThreeCharacters = 12; // a, e-acute, euro: 1 + 2 + 3 bytes
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(nullptr, "A", 8), refused);
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(out, "A", 0), refused);
    EXPECT_EQ(Trans_ConvertUTF8StringToHex(out, "a\u00e9\u20ac\U0001F600b", 17),
              digitsOfThreeCharacters);
    EXPECT_STREQ(out, "61c3a9e282ac");
}
