// Whole report runs through the real services over job databases made from the fuzzer's bytes:
// any column of a job or recipient may hold NULL, an integer, or any bytes (a time that does not
// exist among them); the system charset, language, template, the device's date and time formats
// and market region come from the input too. A run must end with a status of the table and without
// its body file, and a successful one must leave its report in the spool.

#include <fuzzer/FuzzedDataProvider.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "activityReportInternals.h"

namespace fs = std::filesystem;

// An SQL value: NULL, an integer (small, or far past the int32 range), or bytes as BLOB or TEXT.
// Times are texts: the corpus holds valid ones, and mutation makes days and hours that don't exist.
static std::string Value(FuzzedDataProvider &in)
{
    const int kind = in.ConsumeIntegralInRange(0, 3);
    if (kind < 2)
        return !kind ? "NULL" : std::to_string(in.ConsumeBool() ? in.ConsumeIntegral<int8_t>()
                                                                : in.ConsumeIntegral<int64_t>());
    const char kDigits[] = "0123456789abcdef";
    std::string hex = "X'";
    for (unsigned char c : in.ConsumeRandomLengthString(64)) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return kind == 2 ? hex + "'" : "CAST(" + hex + "' AS TEXT)";
}

// The input's jobs (at most four, ids with gaps) and their recipients (at most seven) as SQL.
static std::string JobRows(FuzzedDataProvider &in)
{
    std::string sql;
    auto row = [&](std::string values, int count) {
        while (count--)
            values += "," + Value(in);
        sql += values + ");";
    };
    for (int n = in.ConsumeIntegralInRange(0, 4), id = 0; n > 0; --n) {
        id += in.ConsumeIntegralInRange(1, 3);
        row("INSERT INTO jobs VALUES (" + std::to_string(id), 10);
        for (int position = 1, last = in.ConsumeIntegralInRange(0, 7); position <= last; ++position)
            row("INSERT INTO addresses VALUES (" + std::to_string(id) + "," +
                std::to_string(position), 5);
    }
    return sql;
}

// One folder for the working files, spool, log, configuration and database of every run, in
// memory where the machine has /dev/shm: the spool syncs each job to disk.
struct Sandbox {
    std::string dir = access("/dev/shm", W_OK) ? "/tmp/fuzz-XXXXXX" : "/dev/shm/fuzz-XXXXXX";
    std::string schema;
    Sandbox()
    {
        std::getline(std::ifstream(ARL_FUZZ_SCHEMA), schema, '\0');
        fs::create_directories(mkdtemp(dir.data()) + std::string("/spool"));
        fs::create_directory(dir + "/tmp");
        for (auto [name, leaf] : {std::pair{"TEMP_FILES_DIR", "/tmp"}, {"DEVICE_LOG", "/log"},
                                  {"PRINT_SPOOL_DIR", "/spool"}, {"JTAPI_DATABASE", "/jobs.db"},
                                  {"DEVICE_CONFIG", "/device.conf"}})
            setenv(name, (dir + leaf).c_str(), 1);
        setenv("TRANS_CATALOG_DIR", ARL_CATALOG_DIR, 1);
        unsetenv("PRINT_QUEUE");
    }
    ~Sandbox() { fs::remove_all(dir); }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const Sandbox sandbox;
    FuzzedDataProvider in(data, size);
    setenv("SYSTEM_CHARSET", in.ConsumeBool() ? "UTF-8" : "ISO-8859-15", 1);
    const char *language = in.PickValueInArray(
        {"en", "de", "pl", "ru", "el", "tr", "uk", "ja", "zh_CN", "zh_TW", "ko", "xx"});
    const char *encoding = in.PickValueInArray(
        {"ISO-8859-15", "ISO-8859-2", "ISO-8859-5", "ISO-8859-7", "ISO-8859-9", "ISO-8859-13",
         "ISO-8859-16", "CP1251", "CP932", "GBK", "BIG5", "CP949"});
    const std::string templatePath =
        ARL_TEMPLATE_DIR "/activityReport-" + std::string(encoding) + ".ps";
    setenv("ACTIVITY_REPORT_TEMPLATE", templatePath.c_str(), 1);
    std::ofstream(sandbox.dir + "/device.conf")
        << "OID_ATT_DATE_FORMAT = " << in.ConsumeRandomLengthString(24)
        << "\nOID_ATT_TIME_FORMAT = " << in.ConsumeRandomLengthString(24)
        << "\nmarket.region = " << in.ConsumeIntegral<uint8_t>() % 4;
    fs::remove(sandbox.dir + "/jobs.db");
    sqlite3 *db = nullptr;
    if (sqlite3_open((sandbox.dir + "/jobs.db").c_str(), &db) == SQLITE_OK)
        sqlite3_exec(db, (sandbox.schema + JobRows(in) + "COMMIT").c_str(), nullptr, nullptr, 0);
    sqlite3_close(db);

    // A process looks the system charset up once; forgetting it lets this input's charset count.
    ARL_STATE.transLibEncoding = nullptr;
    const int32_t status = ARL_ActivityReport(nullptr, "Blue", language);
    const bool bodyLeft = fs::exists(sandbox.dir + "/tmp/ar_output_pdl.ps");
    if (status < 0 || status > 7 || status == 2 || bodyLeft ||
        (status == 0 && !fs::exists(sandbox.dir + "/spool/000001/document.ps")))
        __builtin_trap();
    for (const fs::directory_entry &job : fs::directory_iterator(sandbox.dir + "/spool"))
        fs::remove_all(job.path());
    fs::resize_file(sandbox.dir + "/log", 0);
    return 0;
}
