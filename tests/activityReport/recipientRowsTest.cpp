// Recipient rows: the cells of each of a job's first five addresses.

#include "pluginFixture.h"

using namespace testing_support;
using jobtrackerDouble::MakeTime;

namespace {

const char kPreamble[] = "% Print recipients info\n"
                         "DefaultFontName findfont DefaultFontSize scalefont setfont\n\n";
const char kMove[] = "currentColumn currentRow MoveToPosition\n";

class RecipientRowsTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        autoConvert = 0; // the job's subject has been converted when the rows run
    }

    // Stores address `a` of job 1 with every field present.
    static void StoreAddress(int32_t a, int32_t type, int32_t state, const std::string &name = "Bob",
                             const std::string &email = "bob@example.com")
    {
        jobtrackerDouble::SetInt(JTAPI_ADDR_TYPE, 1, a, type);
        jobtrackerDouble::SetInt(JTAPI_PROC_STATE, 1, a, state);
        jobtrackerDouble::SetText(JTAPI_FRIENDLY_NAME, 1, a, name);
        jobtrackerDouble::SetText(JTAPI_EMAIL_ADDRESS, 1, a, email);
        jobtrackerDouble::SetTime(JTAPI_STATUS_DATE_TIME, 1, a, MakeTime(2010, 1, 5, 9, 7, 41));
    }

    std::string WriteRows(int32_t count, int32_t *status = nullptr)
    {
        FILE *body = tmpfile();
        int32_t result = WriteRecipientRows(body, &report, 1, count, "en");
        if (status)
            *status = result;
        std::rewind(body);
        std::string text;
        int c;
        while ((c = std::fgetc(body)) != EOF)
            text += static_cast<char>(c);
        std::fclose(body);
        return text;
    }
};

// Fault: rows written for a count of 0 or below, or the preamble left out.
TEST_F(RecipientRowsTest, NoRowsForACountOfZeroOrLess)
{
    StoreAddress(1, 0, 0);
    StartReport();
    for (int32_t count : {0, -1}) {
        int32_t status = -1;
        EXPECT_EQ(WriteRows(count, &status), kPreamble);
        EXPECT_EQ(status, 0);
    }
    EXPECT_TRUE(jobtrackerDouble::Reads().empty());
}

