// The configuration stand-in: what each call answers for a given file, that an edit is seen, and
// that a file it cannot use is answered from the built-in defaults, announced once, and used as
// soon as it can be read.

#include "../files.h"
#include "config.h"

#include <array>
#include <functional>
#include <optional>
#include <unistd.h>

namespace {

const std::string kSysName = "connectivity.SNMP.systemGroup.sysName";
const useconds_t kPastTheRecheck = 120000;  // the stand-in looks at the file every 100 ms
const uint32_t kRegionUntouched = 77;

// What the four calls answer, each as "status:value": date and time formats, device name,
// market region.
using Answers = std::array<std::string, 4>;
const Answers kDefaults = {"0:%m/%d/%Y", "0:%H:%M:%S", "2:", "2:77"};

Answers Ask()
{
    char date[TD_FORMAT_SIZE] = "", time[TD_FORMAT_SIZE] = "", name[12];
    uint32_t region = kRegionUntouched;
    auto answer = [](int status, const std::string &value) {
        return std::to_string(status) + ":" + value;
    };
    const int dateStatus = TD_GetFormat(OA_XID_DATE_FORMAT, date);
    const int timeStatus = TD_GetFormat(OA_XID_TIME_FORMAT, time);
    const int nameStatus = Cfg_GetAttrValue(kSysName.c_str(), name, sizeof name);
    const int regionStatus = CfgSrvGetMarketRegion(0, &region);
    return {answer(dateStatus, date), answer(timeStatus, time), answer(nameStatus, name),
            answer(regionStatus, std::to_string(region))};
}

size_t Count(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; ++at)
        ++count;
    return count;
}

struct ConfigTest : ::testing::Test {
    TempDir dir;
    std::string path = dir / "device.conf";
    void SetUp() override
    {
        setenv("DEVICE_CONFIG", path.c_str(), 1);
        setenv("DEVICE_LOG", (dir / "log").c_str(), 1);
    }
};

TEST_F(ConfigTest, EachEditIsAnsweredAfterAHundredMillisecondsAndItsProblemsAreLoggedOnce)
{
    const struct {
        std::string file;  // "" removes it
        Answers want;
    } cases[] = {
        {.file = "", .want = kDefaults},
        // trimmed, the last line wins, 19 characters fit
        {.file = "# OID_ATT_DATE_FORMAT = %Y\n OID_ATT_DATE_FORMAT = %Y\n OID_ATT_DATE_FORMAT\t=\t"
                 "%Y-%m-%d %H:%M:%S 1 \t\nOID_ATT_TIME_FORMAT=%H h %M\r\n" + kSysName +
                 " = a = b # cde\nmarket.region = 007",
         .want = {"0:%Y-%m-%d %H:%M:%S 1", "0:%H h %M", "0:a = b # cde", "0:7"}},
        // too long: the default format, no name
        {.file = "OID_ATT_DATE_FORMAT =\nOID_ATT_TIME_FORMAT = %Y-%m-%d %H:%M:%S 12\n" + kSysName +
                 " = Office-7 2nd\nmarket.region = 4294967295",
         .want = {"0:", "0:%H:%M:%S", "3:", "0:4294967295"}},
        {.file = "market.region = +1\nno equals sign\n = value",
         .want = {"0:%m/%d/%Y", "0:%H:%M:%S", "2:", "4:77"}}};
    for (const auto &c : cases) {
        c.file.empty() ? void(std::remove(path.c_str())) : WriteFile(path, c.file);
        usleep(kPastTheRecheck);
        EXPECT_EQ(Ask(), c.want) << c.file;
        EXPECT_EQ(Ask(), c.want) << c.file;
    }
    const std::string log = ReadFile(dir / "log");
    for (const std::string &once : {path + ":2: no '='", path + ":3: empty key",
                                    std::string("market.region \"+1\" is not"),
                                    std::string("\"%Y-%m-%d %H:%M:%S 12\" is longer than 19"),
                                    "configuration file " + path + " is missing"})
        EXPECT_EQ(Count(log, once), 1u) << once << " in\n" << log;
}

// Files that cannot be used: the defaults answer, without blocking, and one record says why; a
// file that could not be read is read at the next call once it can be.
TEST_F(ConfigTest, AFileItCannotUseGivesTheDefaultsWithOneRecord)
{
    const std::string defaults = "; using the built-in defaults: dates \"%m/%d/%Y\", times "
                                 "\"%H:%M:%S\", no device name, no market region";
    const struct {
        const char *name;
        std::function<void(const std::string &path)> make;
        std::string wantRecord;
        bool noDescriptors = false;
    } cases[] = {
        {.name = "FIFO", .make = [](const std::string &p) { mkfifo(p.c_str(), 0600); },
         .wantRecord = " cannot be read: not a regular file" + defaults},
        {.name = "no descriptor", .make = [](const std::string &p) { WriteFile(p, "a = b\n"); },
         .wantRecord = " cannot be read: Too many open files" + defaults, .noDescriptors = true},
        {.name = "too large",
         .make = [](const std::string &p) { WriteFile(p, std::string(64 * 1024 + 1, '#')); },
         .wantRecord = " is larger than 64 KiB" + defaults},
    };
    for (const auto &c : cases) {
        path = dir / c.name;
        setenv("DEVICE_CONFIG", path.c_str(), 1);
        c.make(path);
        {
            std::optional<NoFreeDescriptors> exhausted;
            if (c.noDescriptors)
                exhausted.emplace();
            alarm(1);  // a blocked open ends the test here
            EXPECT_EQ(Ask(), kDefaults) << c.name;
            EXPECT_EQ(Ask(), kDefaults) << c.name;
            alarm(0);
        }
        EXPECT_EQ(Count(ReadFile(dir / "log"), "configuration file " + path + c.wantRecord), 1u)
            << c.name << ":\n" << ReadFile(dir / "log");
        std::filesystem::remove_all(path);
        WriteFile(path, "OID_ATT_DATE_FORMAT = %d.%m.%Y\n" + kSysName + " = Office-7\n");
        usleep(kPastTheRecheck);
        EXPECT_EQ(Ask(), (Answers{"0:%d.%m.%Y", "0:%H:%M:%S", "0:Office-7", "2:77"})) << c.name;
    }
}

} // namespace
