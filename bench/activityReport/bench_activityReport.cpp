// Cost of ARL_CvtToUtf8Hex on a 40-byte accented text, the conversion a report makes for every
// subject, sender, name and address, on a device whose system charset is ISO-8859-15 (the text is
// copied, then converted to the printer encoding) and on one whose charset is UTF-8 (the sniffer
// converts it first). Target: under 2 microseconds.

#include "activityReportInternals.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

// 40 bytes of UTF-8 with six accented letters.
const char kUtf8Text[] = "R\u00e9sum\u00e9 d\u00e9j\u00e0 envoy\u00e9 \u00e0 l'\u00e9quipe ici";
// The same text as an ISO-8859-15 device holds it.
const char kLatin9Text[] = "R\xe9sum\xe9 d\xe9j\xe0 envoy\xe9 \xe0 l'\xe9quipe ici";

void ConvertWithSystemCharset(benchmark::State &state, const char *charset, const char *text)
{
    ARL_STATE.transLibEncoding = charset; // as if the first conversion had looked it up
    char hex[ARL_HEX_BUFFER_SIZE];
    for (auto _ : state)
        benchmark::DoNotOptimize(ARL_CvtToUtf8Hex(text, 1, 0, hex, sizeof hex, "en"));
}

void Latin9Device(benchmark::State &state)
{
    ConvertWithSystemCharset(state, "ISO-8859-15", kLatin9Text);
}
BENCHMARK(Latin9Device)->Repetitions(10)->ReportAggregatesOnly(true);

void Utf8Device(benchmark::State &state)
{
    ConvertWithSystemCharset(state, "UTF-8", kUtf8Text);
}
BENCHMARK(Utf8Device)->Repetitions(10)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
