// Date and time texts: configured formats, cached format ids, fallbacks and missing fields.

#include "pluginFixture.h"

#include "config.h"

using namespace testing_support;
using jobtrackerDouble::MakeTime;

namespace {

const char kDateName[] = "OID_ATT_DATE_FORMAT";
const char kTimeName[] = "OID_ATT_TIME_FORMAT";

class DateTimeTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        configDouble::SetFormat(OA_XID_DATE_FORMAT, "%d.%m.%Y");
        configDouble::SetFormat(OA_XID_TIME_FORMAT, "%H-%M-%S");
        jobtrackerDouble::SetTime(JTAPI_SENT_DATE_TIME, 1, 0, MakeTime(2010, 1, 5, 9, 5, 3));
        jobtrackerDouble::SetTime(JTAPI_COMPLETE_DATE_TIME, 1, 0,
                                  MakeTime(2012, 11, 30, 17, 45, 59));
        jobtrackerDouble::SetTime(JTAPI_STATUS_DATE_TIME, 1, 2, MakeTime(2011, 7, 4, 0, 0, 0));
        StartReport();
    }

    std::string DateText() const { return runScratch.dateText; }
    std::string TimeText() const { return runScratch.timeText; }
};

// Fault: the ids looked up for every time field (one configuration call each), not stored, or
// the format text cached instead of asked for again.
TEST_F(DateTimeTest, FormatIdsAreLookedUpOnceAndCached)
{
    GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);
    EXPECT_EQ(DateText(), "05.01.2010");
    EXPECT_EQ(TimeText(), "09-05-03");
    GetDateTimeText(JTAPI_COMPLETE_DATE_TIME, 1, 0);
    EXPECT_EQ(DateText(), "30.11.2012");
    EXPECT_EQ(TimeText(), "17-45-59");
    GetDateTimeText(JTAPI_STATUS_DATE_TIME, 1, 2);
    EXPECT_EQ(DateText(), "04.07.2011");
    EXPECT_EQ(TimeText(), "00-00-00");

    EXPECT_EQ(configDouble::XidCalls(kDateName), 1);
    EXPECT_EQ(configDouble::XidCalls(kTimeName), 1);
    EXPECT_EQ(ARL_STATE.dateFormatId, OA_XID_DATE_FORMAT);
    EXPECT_EQ(ARL_STATE.timeFormatId, OA_XID_TIME_FORMAT);
    EXPECT_EQ(configDouble::FormatRequests(),
              (std::vector<uint16_t>{OA_XID_DATE_FORMAT, OA_XID_TIME_FORMAT, OA_XID_DATE_FORMAT,
                                     OA_XID_TIME_FORMAT, OA_XID_DATE_FORMAT, OA_XID_TIME_FORMAT}));
    EXPECT_EQ(logDouble::PluginRecords(),
              (std::vector<std::string>{"INFO Sent Date/Time = 05.01.2010 09-05-03",
                                        "INFO Completed Date/Time = 30.11.2012 17-45-59",
                                        "INFO Status Date/Time = 04.07.2011 00-00-00"}));
}

// Fault: a lookup that yielded 0 cached as if it were an id, so the attribute would never be
// looked up again; or id 0 kept from TD_GetFormat.
TEST_F(DateTimeTest, LookupYieldingZeroIsRepeated)
{
    configDouble::SetXidAnswers(kDateName, {0});
    configDouble::SetXidAnswers(kTimeName, {0});
    configDouble::SetFormat(0, "[%Y]");

    GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);
    int dateLookups = configDouble::XidCalls(kDateName);
    EXPECT_GE(dateLookups, 1);
    EXPECT_EQ(DateText(), "[2010]");
    EXPECT_EQ(TimeText(), "[2010]");
    GetDateTimeText(JTAPI_COMPLETE_DATE_TIME, 1, 0);
    EXPECT_GT(configDouble::XidCalls(kDateName), dateLookups);
    EXPECT_EQ(ARL_STATE.dateFormatId, 0);
    EXPECT_EQ(ARL_STATE.timeFormatId, 0);
    for (uint16_t id : configDouble::FormatRequests())
        EXPECT_EQ(id, 0);

    // Once the service knows the attribute, its id is kept.
    configDouble::SetXidAnswers(kDateName, {OA_XID_DATE_FORMAT});
    configDouble::SetXidAnswers(kTimeName, {OA_XID_TIME_FORMAT});
    GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);
    EXPECT_EQ(DateText(), "05.01.2010");
    EXPECT_EQ(TimeText(), "09-05-03");
    int date = configDouble::XidCalls(kDateName), time = configDouble::XidCalls(kTimeName);
    GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);
    EXPECT_EQ(configDouble::XidCalls(kDateName), date);
    EXPECT_EQ(configDouble::XidCalls(kTimeName), time);
}

