// Tests of the configuration stand-in: reading the key file, the format attributes, bounded
// values and the market region.

#include "config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

int Occurrences(const std::string &text, const std::string &part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Gives every test its own configuration file and log file in a fresh directory.
class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/test_config.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("DEVICE_CONFIG", (dir_ + "/device.conf").c_str(), 1);
        setenv("DEVICE_LOG", (dir_ + "/log.txt").c_str(), 1);
    }

    void TearDown() override
    {
        std::remove((dir_ + "/device.conf").c_str());
        std::remove((dir_ + "/log.txt").c_str());
        rmdir(dir_.c_str());
        unsetenv("DEVICE_CONFIG");
        unsetenv("DEVICE_LOG");
    }

    void WriteConfig(const std::string &text) { std::ofstream(dir_ + "/device.conf") << text; }

    std::string Log() const
    {
        std::stringstream text;
        text << std::ifstream(dir_ + "/log.txt").rdbuf();
        return text.str();
    }

    std::string Format(uint16_t id)
    {
        char format[TD_FORMAT_SIZE];
        std::memset(format, 'x', sizeof format);
        EXPECT_EQ(TD_GetFormat(id, format), CFG_OK);
        return std::string(format, strnlen(format, sizeof format));
    }

    std::string Value(const char *name, int *status)
    {
        char value[256];
        *status = Cfg_GetAttrValue(name, value, sizeof value);
        return value;
    }

    std::string dir_;
};

TEST_F(ConfigTest, OnlyTheTwoFormatNamesHaveIdsAndOnlyTheirIdsHaveFormats)
{
    EXPECT_EQ(oa_xid_of("OID_ATT_DATE_FORMAT"), uint32_t(OA_XID_DATE_FORMAT));
    EXPECT_EQ(oa_xid_of("OID_ATT_TIME_FORMAT"), uint32_t(OA_XID_TIME_FORMAT));
    for (const char *other : {"", "oid_att_date_format", "OID_ATT_DATE_FORMAT ", "market.region"})
        EXPECT_EQ(oa_xid_of(other), 0u) << other;
    EXPECT_EQ(oa_xid_of(nullptr), 0u);

    char format[TD_FORMAT_SIZE] = "untouched";
    EXPECT_EQ(TD_GetFormat(0, format), CFG_ERR_ARGUMENT);
    EXPECT_EQ(TD_GetFormat(0x0d03, format), CFG_ERR_ARGUMENT);
    EXPECT_STREQ(format, "untouched");
    EXPECT_EQ(TD_GetFormat(OA_XID_DATE_FORMAT, nullptr), CFG_ERR_ARGUMENT);
}

TEST_F(ConfigTest, FormatsComeTrimmedFromTheFileElseTheDefaults)
{
    EXPECT_EQ(Format(OA_XID_DATE_FORMAT), "%m/%d/%Y"); // no file
    EXPECT_EQ(Format(OA_XID_TIME_FORMAT), "%H:%M:%S");

    WriteConfig("OID_ATT_DATE_FORMAT = %Y\n"
                "  OID_ATT_DATE_FORMAT\t=\t %d.%m.%Y \t\n" // the last line of a key wins
                "OID_ATT_TIME_FORMAT=%H h %M\r\n");
    EXPECT_EQ(Format(OA_XID_DATE_FORMAT), "%d.%m.%Y");
    EXPECT_EQ(Format(OA_XID_TIME_FORMAT), "%H h %M");

    // An edit takes effect at the next call; an empty format is handed on as configured.
    WriteConfig("OID_ATT_DATE_FORMAT =\n");
    EXPECT_EQ(Format(OA_XID_DATE_FORMAT), "");
    EXPECT_EQ(Format(OA_XID_TIME_FORMAT), "%H:%M:%S");
}

TEST_F(ConfigTest, FormatLongerThanNineteenCharactersIsRejectedWithALogRecord)
{
    const std::string longest = "%Y-%m-%d %H:%M:%S 1"; // 19 characters: fits with its NUL
    const std::string tooLong = longest + "2";
    WriteConfig("OID_ATT_DATE_FORMAT = " + longest + "\nOID_ATT_TIME_FORMAT = " + tooLong + "\n");
    EXPECT_EQ(Format(OA_XID_DATE_FORMAT), longest);
    EXPECT_EQ(Log(), "");

    EXPECT_EQ(Format(OA_XID_TIME_FORMAT), "%H:%M:%S");
    EXPECT_EQ(Format(OA_XID_TIME_FORMAT), "%H:%M:%S");
    std::string log = Log();
    EXPECT_NE(log.find("ERROR"), std::string::npos) << log;
    EXPECT_EQ(Occurrences(log, "OID_ATT_TIME_FORMAT \"" + tooLong + "\""), 1) << log;
}