// Fault: an address type other than 0 shown as To, a negative type mistaken for To, or a
// missing type not defaulting to To.
TEST_F(RecipientRowsTest, AddressTypeChoosesTheToOrCcPrefix)
{
    struct Case {
        const char *name;
        std::optional<int32_t> type;
        int32_t missingStatus;
        const char *prefix;
        int32_t logged;
    };
    const std::vector<Case> cases = {
        {"0", 0, 0, "__ar_const_to__", 0},          {"1", 1, 0, "__ar_const_cc__", 1},
        {"2", 2, 0, "__ar_const_cc__", 2},          {"-1", -1, 0, "__ar_const_cc__", -1},
        {"missing, status", std::nullopt, 6, "__ar_const_to__", 0},
        {"missing, NULL", std::nullopt, 0, "__ar_const_to__", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        jobtrackerDouble::Reset();
        logDouble::Reset();
        StoreAddress(1, 0, 1, "Bob");
        if (c.type)
            jobtrackerDouble::SetInt(JTAPI_ADDR_TYPE, 1, 1, *c.type);
        else
            jobtrackerDouble::SetMissing(JTAPI_ADDR_TYPE, 1, 1, c.missingStatus);
        StartReport();

        std::string rows = WriteRows(1);

        EXPECT_NE(rows.find(std::string("<") + c.prefix + "20" + Hex("Bob") +
                            "> fname_width Substring AR_SHOW\n"),
                  std::string::npos);
        ASSERT_FALSE(logDouble::PluginRecords().empty());
        EXPECT_EQ(logDouble::PluginRecords().front(),
                  "INFO Addr Type = " + std::to_string(c.logged));
    }
}

// Fault: a state tag swapped, the two forms of the state cell mixed up, a value outside 0..5
// (negative ones too) given a tag or passed through Substring, a missing state not defaulting to
// Sent or not logged.
TEST_F(RecipientRowsTest, ProcessStateCells)
{
    struct Case {
        const char *name;
        std::optional<int32_t> state;
        std::string cell;
    };
    const std::vector<Case> cases = {
        {"0", 0, "<processState_Sent> pstate_width Substring AR_SHOW\n"},
        {"1", 1, "<processState_Delivered> pstate_width Substring AR_SHOW\n"},
        {"2", 2, "<processState_Processed> pstate_width Substring AR_SHOW\n"},
        {"3", 3, "<processState_Error> pstate_width Substring AR_SHOW\n"},
        {"4", 4, "<processState_Failed> pstate_width Substring AR_SHOW\n"},
        {"5", 5, "<processState_Rejected> pstate_width Substring AR_SHOW\n"},
        {"6", 6, "<2d2d2d> AR_SHOW\n"},
        {"-1", -1, "<2d2d2d> AR_SHOW\n"},
        {"missing", std::nullopt, "<processState_Sent> pstate_width Substring AR_SHOW\n"},
    };
    const std::string before = std::string("/currentColumn name_info_col3_ind def\n") + kMove;
    const std::string after = std::string("/currentColumn name_info_col4_ind def\n") + kMove;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        jobtrackerDouble::Reset();
        logDouble::Reset();
        StoreAddress(1, 0, 0);
        if (c.state)
            jobtrackerDouble::SetInt(JTAPI_PROC_STATE, 1, 1, *c.state);
        else
            jobtrackerDouble::SetMissing(JTAPI_PROC_STATE, 1, 1, 6);
        StartReport();

        std::string rows = WriteRows(1);

        EXPECT_NE(rows.find(before + c.cell + after), std::string::npos);
        int stateRecords = logDouble::CountPluginRecord("ERROR JTAPI_PROC_STATE is NULL.") +
                           logDouble::CountPluginRecord(
                               "INFO Use default = JTAPI_PROCESS_STATE_SENT");
        EXPECT_EQ(stateRecords, c.state ? 0 : 2);
    }
}

// Fault: a missing field stopping the row, a default wrong, a record missing, misspelt, at the
// wrong level or out of order; cells out of order.
TEST_F(RecipientRowsTest, RowWithEveryFieldMissing)
{
    for (int variant = 0; variant < 3; ++variant) {
        const int32_t form = variant == 1 ? 0 : 6;
        SCOPED_TRACE(variant == 0 ? "nonzero status"
                                  : variant == 1 ? "NULL value" : "nonzero status, stale value");
        jobtrackerDouble::Reset();
        logDouble::Reset();
        jobtrackerDouble::SetMissingForm(form);
        jobtrackerDouble::SetStaleValueOnFailure(variant == 2);
        StartReport();
        int32_t status = -1;

        std::string rows = WriteRows(1, &status);

        EXPECT_EQ(status, 0);
        EXPECT_EQ(rows, std::string(kPreamble) +
                            "/currentColumn name_info_col1_ind def\n" + kMove +
                            "<__ar_const_to__20> fname_width Substring AR_SHOW\n"
                            "/currentColumn name_info_col2_ind def\n" + kMove +
                            "<> email_width Substring AR_SHOW\n"
                            "/currentColumn name_info_col3_ind def\n" + kMove +
                            "<processState_Sent> pstate_width Substring AR_SHOW\n"
                            "/currentColumn name_info_col4_ind def\n" + kMove +
                            "<202020> AR_SHOW\n"
                            "NextRow\n\n");
        EXPECT_EQ(logDouble::PluginRecords(),
                  (std::vector<std::string>{
                      "INFO Addr Type = 0",
                      "ERROR JTAPI_FRIENDLY_NAME is NULL.",
                      "INFO Use default 0 len string.",
                      "INFO Friendly Name = \"\"",
                      "ERROR JTAPI_EMAIL_ADDRESS is NULL. Use default 0 len str",
                      "INFO Email Addr = \"\"",
                      "ERROR JTAPI_PROC_STATE is NULL.",
                      "INFO Use default = JTAPI_PROCESS_STATE_SENT",
                      "ERROR JTAPI_STATUS_DATE_TIME is NULL. Using default",
                      "INFO Status Date/Time =  ",
                  }));
        EXPECT_EQ(jobtrackerDouble::ReadsOfJob(1),
                  (std::vector<std::string>{"17/1", "20/1", "21/1", "18/1", "19/1"}));
    }
}

