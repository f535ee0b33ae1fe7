// The configuration stand-in: what each call answers for a given file, that edits are seen, and
// that a file it cannot read now (no memory, a FIFO, a directory) is reported and read again later.

#include "../files.h"
#include "config.h"

#include <cstring>
#include <new>
#include <unistd.h>

// Every operator new of the process, the stand-in's included, fails while this is set.
static bool failAllocations = false;
void *operator new(size_t size)
{
    void *memory = failAllocations ? nullptr : std::malloc(size ? size : 1);
    return memory ? memory : throw std::bad_alloc();
}
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, size_t) noexcept { std::free(memory); }

namespace {

const char kSysName[] = "connectivity.SNMP.systemGroup.sysName";

struct ConfigTest : ::testing::Test {
    TempDir dir;
    std::string path = dir / "device.conf";
    void SetUp() override { setenv("DEVICE_CONFIG", path.c_str(), 1); setenv("DEVICE_LOG", (dir / "log").c_str(), 1); }

    // "status:answer" of the date format, the time format, the device name and the market region.
    static std::string Answers(bool failing = false)
    {
        char date[TD_FORMAT_SIZE] = "", time[TD_FORMAT_SIZE] = "", name[12], text[128];
        uint32_t region = 77;
        failAllocations = failing;
        const int statuses[] = {TD_GetFormat(OA_XID_DATE_FORMAT, date), TD_GetFormat(OA_XID_TIME_FORMAT, time),
                                Cfg_GetAttrValue(kSysName, name, sizeof name), CfgSrvGetMarketRegion(0, &region)};
        failAllocations = false;
        std::snprintf(text, sizeof text, "%d:%s %d:%s %d:%s %d:%u", statuses[0], date, statuses[1], time, statuses[2],
                      name, statuses[3], region);
        return text;
    }
    int Logged(const std::string &part) const
    {
        const std::string log = ReadFile(dir / "log");
        int count = 0;
        for (size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1))
            ++count;
        return count;
    }
};

TEST_F(ConfigTest, EachEditOfTheFileIsAnsweredAfterAHundredMilliseconds)
{
    const std::pair<std::string, std::string> files[] = {
        {"", "0:%m/%d/%Y 0:%H:%M:%S 2: 2:77"},  // no file: defaults, every key absent
        {"# OID_ATT_DATE_FORMAT = %Y\n OID_ATT_DATE_FORMAT = %Y\n  OID_ATT_DATE_FORMAT\t=\t %Y-%m-%d %H:%M:%S 1 \t\n"
         "OID_ATT_TIME_FORMAT=%H h %M\r\n" + std::string(kSysName) + " = a = b # c\nmarket.region = 007",
         "0:%Y-%m-%d %H:%M:%S 1 0:%H h %M 0:a = b # c 0:7"},  // trimmed, last line wins, 19 characters fit
        {"OID_ATT_DATE_FORMAT =\nOID_ATT_TIME_FORMAT = %Y-%m-%d %H:%M:%S 12\n" + std::string(kSysName) +
         " = Office-7 floor 2\nmarket.region = 4294967295", "0: 0:%H:%M:%S 3: 0:4294967295"},  // too long: default, cut
        {"market.region = 4294967296", "0:%m/%d/%Y 0:%H:%M:%S 2: 4:77"},
        {"market.region = +1", "0:%m/%d/%Y 0:%H:%M:%S 2: 4:77"},
        {"market.region =\nno equals sign\n = value\n", "0:%m/%d/%Y 0:%H:%M:%S 2: 4:77"}};
    for (const auto &[text, answers] : files) {
        text.empty() ? void(std::remove(path.c_str())) : WriteFile(path, text);
        usleep(120000);  // the stand-in looks at the file at most every 100 ms
        EXPECT_EQ(Answers(), answers) << text;
        EXPECT_EQ(Answers(), answers) << text;
    }
    // Problems are logged once per version of the file, however often it is asked.
    EXPECT_EQ(Logged("OID_ATT_TIME_FORMAT \"%Y-%m-%d %H:%M:%S 12\" is longer than 19"), 1);
    EXPECT_EQ(Logged("market.region \"\" is not"), 1);
    EXPECT_EQ(Logged(path + ":2: no '='") + Logged(path + ":3: empty key"), 2);
}

TEST_F(ConfigTest, AFileThatCannotBeReadNowIsReportedAndReadAgainAtTheNextCall)
{
    const std::string answers = "0:%d.%m.%Y 0:%H:%M 0:Office-7 0:2";
    WriteFile(path, "OID_ATT_DATE_FORMAT = %d.%m.%Y\nOID_ATT_TIME_FORMAT = %H:%M\n" + std::string(kSysName) + " = Office-7\nmarket.region = 2\n");
    EXPECT_EQ(Answers(true), "5: 5: 5: 5:77") << "no memory to read the file must not give the defaults";
    EXPECT_EQ(Answers(), answers);
    EXPECT_EQ(Answers(true), answers) << "values read once are answered without allocating";
    for (int (*replace)(const char *, mode_t) : {mkfifo, mkdir}) {
        std::string content = ReadFile(path);
        std::remove(path.c_str());
        replace(path.c_str(), 0600);
        usleep(120000);
        alarm(1);  // a blocked open ends the test here
        EXPECT_EQ(Answers(), "5: 5: 5: 5:77");
        alarm(0);
        std::filesystem::remove(path);
        WriteFile(path, content);
        EXPECT_EQ(Answers(), answers);
    }
}

TEST_F(ConfigTest, NoCallWritesPastItsBufferOrAcceptsBadArguments)
{
    WriteFile(path, std::string(kSysName) + " = Office-7\n");
    char value[16], format[TD_FORMAT_SIZE] = "untouched";
    for (size_t size : {1, 8, 9}) {  // 1 and 8 leave no room for the NUL
        std::memset(value, '#', sizeof value);
        EXPECT_EQ(Cfg_GetAttrValue(kSysName, value, size), size == 9 ? CFG_OK : CFG_ERR_TOO_LONG);
        EXPECT_EQ(std::string(value, size + 1), size == 9 ? std::string("Office-7") + '\0' + '#' : '\0' + std::string(size, '#'));
    }
    uint32_t region;
    for (int status : {Cfg_GetAttrValue(kSysName, value, 0), Cfg_GetAttrValue(nullptr, value, 1), Cfg_GetAttrValue(kSysName, nullptr, 1),
                       TD_GetFormat(0, format), TD_GetFormat(0x0d03, format), TD_GetFormat(OA_XID_DATE_FORMAT, nullptr),
                       CfgSrvGetMarketRegion(1, &region), CfgSrvGetMarketRegion(0, nullptr)})
        EXPECT_EQ(status, CFG_ERR_ARGUMENT);
    EXPECT_STREQ(format, "untouched");
    EXPECT_EQ(oa_xid_of("OID_ATT_DATE_FORMAT"), uint32_t(OA_XID_DATE_FORMAT));
    EXPECT_EQ(oa_xid_of("OID_ATT_TIME_FORMAT"), uint32_t(OA_XID_TIME_FORMAT));
    EXPECT_EQ(oa_xid_of("OID_ATT_DATE_FORMAT ") + oa_xid_of(nullptr), 0u);
}

} // namespace