TEST_F(ConfigTest, CommentsAndBlankLinesAreIgnoredAndMalformedLinesLoggedAndSkipped)
{
    WriteConfig("# OID_ATT_DATE_FORMAT = %Y\n"
                "   # comment after blanks = x\n"
                "\n"
                "   \t\n"
                "no equals sign here\n"
                " = value without key\n"
                "OID_ATT_DATE_FORMAT = %d/%m\n"
                "custom.key = a = b # kept\n");
    EXPECT_EQ(Format(OA_XID_DATE_FORMAT), "%d/%m");
    int status = -1;
    EXPECT_EQ(Value("custom.key", &status), "a = b # kept");
    EXPECT_EQ(status, CFG_OK);
    EXPECT_EQ(Value("# OID_ATT_DATE_FORMAT", &status), "");
    EXPECT_EQ(status, CFG_ERR_ABSENT);

    const std::string path = dir_ + "/device.conf";
    std::string log = Log();
    EXPECT_EQ(Occurrences(log, path + ":5: no '='"), 1) << log;
    EXPECT_EQ(Occurrences(log, path + ":6: empty key"), 1) << log;
    EXPECT_EQ(Occurrences(log, path + ":"), 2) << log;

    // Logged again once the file has changed, not at every call.
    WriteConfig("\nno equals sign here\n");
    Format(OA_XID_TIME_FORMAT);
    Format(OA_XID_DATE_FORMAT);
    EXPECT_EQ(Occurrences(Log(), path + ":2: no '='"), 1);
}

TEST_F(ConfigTest, AttributeValueNeverOverrunsTheGivenSize)
{
    WriteConfig("connectivity.SNMP.systemGroup.sysName = Office-7\n");
    const char *key = "connectivity.SNMP.systemGroup.sysName";
    char value[16];

    std::memset(value, '#', sizeof value);
    EXPECT_EQ(Cfg_GetAttrValue(key, value, 1), CFG_ERR_TOO_LONG);
    EXPECT_EQ(value[0], '\0');
    EXPECT_EQ(value[1], '#');

    std::memset(value, '#', sizeof value);
    EXPECT_EQ(Cfg_GetAttrValue(key, value, 8), CFG_ERR_TOO_LONG); // no room for the NUL
    EXPECT_EQ(value[0], '\0');
    EXPECT_EQ(value[8], '#');

    std::memset(value, '#', sizeof value);
    EXPECT_EQ(Cfg_GetAttrValue(key, value, 9), CFG_OK); // exact fit
    EXPECT_STREQ(value, "Office-7");
    EXPECT_EQ(value[9], '#');

    EXPECT_EQ(Cfg_GetAttrValue(key, value, 0), CFG_ERR_ARGUMENT);
    EXPECT_EQ(Cfg_GetAttrValue(nullptr, value, sizeof value), CFG_ERR_ARGUMENT);
    EXPECT_EQ(Cfg_GetAttrValue(key, nullptr, sizeof value), CFG_ERR_ARGUMENT);
}

TEST_F(ConfigTest, DeviceNameIsAbsentWithoutItsKeyAndMayBeEmpty)
{
    const char *key = "connectivity.SNMP.systemGroup.sysName";
    int status = -1;
    EXPECT_EQ(Value(key, &status), "");
    EXPECT_EQ(status, CFG_ERR_ABSENT); // no file at all

    WriteConfig("connectivity.SNMP.systemGroup = wrong key\n");
    EXPECT_EQ(Value(key, &status), "");
    EXPECT_EQ(status, CFG_ERR_ABSENT);

    WriteConfig("connectivity.SNMP.systemGroup.sysName =   \n");
    EXPECT_EQ(Value(key, &status), "");
    EXPECT_EQ(status, CFG_OK);

    WriteConfig("connectivity.SNMP.systemGroup.sysName = Front Desk MFP \n");
    EXPECT_EQ(Value(key, &status), "Front Desk MFP");
    EXPECT_EQ(status, CFG_OK);
}

TEST_F(ConfigTest, MarketRegionMustBeAnUnsignedThirtyTwoBitNumber)
{
    uint32_t region = 77;
    EXPECT_EQ(CfgSrvGetMarketRegion(0, &region), CFG_ERR_ABSENT);
    EXPECT_EQ(region, 77u);

    for (const char *valid : {"2", "007", "4294967295"}) {
        WriteConfig(std::string("market.region = ") + valid + "\n");
        EXPECT_EQ(CfgSrvGetMarketRegion(0, &region), CFG_OK) << valid;
        EXPECT_EQ(region, std::strtoul(valid, nullptr, 10)) << valid;
    }
    for (const char *malformed : {"abc", "-1", "+1", "3x", "1 2", "4294967296",
                                  "99999999999999999999999", ""}) {
        WriteConfig(std::string("market.region = ") + malformed + "\n");
        region = 77;
        EXPECT_EQ(CfgSrvGetMarketRegion(0, &region), CFG_ERR_MALFORMED) << malformed;
        EXPECT_EQ(region, 77u) << malformed;
    }
    EXPECT_NE(Log().find("market.region \"\""), std::string::npos) << Log();

    EXPECT_EQ(CfgSrvGetMarketRegion(1, &region), CFG_ERR_ARGUMENT);
    EXPECT_EQ(CfgSrvGetMarketRegion(0, nullptr), CFG_ERR_ARGUMENT);
}

} // namespace