// Fault: the records of a complete row in another order, at another level, or with the state
// value logged.
TEST_F(RecipientRowsTest, CompleteRowLogsItsFourValues)
{
    StoreAddress(1, 1, 2, "Carol", "carol@example.org");
    StartReport();

    WriteRows(1);

    EXPECT_EQ(logDouble::PluginRecords(),
              (std::vector<std::string>{"INFO Addr Type = 1", "INFO Friendly Name = \"Carol\"",
                                        "INFO Email Addr = \"carol@example.org\"",
                                        "INFO Status Date/Time = 01/05/2010 09:07:41"}));
}

// Fault: a failed conversion in a row not ending the rows at once with 7, logged with another
// text, or later fields, addresses or cells still handled.
TEST_F(RecipientRowsTest, ConversionFailuresEndTheRows)
{
    const std::string nameCellStart = std::string("/currentColumn name_info_col1_ind def\n") + kMove;
    struct Case {
        const char *name;
        int32_t type;
        int32_t state;
        std::string failingText;
        std::string tail;
        std::string record;
        std::vector<std::string> reads;
    };
    const std::vector<Case> cases = {
        {"name, To", 0, 1, "Nobody", nameCellStart, "ERROR ARL_CvtToUtf8Hex() failed (to address).",
         {"17/1", "20/1"}},
        {"name, Cc", 7, 1, "Nobody", nameCellStart, "ERROR ARL_CvtToUtf8Hex() failed (cc address).",
         {"17/1", "20/1"}},
        {"e-mail", 0, 1, "nobody@example.com",
         std::string("/currentColumn name_info_col2_ind def\n") + kMove,
         "ERROR ARL_CvtToUtf8Hex() failed (email address).", {"17/1", "20/1", "21/1"}},
        {"dashes", 0, 9, "---", std::string("/currentColumn name_info_col3_ind def\n") + kMove,
         "ERROR Trans_ConvertUTF8StringToHex() failed.", {"17/1", "20/1", "21/1", "18/1"}},
        {"status date", 0, 1, "01/05/2010",
         std::string("/currentColumn name_info_col4_ind def\n") + kMove,
         "ERROR Trans_ConvertUTF8StringToHex() failed.",
         {"17/1", "20/1", "21/1", "18/1", "19/1"}},
        {"status time", 0, 1, "09:07:41",
         std::string("/currentColumn name_info_col4_ind def\n") + kMove + "<" +
             Hex("01/05/2010") + "202020",
         "ERROR Trans_ConvertUTF8StringToHex() failed.",
         {"17/1", "20/1", "21/1", "18/1", "19/1"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        jobtrackerDouble::Reset();
        logDouble::Reset();
        translationDouble::Reset();
        StoreAddress(1, c.type, c.state, "Nobody", "nobody@example.com");
        StoreAddress(2, 0, 1);
        translationDouble::FailHexFor(c.failingText);
        StartReport();
        int32_t status = -1;

        std::string rows = WriteRows(2, &status);

        EXPECT_EQ(status, 7);
        ASSERT_GE(rows.size(), c.tail.size());
        EXPECT_EQ(rows.substr(rows.size() - c.tail.size()), c.tail);
        EXPECT_EQ(logDouble::PluginRecords().back(), c.record);
        EXPECT_EQ(jobtrackerDouble::ReadsOfJob(1), c.reads);
    }
}

} // namespace
