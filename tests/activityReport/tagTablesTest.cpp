// Tag tables: the 49 constant tags with their string ids and the 5 variable tags.

#include "pluginFixture.h"

#include <set>

namespace {

struct Row {
    const char *tag;
    uint16_t id;
};

// The constant tags in table order, as the report's catalogue and templates know them.
const Row kConstantRows[] = {
    {"__ar_const_header__", 20200},
    {"__ar_const_internet_fax_activity_report__", 20201},
    {"__ar_const_device_name__", 20202},
    {"__ar_const_report_date__", 20203},
    {"__ar_const_report_time__", 20204},
    {"__ar_const_copyright__", 42000},
    {"__ar_const_copyright_extra__", 42001},
    {"__ar_const_page__", 20205},
    {"__ar_const_of__", 20206},
    {"__ar_const_job_date__", 20207},
    {"__ar_const_job_time__", 20208},
    {"__ar_const_completion_date__", 20209},
    {"__ar_const_completion_time__", 20210},
    {"__ar_const_recipients_acknowledged__", 20211},
    {"__ar_const_subject__", 20212},
    {"__ar_const_from__", 20213},
    {"__ar_const_internet_fax_job_status__", 20214},
    {"__ar_const_ifax_job_status_successful__", 20215},
    {"__ar_const_ifax_job_status_unconfirmed__", 20216},
    {"__ar_const_ifax_job_status_failed__", 20217},
    {"__ar_const_pages_scanned__", 20218},
    {"__ar_const_attachment_size__", 20219},
    {"__ar_const_friendly_name__", 20220},
    {"__ar_const_email_address__", 20221},
    {"__ar_const_process_state__", 20222},
    {"__ar_const_status_date_time__", 20223},
    {"__ar_const_to__", 20224},
    {"__ar_const_cc__", 20225},
    {"__ar_const_max_recipients_msg__", 20226},
    {"__ar_const_process_steps__", 20227},
    {"__ar_const_success_processing_unconfirmed__", 20228},
    {"__ar_const_failure__", 20229},
    {"__ar_const_at_sending__", 20230},
    {"__ar_const_at_delivery__", 20231},
    {"__ar_const_at_receiving_device__", 20232},
    {"__ar_const_sent_accepted_by_email__", 20233},
    {"__ar_const_delivered_accepted_by_email__", 20234},
    {"__ar_const_processed_file_printed__", 20235},
    {"__ar_const_error_sheet_printed__", 20236},
    {"__ar_const_failed_delivery_to_email__", 20237},
    {"__ar_const_rejected_file_not_printed__", 20238},
    {"processState_Sent", 20239},
    {"processState_Delivered", 20240},
    {"processState_Processed", 20241},
    {"processState_Error", 20242},
    {"processState_Failed", 20243},
    {"processState_Rejected", 20244},
    {"__ar_const_cpyright_year__", 42002},
    {"__ar_const_cpyright_string__", 42003},
};
static_assert(sizeof kConstantRows / sizeof kConstantRows[0] == ARL_NUM_CONSTANT_CMDS,
              "49 constant tags");

// Fault: a tag misspelt (the template's tag would stay in the report), a row moved, or a string
// id pointing at another text of the catalogue.
TEST(TagTablesTest, ConstantRowsNameTheCatalogueIds)
{
    for (int i = 0; i < ARL_NUM_CONSTANT_CMDS; ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_STREQ(constantCmdTable[i].findPattern, kConstantRows[i].tag);
        EXPECT_EQ(constantCmdTable[i].stringId, kConstantRows[i].id);
    }
}

// Fault: a variable tag misspelt, the wrong command type (the date or time not supplied by the
// stream editor), the wrong default, or a selector out of order.
TEST(TagTablesTest, VariableRows)
{
    struct Expected {
        int32_t specialAttr, cmdType;
        const char *tag, *defaultText;
    };
    const Expected rows[ARL_NUM_VARIABLE_CMDS] = {
        {1, 1, "__media_color__", "White"},
        {2, 1, "__media_type__", "Standard"},
        {3, 6, "__system_hex_date__", nullptr},
        {4, 7, "__system_hex_time__", nullptr},
        {5, 1, "__device_hex_name__", ""},
    };
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        EXPECT_EQ(sedCmdTable[i].specialAttr, rows[i].specialAttr);
        EXPECT_EQ(sedCmdTable[i].cmdType, rows[i].cmdType);
        EXPECT_STREQ(sedCmdTable[i].findPattern, rows[i].tag);
        if (rows[i].defaultText) {
            EXPECT_STREQ(sedCmdTable[i].defaultText, rows[i].defaultText);
        } else {
            EXPECT_EQ(sedCmdTable[i].defaultText, nullptr);
        }
    }
}

// Fault: two rows with one tag, a tag inside another (the edit would then depend on the order of
// the commands), a tag without an underscore (a hex replacement could form it), or two rows with
// one string id.
TEST(TagTablesTest, TagsAreDistinctAndNoneContainsAnother)
{
    std::vector<std::string> tags;
    for (const ConstantCmd &row : constantCmdTable)
        tags.push_back(row.findPattern);
    for (const VariableCmd &row : sedCmdTable)
        tags.push_back(row.findPattern);
    ASSERT_EQ(tags.size(), 54u);
    for (size_t i = 0; i < tags.size(); ++i) {
        EXPECT_NE(tags[i].find('_'), std::string::npos) << tags[i];
        for (size_t j = 0; j < tags.size(); ++j) {
            if (i != j) {
                EXPECT_EQ(tags[i].find(tags[j]), std::string::npos)
                    << tags[j] << " inside " << tags[i];
            }
        }
    }

    std::set<uint16_t> ids;
    for (int i = 0; i < ARL_NUM_CONSTANT_CMDS; ++i) {
        ids.insert(constantCmdTable[i].stringId);
        uint16_t expected;
        switch (i) {
        case 5: expected = 42000; break;
        case 6: expected = 42001; break;
        case 47: expected = 42002; break;
        case 48: expected = 42003; break;
        default: expected = static_cast<uint16_t>(20200 + i - (i > 6 ? 2 : 0));
        }
        EXPECT_EQ(constantCmdTable[i].stringId, expected) << "row " << i;
    }
    EXPECT_EQ(ids.size(), 49u);
    EXPECT_EQ(*ids.begin(), 20200);
    EXPECT_EQ(*std::prev(ids.end(), 5), 20244);
}

} // namespace