// Fault: FormatDateTime accepting an id that is neither format id, writing into `out` when it
// does not format, or looking the time-format id up for a date request.
TEST_F(DateTimeTest, FormatDateTimeFormatsOnlyTheTwoFormatIds)
{
    struct tm t = MakeTime(2010, 1, 5, 9, 5, 3);
    char out[51];

    std::memset(out, 'z', sizeof out);
    EXPECT_EQ(FormatDateTime(OA_XID_DATE_FORMAT, &t, out), 1);
    EXPECT_STREQ(out, "05.01.2010");
    EXPECT_EQ(configDouble::XidCalls(kTimeName), 0) << "a date request needs no time-format id";

    EXPECT_EQ(FormatDateTime(OA_XID_TIME_FORMAT, &t, out), 1);
    EXPECT_STREQ(out, "09-05-03");

    std::memset(out, 'z', sizeof out);
    EXPECT_EQ(FormatDateTime(0x0d03, &t, out), 0);
    EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, 'z'));

    // A result that does not fit is not detected.
    configDouble::SetFormat(OA_XID_DATE_FORMAT, "%A %B %A %B %A");
    EXPECT_EQ(FormatDateTime(OA_XID_DATE_FORMAT, &t, out), 1);
    EXPECT_TRUE(logDouble::PluginRecords().empty());
}

// Fault: the fallback texts with leading zeros, month counted from 0, the year from 1900, or
// fields in another order. The fallback needs a format id that matches neither cached id when
// FormatDateTime compares: the caller's lookup yields 0 and FormatDateTime's own yields the id.
TEST_F(DateTimeTest, FallbackTextsWhenTheIdChangedUnderTheCaller)
{
    configDouble::SetXidAnswers(kDateName, {0, OA_XID_DATE_FORMAT});
    configDouble::SetXidAnswers(kTimeName, {OA_XID_TIME_FORMAT});

    GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);

    EXPECT_EQ(DateText(), "1/5/2010");
    EXPECT_EQ(TimeText(), "09-05-03");

    // The time text: the date id is known, the caller's time lookup yields 0.
    ARL_STATE.dateFormatId = 0;
    ARL_STATE.timeFormatId = 0;
    configDouble::Reset();
    configDouble::SetFormat(OA_XID_DATE_FORMAT, "%d.%m.%Y");
    configDouble::SetXidAnswers(kDateName, {OA_XID_DATE_FORMAT});
    configDouble::SetXidAnswers(kTimeName, {0, OA_XID_TIME_FORMAT});
    logDouble::Reset();

    GetDateTimeText(JTAPI_SENT_DATE_TIME, 1, 0);

    EXPECT_EQ(DateText(), "05.01.2010");
    EXPECT_EQ(TimeText(), "9:5:3");
    EXPECT_EQ(logDouble::PluginRecords(),
              std::vector<std::string>{"INFO Sent Date/Time = 05.01.2010 9:5:3"});
}

// Fault: a missing time not emptying the texts (an earlier field's text shown again), its record
// missing, misspelt or at the wrong level, or the summary left out.
TEST_F(DateTimeTest, MissingTimeFieldsLeaveBothTextsEmpty)
{
    struct Case {
        int32_t field;
        int32_t address;
        std::vector<std::string> records;
    };
    const std::vector<Case> cases = {
        {JTAPI_SENT_DATE_TIME, 0,
         {"INFO JTAPI_SENT_DATE_TIME is NULL. Use blanks", "INFO Sent Date/Time =  "}},
        {JTAPI_COMPLETE_DATE_TIME, 0,
         {"ERROR JTAPI_COMPLETE_DATE_TIME is NULL. Use blanks", "INFO Completed Date/Time =  "}},
        {JTAPI_STATUS_DATE_TIME, 3,
         {"ERROR JTAPI_STATUS_DATE_TIME is NULL. Using default", "INFO Status Date/Time =  "}},
    };
    for (int variant = 0; variant < 3; ++variant) {
        const int32_t form = variant == 1 ? 0 : 6;
        jobtrackerDouble::SetStaleValueOnFailure(variant == 2);
        for (const Case &c : cases) {
            SCOPED_TRACE("field " + std::to_string(c.field) + ", variant " +
                         std::to_string(variant));
            jobtrackerDouble::SetMissing(c.field, 2, c.address, form);
            std::strcpy(runScratch.dateText, "stale date");
            std::strcpy(runScratch.timeText, "stale time");
            logDouble::Reset();

            GetDateTimeText(c.field, 2, c.address);

            EXPECT_EQ(DateText(), "");
            EXPECT_EQ(TimeText(), "");
            EXPECT_EQ(logDouble::PluginRecords(), c.records);
        }
    }
    EXPECT_TRUE(configDouble::FormatRequests().empty());
}

} // namespace
