// The configuration stand-in: what each call answers for a given file, that an edit is seen, and
// that a file it cannot read now is reported, never answered with defaults, and read again later.

#include "../files.h"
#include "config.h"

#include <unistd.h>

static const std::string kSysName = "connectivity.SNMP.systemGroup.sysName";

struct ConfigTest : ::testing::Test {
    TempDir dir;
    std::string path = dir / "device.conf";
    void SetUp() override { setenv("DEVICE_CONFIG", path.c_str(), 1), setenv("DEVICE_LOG", (dir / "log").c_str(), 1); }

    // "status:answer" of the date format, the time format, the device name and the market region.
    static std::string Answers()
    {
        char date[TD_FORMAT_SIZE] = "", time[TD_FORMAT_SIZE] = "", name[12];
        uint32_t region = 77;
        const int s[] = {TD_GetFormat(OA_XID_DATE_FORMAT, date), TD_GetFormat(OA_XID_TIME_FORMAT, time),
                         Cfg_GetAttrValue(kSysName.c_str(), name, sizeof name), CfgSrvGetMarketRegion(0, &region)};
        return std::to_string(s[0]) + ":" + date + " " + std::to_string(s[1]) + ":" + time + " " + std::to_string(s[2]) +
               ":" + name + " " + std::to_string(s[3]) + ":" + std::to_string(region);
    }
};

TEST_F(ConfigTest, EachEditIsAnsweredAfterAHundredMillisecondsAndItsProblemsAreLoggedOnce)
{
    const std::pair<std::string, std::string> files[] = {
        {"", "0:%m/%d/%Y 0:%H:%M:%S 2: 2:77"},  // no file: the defaults, every key absent
        {"# OID_ATT_DATE_FORMAT = %Y\n OID_ATT_DATE_FORMAT = %Y\n OID_ATT_DATE_FORMAT\t=\t %Y-%m-%d %H:%M:%S 1 \t\n"
         "OID_ATT_TIME_FORMAT=%H h %M\r\n" + kSysName + " = a = b # cde\nmarket.region = 007",
         "0:%Y-%m-%d %H:%M:%S 1 0:%H h %M 0:a = b # cde 0:7"},  // trimmed, the last line wins, 19 characters fit
        {"OID_ATT_DATE_FORMAT =\nOID_ATT_TIME_FORMAT = %Y-%m-%d %H:%M:%S 12\n" + kSysName + " = Office-7 2nd\n"
         "market.region = 4294967295", "0: 0:%H:%M:%S 3: 0:4294967295"},  // too long: the default format, no name
        {"market.region = +1\nno equals sign\n = value", "0:%m/%d/%Y 0:%H:%M:%S 2: 4:77"}};
    for (const auto &[text, answers] : files) {
        text.empty() ? void(std::remove(path.c_str())) : WriteFile(path, text);
        usleep(120000);  // the stand-in looks at the file at most every 100 ms
        EXPECT_EQ(Answers(), answers) << text;
        EXPECT_EQ(Answers(), answers) << text;
    }
    const std::string log = ReadFile(dir / "log");
    for (const std::string &once : std::vector<std::string>{path + ":2: no '='", path + ":3: empty key", "market.region \"+1\" is not",
                                   "OID_ATT_TIME_FORMAT \"%Y-%m-%d %H:%M:%S 12\" is longer than 19"})
        EXPECT_TRUE(Contains(log, once) && log.find(once) == log.rfind(once)) << once << " not logged once in\n" << log;
}

TEST_F(ConfigTest, AFileThatIsNoRegularFileIsReportedWithoutBlockingAndReadAgainAtTheNextCall)
{
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    alarm(1);  // a blocked open ends the test here
    EXPECT_EQ(Answers(), "5: 5: 5: 5:77") << "an unreadable file must not give the defaults";
    alarm(0);
    std::remove(path.c_str());
    WriteFile(path, "OID_ATT_DATE_FORMAT = %d.%m.%Y\n" + kSysName + " = Office-7\n");
    EXPECT_EQ(Answers(), "0:%d.%m.%Y 0:%H:%M:%S 0:Office-7 2:77") << "the failure was kept";
}
