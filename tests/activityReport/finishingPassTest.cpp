// The finishing pass: replacement buffers, constant and variable commands, the edit and every
// failure of ARL_GenerateActivityReport(); the tag tables it reads.

#include "pluginFixture.h"

#include <cerrno>
#include <sstream>
#include <sys/utsname.h>

namespace {

class FinishingPassTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        ASSERT_EQ(PrepareReplacementBuffers(), 0);
        std::ofstream(Path("body.ps")) << "<__media_type__>\n";
        logs = {};
    }

    int32_t Generate(const char *type = "Plain", const char *color = "Blue")
    {
        return ARL_GenerateActivityReport(type, color, Path("body.ps").c_str(),
                                          Path("report.ps").c_str(), "fr");
    }

    static Texts Buffers()
    {
        Texts texts;
        for (const VariableCmd &record : sedCmdTable)
            texts.push_back(record.replacePattern ? record.replacePattern : "(null)");
        return texts;
    }
};

// Fault: a command missing, out of order or of the wrong type; a constant command with an
// untranslated or unconverted text or the text of another id; the date and time commands without
// their "N/A" replacement; the edit not made from the body file into the report file, or the
// array not freed.
TEST_F(FinishingPassTest, FiftyFourCommandsInTableOrder)
{
    EXPECT_EQ(Generate(), 0);

    EXPECT_EQ(editor.capacities, std::vector<int>{54});
    const auto &commands = editor.commands;
    ASSERT_EQ(commands.size(), 54u);
    Texts translated;
    for (int i = 0; i < ARL_NUM_CONSTANT_CMDS; ++i) {
        const std::string id = std::to_string(constantCmdTable[i].stringId);
        EXPECT_EQ(commands[i].type, 1) << "row " << i;
        EXPECT_EQ(commands[i].find, constantCmdTable[i].findPattern);
        EXPECT_EQ(commands[i].replace, Hex("T" + id));
        translated.push_back("Trans_TranslateString(fr, " + id + ")");
    }
    EXPECT_EQ(translationDouble::Events("Trans_TranslateString("), translated);
    const Texts variable = {"1 __media_color__ " + Hex("Blue"), "1 __media_type__ " + Hex("Plain"),
                            "6 __system_hex_date__ " + Hex("N/A"),
                            "7 __system_hex_time__ " + Hex("N/A"),
                            "1 __device_hex_name__ " + Hex("device-1")};
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i) {
        const streameditorDouble::Command &command = commands[ARL_NUM_CONSTANT_CMDS + i];
        EXPECT_EQ(std::to_string(command.type) + " " + command.find + " " + command.replace,
                  variable[i]);
        EXPECT_EQ(sedCmdTable[i].addResult, 0);
    }
    EXPECT_EQ(EditPaths(), (Texts{Path("body.ps"), Path("report.ps")}));
    EXPECT_EQ(std::make_pair(editor.freeCalls, editor.arraysAlive), std::make_pair(1, 0));
}

// Fault: a NULL media text copied (a crash) or replacing the default, a long one overrunning the
// 100-byte buffer or cut without the warning.
TEST_F(FinishingPassTest, MediaTextsNullOrTooLong)
{
    ARL_GetSpecialAttributes(nullptr, nullptr);
    EXPECT_EQ(Buffers()[0] + "|" + Buffers()[1], "White|Standard");
    EXPECT_EQ(logs.records, (Texts{"ENTER ARL_GetSpecialAttributes()",
                                   "ERROR CopyString() sent to or from pointer.",
                                   "ERROR CopyString() sent to or from pointer."}));

    logs = {};
    EXPECT_EQ(Generate("Plain", std::string(150, 'c').c_str()), 0);
    EXPECT_EQ(Buffers()[0], std::string(99, 'c'));
    EXPECT_EQ(logDouble::Count("WARN CopyString() input string being truncated."), 1);
    EXPECT_EQ(editor.commands[49].replace, Hex(std::string(99, 'c')));
}

