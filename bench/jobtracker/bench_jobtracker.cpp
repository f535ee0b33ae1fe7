// Cost of the job tracker's answers: loading the report of 1,000 and 10,000 jobs with five
// recipients each (address rows stored job by job, as a tracker adds them, or recipient by
// recipient, as bench-run generates them), reading every field a report run reads, and reading
// one time text. Per-job figures: divide by the job count.

#include "jtapi.h"
#include "timetext.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// The sample database's tables filled with `jobs` generated jobs; the path of a cached copy.
std::string Database(int jobs, bool jobByJob)
{
    const fs::path path = fs::temp_directory_path() / ("bench-jobtracker-" + std::to_string(jobs) +
                                                       (jobByJob ? "-j.db" : "-r.db"));
    if (fs::exists(path))
        return path;
    std::ostringstream schema;
    schema << std::ifstream(SAMPLE_DATABASE).rdbuf();
    const std::string sql =
        schema.str() +
        "BEGIN; DELETE FROM addresses; DELETE FROM jobs; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL"
        " SELECT i + 1 FROM n WHERE i < " +
        std::to_string(jobs) +
        ") INSERT INTO jobs SELECT i,"
        " datetime('2024-03-11 08:00:00', '+' || i || ' minutes'), datetime('2024-03-11 08:03:00', "
        "'+' || i"
        " || ' minutes'), 5, 4, 1, 0, i % 40 + 1, 1000 * i, 'Angebot Nr. ' || i || ' – "
        "Fassadenplanung',"
        " 'juergen.weisskopf' || i % 17 || '@atelier-lumen.example' FROM n;"
        "WITH RECURSIVE p(a) AS (SELECT 1 UNION ALL SELECT a + 1 FROM p WHERE a < 5) INSERT INTO "
        "addresses"
        " SELECT id, a, a > 3, (id + a) % 6, datetime(completed_time, '+' || a || ' seconds'),"
        " 'Hélène Crépin-' || a, 'h.crepin' || a || '@bureau-etudes.example' FROM " +
        (jobByJob ? "jobs, p ORDER BY id, a;" : "p, jobs ORDER BY a, id;") + "COMMIT;";
    sqlite3 *db = nullptr;
    sqlite3_open(path.c_str(), &db);
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        std::fprintf(stderr, "cannot build %s: %s\n", path.c_str(), sqlite3_errmsg(db)),
            std::exit(1);
    sqlite3_close(db);
    return path;
}

void LoadReport(benchmark::State &state, bool jobByJob)
{
    setenv("JTAPI_DATABASE", Database(static_cast<int>(state.range(0)), jobByJob).c_str(), 1);
    for (auto _ : state) {
        JTAPI_ReportData report{nullptr};
        if (jtapi_get_completed_jobs_report_data(JTAPI_REPORT_COMPLETED_IFAX, &report) != JTAPI_OK)
            state.SkipWithError("the report did not load");
        jtapi_release_report_data(&report);
    }
}
BENCHMARK_CAPTURE(LoadReport, addresses_job_by_job, true)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadReport, addresses_recipient_by_recipient, false)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);

// Every job field and five recipients' fields of every job, as a report run asks for them.
void ReadEveryField(benchmark::State &state)
{
    setenv("JTAPI_DATABASE", Database(1000, true).c_str(), 1);
    JTAPI_ReportData report{nullptr};
    jtapi_get_completed_jobs_report_data(JTAPI_REPORT_COMPLETED_IFAX, &report);
    void *value = nullptr;
    for (auto _ : state)
        for (int32_t job = 1; job <= 1000; ++job) {
            for (int32_t field = JTAPI_NUM_RECIP; field <= JTAPI_NUM_ADDRESSES; ++field)
                benchmark::DoNotOptimize(
                    jtapi_get_field_data(&report, field, job, 0, &value, nullptr));
            for (int32_t address = 1; address <= 5; ++address)
                for (int32_t field = JTAPI_ADDR_TYPE; field <= JTAPI_EMAIL_ADDRESS; ++field)
                    benchmark::DoNotOptimize(
                        jtapi_get_field_data(&report, field, job, address, &value, nullptr));
        }
    jtapi_release_report_data(&report);
}
BENCHMARK(ReadEveryField)->Unit(benchmark::kMicrosecond);

void ParseLocalTime(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(jobtracker::ParseLocalTime("2024-03-31 02:30:00"));
}
BENCHMARK(ParseLocalTime);

} // namespace

BENCHMARK_MAIN();
