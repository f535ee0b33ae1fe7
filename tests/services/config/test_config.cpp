// Tests of the configuration stand-in: reading the key file, the format attributes, bounded
// values and the market region.

#include "../files.h"
#include "config.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

const char kSysName[] = "connectivity.SNMP.systemGroup.sysName";

typedef std::pair<int, std::string> Result;


// Gives every test its own configuration file and log file in a fresh directory.
class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("DEVICE_CONFIG", (dir_ / "device.conf").c_str(), 1);
        setenv("DEVICE_LOG", (dir_ / "log.txt").c_str(), 1);
    }
    void WriteConfig(const std::string &text) { WriteFile(dir_ / "device.conf", text); }
    std::string Log() const { return ReadFile(dir_ / "log.txt"); }

    // How often each text occurs in the log.
    void ExpectInLog(const std::vector<std::pair<std::string, int>> &expected) const
    {
        const std::string log = Log();
        for (const auto &[part, times] : expected) {
            int count = 0;
            for (size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1))
                ++count;
            EXPECT_EQ(count, times) << part << " in\n" << log;
        }
    }

    std::string Format(uint16_t id)
    {
        char format[TD_FORMAT_SIZE];
        std::memset(format, 'x', sizeof format);
        EXPECT_EQ(TD_GetFormat(id, format), CFG_OK);
        return std::string(format, strnlen(format, sizeof format));
    }

    Result Value(const char *name)
    {
        char value[256];
        const int status = Cfg_GetAttrValue(name, value, sizeof value);
        return Result(status, value);
    }

    TempDir dir_;
};

TEST_F(ConfigTest, ValuesAreTrimmedCommentsSkippedAndMalformedLinesLogged)
{
    // No file: every key is absent and the formats have their defaults.
    EXPECT_EQ(Format(OA_XID_DATE_FORMAT), "%m/%d/%Y");
    EXPECT_EQ(Format(OA_XID_TIME_FORMAT), "%H:%M:%S");
    EXPECT_EQ(Value(kSysName), Result(CFG_ERR_ABSENT, ""));

    // The longest format, 19 characters, fits with its NUL.
    const std::string longest = "%Y-%m-%d %H:%M:%S 1";
    WriteConfig("# OID_ATT_DATE_FORMAT = %Y\n   # comment after blanks = x\n\n   \t\nno equals sign here\n"
                " = value without key\nOID_ATT_DATE_FORMAT = %Y\n"
                "  OID_ATT_DATE_FORMAT\t=\t " + longest + " \t\n" // the last line of a key wins
                "OID_ATT_TIME_FORMAT=%H h %M\r\n"
                "custom.key = a = b # kept\n"
                "connectivity.SNMP.systemGroup = wrong key\n");
    EXPECT_EQ(Format(OA_XID_DATE_FORMAT), longest);
    EXPECT_EQ(Format(OA_XID_TIME_FORMAT), "%H h %M");
    EXPECT_EQ(Value("custom.key"), Result(CFG_OK, "a = b # kept"));
    for (const char *absent : {"# OID_ATT_DATE_FORMAT", "# comment after blanks", kSysName})
        EXPECT_EQ(Value(absent), Result(CFG_ERR_ABSENT, "")) << absent;
    const std::string path = dir_ / "device.conf";
    ExpectInLog({{path + ":5: no '='", 1}, {path + ":6: empty key", 1}, {path + ":", 2}, {"ERROR", 0}});

    // An edit takes effect at the next call and is logged again; an empty value is a value; a
    // format of 20 characters is refused with one error record, however often it is asked for.
    const std::string tooLong = longest + "2";
    WriteConfig("\nno equals sign here\nOID_ATT_DATE_FORMAT =\nconnectivity.SNMP.systemGroup.sysName =  \n"
                "OID_ATT_TIME_FORMAT = " + tooLong + "\n");
    EXPECT_EQ(Format(OA_XID_TIME_FORMAT), "%H:%M:%S");
    EXPECT_EQ(Format(OA_XID_TIME_FORMAT), "%H:%M:%S");
    EXPECT_EQ(Format(OA_XID_DATE_FORMAT), "");
    EXPECT_EQ(Value(kSysName), Result(CFG_OK, ""));
    ExpectInLog({{path + ":2: no '='", 1}, {"ERROR", 1}, {"OID_ATT_TIME_FORMAT \"" + tooLong + "\"", 1}});
}

TEST_F(ConfigTest, NoCallWritesPastItsBufferOrAcceptsBadArguments)
{
    WriteConfig("connectivity.SNMP.systemGroup.sysName = Office-7\n");
    char value[16];
    // Sizes 1 and 8 leave no room for the NUL; 9 fits exactly.
    for (size_t size : {1, 8, 9}) {
        std::memset(value, '#', sizeof value);
        EXPECT_EQ(Cfg_GetAttrValue(kSysName, value, size), size == 9 ? CFG_OK : CFG_ERR_TOO_LONG);
        EXPECT_STREQ(value, size == 9 ? "Office-7" : "") << size;
        EXPECT_EQ(value[size], '#') << size;
    }
    EXPECT_EQ(Cfg_GetAttrValue(kSysName, value, 0), CFG_ERR_ARGUMENT);
    EXPECT_EQ(Cfg_GetAttrValue(nullptr, value, sizeof value), CFG_ERR_ARGUMENT);
    EXPECT_EQ(Cfg_GetAttrValue(kSysName, nullptr, sizeof value), CFG_ERR_ARGUMENT);

    // Only the two format names have ids, and only their ids have formats.
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

TEST_F(ConfigTest, MarketRegionMustBeAnUnsignedThirtyTwoBitNumber)
{
    uint32_t region = 77;
    EXPECT_EQ(CfgSrvGetMarketRegion(0, &region), CFG_ERR_ABSENT);
    EXPECT_EQ(region, 77u);

    for (const std::string valid : {"2", "007", "4294967295"}) {
        WriteConfig("market.region = " + valid + "\n");
        EXPECT_EQ(CfgSrvGetMarketRegion(0, &region), CFG_OK) << valid;
        EXPECT_EQ(region, std::stoul(valid)) << valid;
    }
    for (const std::string malformed : {"abc", "-1", "+1", "3x", "1 2", "4294967296", "99999999999999999999999", ""}) {
        WriteConfig("market.region = " + malformed + "\n");
        region = 77;
        EXPECT_EQ(CfgSrvGetMarketRegion(0, &region), CFG_ERR_MALFORMED) << malformed;
        EXPECT_EQ(region, 77u) << malformed;
    }
    EXPECT_NE(Log().find("market.region \"\""), std::string::npos) << Log();

    EXPECT_EQ(CfgSrvGetMarketRegion(1, &region), CFG_ERR_ARGUMENT);
    EXPECT_EQ(CfgSrvGetMarketRegion(0, nullptr), CFG_ERR_ARGUMENT);
}

} // namespace