// Fault: the configured name not asked for as stated, an empty configured name used, no fallback
// to the node name, a failing uname not reported, a long name overrunning the buffer, the name
// not converted from ISO-8859-15, or an unconvertible name not reported or replacing the default.
TEST_F(FinishingPassTest, DeviceNameFromConfigurationOrNodeName)
{
    struct utsname kernel;
    ASSERT_EQ(uname(&kernel), 0);
    const std::string node = kernel.nodename, iso = "ISO-8859-15";
    const std::tuple<int, std::string, int, std::string, int, std::string, Texts> cases[] = {
        // configuration status and name, uname errno, system charset, SNF_Convert result, the
        // name in the buffer, the records after the entry record
        {0, "lobby-printer", 0, iso, 1, "lobby-printer", {}},
        {0, "", 0, iso, 1, node, {}},
        {CFG_ERR_ABSENT, "", 0, iso, 1, node, {}},
        {CFG_ERR_ABSENT, "", EIO, iso, 1, "",
         {"ERROR ARL_GetSpecialAttributes(): uname() failed, errno = " + std::to_string(EIO) +
          "."}},
        {0, std::string(150, 'n'), 0, iso, 1, std::string(99, 'n'),
         {"WARN CopyString() input string being truncated."}},
        {0, "Caf\xe9", 0, "UTF-8", 1, "U:Caf\xe9", {}},
        {0, "Caf\xe9", 0, "UTF-8", 0, "",
         {"L3 ARL_CvtToUtf8(): SNF_Convert(Caf\xe9, ISO-8859-15) failed.",
          "ERROR ARL_CvtToUtf8() failed (sedCmdTable[4])."}}};
    for (const auto &[status, configured, error, charset, converted, name, records] : cases) {
        SCOPED_TRACE(configured + " " + std::to_string(status) + " " + charset);
        ResetDoubles();
        config.deviceNameStatus = status;
        config.deviceName = configured;
        host.failWith = error;
        sniffer.prefix = "U:";
        sniffer.results["SNF_Convert"] = converted;
        SetSystemCharset(charset.c_str());
        ASSERT_EQ(PrepareReplacementBuffers(), 0);

        ARL_GetSpecialAttributes("Plain", "Blue");

        EXPECT_EQ(Buffers()[4], name);
        EXPECT_EQ(config.attrRequests, Texts{"connectivity.SNMP.systemGroup.sysName 1064"});
        EXPECT_EQ(host.calls, name == node || error ? 1 : 0);
        Texts expected = {"ENTER ARL_GetSpecialAttributes()"};
        expected.insert(expected.end(), records.begin(), records.end());
        EXPECT_EQ(logs.records, expected);
        EXPECT_EQ(sniffer.calls.size(), charset == iso ? 0u : 1u);
    }
}

// Fault: a failure of the pass not ending it with its status, not reported or reported otherwise;
// commands added after it, variable commands or an edit following it; Trans_Init skipped when the
// array cannot be created, or a failed Trans_Init remembered as done; the array not freed, or the
// NULL handle not handed back.
TEST_F(FinishingPassTest, FailuresEndThePassWithTheirStatus)
{
    const Texts start = {"ENTER ARL_GenerateActivityReport()", "ENTER ARL_GetSpecialAttributes()",
                         "INFO numVariableCmds = 5", "INFO numConstantCmds = 49"};
    const std::string translating = "ENTER ARL_TranslateConstantText()",
                      failed = "ERROR ARL_TranslateConstantText() failed.",
                      returning3 = "INFO ARL_GenerateActivityReport returning 3";
    const std::tuple<std::function<void()>, int32_t, Texts, size_t, int32_t> cases[] = {
        // the failure, the status, the last records, Sed_AddCommand calls, Trans_Init succeeded
        {[&] { editor.failCreate = true; }, 3,
         {"ERROR Sed_CreateCmdArray() failed.", translating,
          "ERROR ARL_TranslateConstantText()\tsent a NULL\tpointer.", failed, returning3},
         0, 1},
        {[&] { translation.initResult = 6; }, 3,
         {translating, "ERROR Failed to init translation library, error = 6", failed, returning3},
         0, 0},
        {[&] { translation.translationErrors[20210] = 4; }, 3,
         {translating, "ERROR Failed to translate string 20210 to [fr], error = 4", failed,
          returning3},
         12, 1},
        {[&] { translation.hexResults["T20203"] = -1; }, 3,
         {translating, "ERROR Trans_ConvertUTF8StringToHex() failed.",
          "ERROR ARL_CvtToUtf8Hex() failed (i = 3).", failed, returning3},
         3, 1},
        {[&] { editor.refusedFind = "__ar_const_page__"; }, 3,
         {translating, "ERROR Sed_AddCommand(i = 7) failed.", failed, returning3}, 8, 1},
        {[&] { translation.hexResults["Plain"] = -1; }, 7,
         {"INFO Add command 1: type=1 find=\"__media_type__\" replace=\"Plain\"",
          "ERROR Trans_ConvertUTF8StringToHex() failed.",
          "ERROR ARL_CvtToUtf8Hex() failed (cmdCount = 1).",
          "INFO ARL_GenerateActivityReport returning 7"},
         50, 1},
        {[&] { editor.editStatus = 4; }, 3,
         {"ERROR Sed_FileEdit() failed with status 4.", returning3}, 54, 1}};
    for (const auto &[fail, status, records, commands, initialised] : cases) {
        SCOPED_TRACE(records[records.size() - 2]);
        ResetDoubles();
        ARL_STATE.transInitialised = 0;
        fail();

        EXPECT_EQ(Generate(), status);

        const Texts &logged = logs.records;
        EXPECT_EQ(Texts(logged.begin(), logged.begin() + std::min<size_t>(4, logged.size())),
                  start);
        EXPECT_EQ(Tail(logged, records.size()), records);
        EXPECT_EQ(editor.commands.size(), commands);
        EXPECT_EQ(editor.edits.size(), commands == 54 ? 1u : 0u);
        EXPECT_EQ(std::make_pair(editor.freeCalls, editor.arraysAlive), std::make_pair(1, 0));
        EXPECT_EQ(editor.freeNullCalls, editor.failCreate);
        EXPECT_EQ(ARL_STATE.transInitialised, initialised);
    }
}

