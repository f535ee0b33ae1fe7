// Cost of each step of the conversion the plug-in makes for every report text: the sniffer's
// UTF-8 check, a Translater, an EncodingConverter from UTF-8 into the printer encoding, and the hex
// text. The conversions run on the three kinds of report text, which take different ways through
// the charset module: ASCII only, Latin letters the printer encoding has, and a character it lacks
// (transliterated by iconv). The whole sequence, as the plug-in runs it, is measured by
// bench-activityReport (under 2 microseconds for the accented text).

#include "sniffer.h"
#include "translation.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// 40 bytes of UTF-8 with six accented letters.
const std::string kAccentedText =
    "R\u00e9sum\u00e9 d\u00e9j\u00e0 envoy\u00e9 \u00e0 l'\u00e9quipe ici";
const std::string kAsciiText = "h.crepin4@bureau-etudes.example";
// An en dash, which ISO-8859-15 lacks.
const std::string kTransliteratedText = "Angebot Nr. 17 \u2013 Fassadenplanung Haus B";

void ConstructTranslater(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Translater("xx").printEncoding());
}
BENCHMARK(ConstructTranslater);

void SniffUtf8(benchmark::State &state, const std::string &text)
{
    for (auto _ : state) {
        char *utf8 = nullptr;
        benchmark::DoNotOptimize(SNF_Convert(text.data(), text.size(), "UTF-8", &utf8));
        std::free(utf8);
    }
}
BENCHMARK_CAPTURE(SniffUtf8, ascii, kAsciiText);
BENCHMARK_CAPTURE(SniffUtf8, accented, kAccentedText);

void ConvertUtf8ToLatin9(benchmark::State &state, const std::string &text)
{
    for (auto _ : state) {
        EncodingConverter converter;
        converter.convertTo("ISO-8859-15");
        benchmark::DoNotOptimize(converter.convertFrom("UTF-8").convert(text));
    }
}
BENCHMARK_CAPTURE(ConvertUtf8ToLatin9, ascii, kAsciiText);
BENCHMARK_CAPTURE(ConvertUtf8ToLatin9, accented, kAccentedText);
BENCHMARK_CAPTURE(ConvertUtf8ToLatin9, transliterated, kTransliteratedText);

void WriteHex(benchmark::State &state)
{
    char hex[511];
    for (auto _ : state)
        benchmark::DoNotOptimize(
            Trans_ConvertUTF8StringToHex(hex, kAccentedText.c_str(), sizeof hex));
}
BENCHMARK(WriteHex);

// A one-language catalogue in a directory of its own, like the device's.
std::filesystem::path MakeCatalogue()
{
    char pattern[] = "/tmp/bench-translation-XXXXXX";
    const std::filesystem::path directory = mkdtemp(pattern);
    std::ofstream(directory / "xx.po") << "msgid \"\"\nmsgstr \"\"\n"
                                          "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                                          "\"X-Printer-Encoding: ISO-8859-15\\n\"\n\n"
                                          "msgctxt \"1\"\nmsgid \"Page\"\nmsgstr \"Page\"\n";
    setenv("TRANS_CATALOG_DIR", directory.c_str(), 1);
    setenv("DEVICE_LOG", (directory / "log").c_str(), 1);
    return directory;
}

} // namespace

int main(int argc, char **argv)
{
    const std::filesystem::path directory = MakeCatalogue();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(directory);
    return 0;
}