// Fault: a refused variable command failing the pass, stopping the later commands, or its result
// not stored in the table.
TEST_F(FinishingPassTest, RefusedVariableCommandLeavesItsTag)
{
    for (VariableCmd &record : sedCmdTable)
        record.addResult = 77;
    editor.refusedFind = "__media_type__";
    editor.refusedResult = 9;

    EXPECT_EQ(Generate(), 0);

    const std::string refusal = "ERROR Sed_AddCommand() failed.";
    auto refused = std::find(logs.records.begin(), logs.records.end(), refusal);
    ASSERT_NE(refused, logs.records.end());
    EXPECT_EQ(*(refused - 1),
              "INFO Add command 1: type=1 find=\"__media_type__\" replace=\"Plain\"");
    EXPECT_EQ(*(refused + 1),
              "INFO Add command 2: type=6 find=\"__system_hex_date__\" replace=\"NULL\"");
    EXPECT_EQ(editor.commands.size(), 54u);
    const int32_t results[] = {0, 9, 0, 0, 0};
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i)
        EXPECT_EQ(sedCmdTable[i].addResult, results[i]) << "record " << i;
    EXPECT_EQ(ReadFile(Path("report.ps")), "<__media_type__>\n");
}

// Fault: a tag misspelt (the template's tag would stay in the report) or a row moved; a string id
// pointing at another text of the catalogue; two rows with one tag, or a tag inside another (the
// edit would then depend on the order of the commands); a tag without an underscore (a hex
// replacement could form it).
TEST(TagTablesTest, TagsAndStringIds)
{
    std::istringstream names(
        "header internet_fax_activity_report device_name report_date report_time copyright "
        "copyright_extra page of job_date job_time completion_date completion_time "
        "recipients_acknowledged subject from internet_fax_job_status "
        "ifax_job_status_successful ifax_job_status_unconfirmed ifax_job_status_failed "
        "pages_scanned attachment_size friendly_name email_address process_state "
        "status_date_time to cc max_recipients_msg process_steps "
        "success_processing_unconfirmed failure at_sending at_delivery at_receiving_device "
        "sent_accepted_by_email delivered_accepted_by_email processed_file_printed "
        "error_sheet_printed failed_delivery_to_email rejected_file_not_printed "
        "processState_Sent processState_Delivered processState_Processed processState_Error "
        "processState_Failed processState_Rejected cpyright_year cpyright_string");
    Texts tags;
    for (int i = 0; i < ARL_NUM_CONSTANT_CMDS; ++i) {
        std::string name;
        names >> name;
        tags.push_back(name.rfind("processState_", 0) == 0 ? name : "__ar_const_" + name + "__");
        const int id = i == 5 || i == 6 ? 41995 + i : i >= 47 ? 41955 + i : 20200 + i - 2 * (i > 6);
        EXPECT_EQ(constantCmdTable[i].findPattern, tags.back()) << "row " << i;
        EXPECT_EQ(constantCmdTable[i].stringId, id) << "row " << i;
    }
    for (const VariableCmd &record : sedCmdTable)
        tags.push_back(record.findPattern);
    for (const std::string &tag : tags) {
        EXPECT_NE(tag.find('_'), std::string::npos) << tag;
        for (const std::string &other : tags)
            EXPECT_TRUE(&tag == &other || tag.find(other) == std::string::npos)
                << other << " in " << tag;
    }
}

} // namespace
