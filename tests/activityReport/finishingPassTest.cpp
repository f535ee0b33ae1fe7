// The finishing pass: replacement buffers, constant and variable commands, the edit, and every
// failure path of ARL_GenerateActivityReport().

#include "pluginFixture.h"

#include <cerrno>

using namespace testing_support;

namespace {

const char kSysName[] = "connectivity.SNMP.systemGroup.sysName";

class FinishingPassTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        ASSERT_EQ(PrepareReplacementBuffers(), 0);
        bodyPath = Path("ar_output_pdl.ps");
        reportPath = Path("activityReport.ps");
        WriteFile(bodyPath, "<__media_color__> <__media_type__> <__device_hex_name__>\n"
                            "<__system_hex_date__><__system_hex_time__>\n"
                            "<__ar_const_page__20__ar_const_of__>\n");
        logDouble::Reset();
    }

    int32_t Generate(const char *mediaType = "Plain", const char *mediaColor = "Blue",
                     const char *language = "en")
    {
        return ARL_GenerateActivityReport(mediaType, mediaColor, bodyPath.c_str(),
                                          reportPath.c_str(), language);
    }

    static std::vector<std::string> AddCommandRecords()
    {
        std::vector<std::string> found;
        for (const std::string &record : logDouble::PluginRecords())
            if (record.rfind("INFO Add command ", 0) == 0)
                found.push_back(record);
        return found;
    }

    static std::string Buffer(int record)
    {
        return sedCmdTable[record].replacePattern ? sedCmdTable[record].replacePattern : "(null)";
    }

    std::string bodyPath, reportPath;
};

// Fault: a command missing, out of order, of the wrong type, with an untranslated or
// unconverted replacement, commands added to another array, the date and time commands without
// their "N/A" replacement, or a record of the pass wrong.
TEST_F(FinishingPassTest, FiftyFourCommandsInTableOrder)
{
    EXPECT_EQ(Generate(), 0);

    EXPECT_EQ(streameditorDouble::Capacities(), std::vector<int>{54});
    const auto &commands = streameditorDouble::Commands();
    ASSERT_EQ(commands.size(), 54u);
    for (int i = 0; i < ARL_NUM_CONSTANT_CMDS; ++i) {
        SCOPED_TRACE("constant row " + std::to_string(i));
        EXPECT_FALSE(commands[i].toNullArray);
        EXPECT_EQ(commands[i].type, 1);
        EXPECT_EQ(commands[i].find, constantCmdTable[i].findPattern);
        EXPECT_EQ(commands[i].replace, Hex("T" + std::to_string(constantCmdTable[i].stringId)));
    }
    const std::vector<std::tuple<int, std::string, std::string>> variable = {
        {1, "__media_color__", Hex("Blue")},       {1, "__media_type__", Hex("Plain")},
        {6, "__system_hex_date__", Hex("N/A")},    {7, "__system_hex_time__", Hex("N/A")},
        {1, "__device_hex_name__", Hex("device-1")},
    };
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i) {
        SCOPED_TRACE("variable record " + std::to_string(i));
        const auto &command = commands[ARL_NUM_CONSTANT_CMDS + i];
        EXPECT_FALSE(command.toNullArray);
        EXPECT_EQ(command.type, std::get<0>(variable[i]));
        EXPECT_EQ(command.find, std::get<1>(variable[i]));
        EXPECT_EQ(command.replace, std::get<2>(variable[i]));
        EXPECT_EQ(sedCmdTable[i].addResult, 0);
    }
    std::vector<std::string> translated;
    for (const ConstantCmd &row : constantCmdTable)
        translated.push_back("Trans_TranslateString(en, " + std::to_string(row.stringId) + ")");
    EXPECT_EQ(translationDouble::EventsStartingWith("Trans_TranslateString("), translated);

    EXPECT_EQ(logDouble::PluginRecords(),
              (std::vector<std::string>{
                  "ENTER ARL_GenerateActivityReport()",
                  "ENTER ARL_GetSpecialAttributes()",
                  "INFO numVariableCmds = 5",
                  "INFO numConstantCmds = 49",
                  "ENTER ARL_TranslateConstantText()",
                  "INFO Add command 0: type=1 find=\"__media_color__\" replace=\"Blue\"",
                  "INFO Add command 1: type=1 find=\"__media_type__\" replace=\"Plain\"",
                  "INFO Add command 2: type=6 find=\"__system_hex_date__\" replace=\"NULL\"",
                  "INFO Add command 3: type=7 find=\"__system_hex_time__\" replace=\"NULL\"",
                  "INFO Add command 4: type=1 find=\"__device_hex_name__\" replace=\"device-1\"",
                  "INFO ARL_GenerateActivityReport returning 0",
              }));

    ASSERT_EQ(streameditorDouble::Edits().size(), 1u);
    EXPECT_EQ(streameditorDouble::Edits()[0].inPath, bodyPath);
    EXPECT_EQ(streameditorDouble::Edits()[0].outPath, reportPath);
    EXPECT_EQ(streameditorDouble::Edits()[0].commands, 54u);
    EXPECT_EQ(streameditorDouble::FreeCalls(), 1);
    EXPECT_EQ(streameditorDouble::ArraysAlive(), 0);
    EXPECT_EQ(ReadFile(reportPath), "<" + Hex("Blue") + "> <" + Hex("Plain") + "> <" +
                                        Hex("device-1") + ">\n<" + Hex("N/A") + "><" + Hex("N/A") +
                                        ">\n<" + Hex("T20205") + "20" + Hex("T20206") + ">\n");
}

// Fault: new buffers allocated for every run (a leak per report), the buffers of the date and
// time records allocated, the defaults not restored before a run fills them, or Trans_Init
// called again after it succeeded.
TEST_F(FinishingPassTest, LaterRunsReuseTheBuffersAndTheTranslationLibrary)
{
    // From the state of a freshly loaded plug-in.
    for (VariableCmd &record : sedCmdTable) {
        std::free(record.replacePattern);
        record.replacePattern = nullptr;
    }
    ASSERT_EQ(PrepareReplacementBuffers(), 0);
    char *buffers[ARL_NUM_VARIABLE_CMDS];
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i)
        buffers[i] = sedCmdTable[i].replacePattern;
    EXPECT_NE(buffers[0], nullptr);
    EXPECT_NE(buffers[1], nullptr);
    EXPECT_EQ(buffers[2], nullptr);
    EXPECT_EQ(buffers[3], nullptr);
    EXPECT_NE(buffers[4], nullptr);
    EXPECT_EQ(Buffer(0), "White");
    EXPECT_EQ(Buffer(1), "Standard");
    EXPECT_EQ(Buffer(4), "");

    EXPECT_EQ(Generate("Plain", "Blue"), 0);
    EXPECT_EQ(Buffer(0), "Blue");
    EXPECT_EQ(ARL_STATE.transInitialised, 1);

    ASSERT_EQ(PrepareReplacementBuffers(), 0);
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i)
        EXPECT_EQ(sedCmdTable[i].replacePattern, buffers[i]) << "record " << i;
    EXPECT_EQ(Buffer(0), "White");
    EXPECT_EQ(Buffer(1), "Standard");
    EXPECT_EQ(Buffer(4), "");

    streameditorDouble::Reset();
    EXPECT_EQ(Generate(nullptr, nullptr), 0);
    EXPECT_EQ(translationDouble::InitCalls(), 1);
    EXPECT_EQ(streameditorDouble::Commands()[49].replace, Hex("White"));
    EXPECT_EQ(streameditorDouble::Commands()[50].replace, Hex("Standard"));
}

// Fault: a failed Trans_Init remembered as done (the texts would never be translated), not
// reported, or the pass going on to the commands.
TEST_F(FinishingPassTest, FailedTranslationInitIsRetriedByTheNextRun)
{
    translationDouble::SetInitResult(6);

    EXPECT_EQ(Generate(), 3);

    EXPECT_EQ(logDouble::PluginRecords(),
              (std::vector<std::string>{
                  "ENTER ARL_GenerateActivityReport()", "ENTER ARL_GetSpecialAttributes()",
                  "INFO numVariableCmds = 5", "INFO numConstantCmds = 49",
                  "ENTER ARL_TranslateConstantText()",
                  "ERROR Failed to init translation library, error = 6",
                  "ERROR ARL_TranslateConstantText() failed.",
                  "INFO ARL_GenerateActivityReport returning 3"}));
    EXPECT_EQ(ARL_STATE.transInitialised, 0);
    EXPECT_TRUE(streameditorDouble::Commands().empty());
    EXPECT_TRUE(streameditorDouble::Edits().empty());
    EXPECT_EQ(streameditorDouble::FreeCalls(), 1);
    EXPECT_EQ(streameditorDouble::ArraysAlive(), 0);

    translationDouble::SetInitResult(0);
    EXPECT_EQ(Generate(), 0);
    EXPECT_EQ(translationDouble::InitCalls(), 2);
    EXPECT_EQ(ARL_STATE.transInitialised, 1);
    EXPECT_EQ(Generate(), 0);
    EXPECT_EQ(translationDouble::InitCalls(), 2);
}

// Fault: a NULL media text copied (crash) or replacing the default, a long one overrunning the
// 100-byte buffer or cut without the warning.
TEST_F(FinishingPassTest, MediaTextsNullOrTooLong)
{
    ARL_GetSpecialAttributes(nullptr, nullptr);

    EXPECT_EQ(Buffer(0), "White");
    EXPECT_EQ(Buffer(1), "Standard");
    EXPECT_EQ(logDouble::PluginRecords(),
              (std::vector<std::string>{"ENTER ARL_GetSpecialAttributes()",
                                        "ERROR CopyString() sent to or from pointer.",
                                        "ERROR CopyString() sent to or from pointer."}));

    const std::string colour(150, 'c');
    logDouble::Reset();
    EXPECT_EQ(Generate("Plain", colour.c_str()), 0);
    EXPECT_EQ(Buffer(0), std::string(99, 'c'));
    EXPECT_EQ(logDouble::CountPluginRecord("WARN CopyString() input string being truncated."), 1);
    EXPECT_EQ(streameditorDouble::Commands()[49].replace, Hex(std::string(99, 'c')));
}

// Fault: the configured name not asked for as stated, an empty configured name used, no
// fallback to the node name, a failing uname not reported, or the name not converted from
// ISO-8859-15 (selector 3).
TEST_F(FinishingPassTest, DeviceNameFromConfigurationOrNodeName)
{
    const std::string nodeName = unameDouble::RealNodeName();
    ASSERT_FALSE(nodeName.empty());
    struct Case {
        const char *name;
        int configStatus;
        std::string configValue;
        int unameError;
        std::string expected;
        int unameCalls;
        std::vector<std::string> records;
    };
    const std::vector<Case> cases = {
        {"configured", 0, "lobby-printer", 0, "lobby-printer", 0, {}},
        {"configured empty", 0, "", 0, nodeName, 1, {}},
        {"configuration fails", 2, "", 0, nodeName, 1, {}},
        {"both fail", 2, "", EIO, "", 1,
         {"ERROR ARL_GetSpecialAttributes(): uname() failed, errno = " + std::to_string(EIO) +
          "."}},
        {"configured, too long", 0, std::string(150, 'n'), 0, std::string(99, 'n'), 0,
         {"WARN CopyString() input string being truncated."}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        configDouble::Reset();
        unameDouble::Reset();
        logDouble::Reset();
        ASSERT_EQ(PrepareReplacementBuffers(), 0);
        configDouble::SetDeviceName(c.configStatus, c.configValue);
        if (c.unameError)
            unameDouble::Fail(c.unameError);

        ARL_GetSpecialAttributes("Plain", "Blue");

        EXPECT_EQ(Buffer(4), c.expected);
        ASSERT_EQ(configDouble::AttrRequests().size(), 1u);
        EXPECT_EQ(configDouble::AttrRequests()[0].name, kSysName);
        EXPECT_EQ(configDouble::AttrRequests()[0].size, 1064u);
        EXPECT_EQ(unameDouble::Calls(), c.unameCalls);
        std::vector<std::string> expected = {"ENTER ARL_GetSpecialAttributes()"};
        expected.insert(expected.end(), c.records.begin(), c.records.end());
        EXPECT_EQ(logDouble::PluginRecords(), expected);
    }

    // On a UTF-8 system the name is converted from ISO-8859-15 by the sniffer.
    ForgetSystemCharset();
    ARL_STATE.transLibEncoding = "UTF-8";
    configDouble::Reset();
    snifferDouble::SetOutputPrefix("U:");
    ASSERT_EQ(PrepareReplacementBuffers(), 0);
    configDouble::SetDeviceName(0, "Caf\xe9");
    ARL_GetSpecialAttributes("Plain", "Blue");
    EXPECT_EQ(Buffer(4), "U:Caf\xe9");
    ASSERT_EQ(snifferDouble::Calls().size(), 1u);
    EXPECT_EQ(snifferDouble::Calls()[0].function, "SNF_Convert");
    EXPECT_EQ(snifferDouble::Calls()[0].charset, "ISO-8859-15");

    // A name that cannot be converted leaves the default.
    snifferDouble::Reset();
    snifferDouble::SetReturn("SNF_Convert", 0, false);
    logDouble::Reset();
    ASSERT_EQ(PrepareReplacementBuffers(), 0);
    ARL_GetSpecialAttributes("Plain", "Blue");
    EXPECT_EQ(Buffer(4), "");
    EXPECT_EQ(logDouble::PluginRecords(),
              (std::vector<std::string>{
                  "ENTER ARL_GetSpecialAttributes()",
                  "L3 ARL_CvtToUtf8(): SNF_Convert(Caf\xe9, ISO-8859-15) failed.",
                  "ERROR ARL_CvtToUtf8() failed (sedCmdTable[4])."}));
}

// Fault: a failed array creation skipping the translation step (and with it Trans_Init), the
// records out of order, commands added to the NULL handle, an edit attempted, or the NULL
// handle not handed to Sed_FreeCommands.
TEST_F(FinishingPassTest, CommandArrayCreationFailure)
{
    streameditorDouble::FailCreate();

    EXPECT_EQ(Generate(), 3);

    EXPECT_EQ(logDouble::PluginRecords(),
              (std::vector<std::string>{
                  "ENTER ARL_GenerateActivityReport()", "ENTER ARL_GetSpecialAttributes()",
                  "INFO numVariableCmds = 5", "INFO numConstantCmds = 49",
                  "ERROR Sed_CreateCmdArray() failed.", "ENTER ARL_TranslateConstantText()",
                  "ERROR ARL_TranslateConstantText()\tsent a NULL\tpointer.",
                  "ERROR ARL_TranslateConstantText() failed.",
                  "INFO ARL_GenerateActivityReport returning 3"}));
    EXPECT_EQ(translationDouble::InitCalls(), 1);
    EXPECT_EQ(ARL_STATE.transInitialised, 1);
    EXPECT_TRUE(translationDouble::EventsStartingWith("Trans_TranslateString").empty());
    EXPECT_TRUE(streameditorDouble::Commands().empty());
    EXPECT_TRUE(streameditorDouble::Edits().empty());
    EXPECT_EQ(streameditorDouble::FreeCalls(), 1);
    EXPECT_EQ(streameditorDouble::FreeNullCalls(), 1);
}

// Fault: a failure while adding the constant commands not ending the step, not reported, or
// followed by variable commands or an edit; the array not freed.
TEST_F(FinishingPassTest, ConstantCommandFailures)
{
    struct Case {
        const char *name;
        std::function<void()> inject;
        std::vector<std::string> records;
        size_t commandsAttempted;
    };
    const std::vector<Case> cases = {
        {"untranslatable", [] { translationDouble::FailTranslation(20210, 4); },
         {"ERROR Failed to translate string 20210 to [en], error = 4"}, 12},
        {"unconvertible", [] { translationDouble::FailHexFor("T20203"); },
         {"ERROR Trans_ConvertUTF8StringToHex() failed.", "ERROR ARL_CvtToUtf8Hex() failed (i = 3)."},
         3},
        {"refused", [] { streameditorDouble::FailAddFor("__ar_const_page__"); },
         {"ERROR Sed_AddCommand(i = 7) failed."}, 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        logDouble::Reset();
        translationDouble::Reset();
        streameditorDouble::Reset();
        c.inject();

        EXPECT_EQ(Generate(), 3);

        std::vector<std::string> expected = {
            "ENTER ARL_GenerateActivityReport()", "ENTER ARL_GetSpecialAttributes()",
            "INFO numVariableCmds = 5", "INFO numConstantCmds = 49",
            "ENTER ARL_TranslateConstantText()"};
        expected.insert(expected.end(), c.records.begin(), c.records.end());
        expected.push_back("ERROR ARL_TranslateConstantText() failed.");
        expected.push_back("INFO ARL_GenerateActivityReport returning 3");
        EXPECT_EQ(logDouble::PluginRecords(), expected);
        EXPECT_EQ(streameditorDouble::Commands().size(), c.commandsAttempted);
        EXPECT_TRUE(AddCommandRecords().empty()) << "no variable command";
        EXPECT_TRUE(streameditorDouble::Edits().empty());
        EXPECT_EQ(streameditorDouble::FreeCalls(), 1);
        EXPECT_EQ(streameditorDouble::ArraysAlive(), 0);
    }
}

// Fault: a refused variable command failing the pass, stopping the later commands, or its
// result not stored in the table.
TEST_F(FinishingPassTest, RefusedVariableCommandLeavesItsTag)
{
    for (VariableCmd &record : sedCmdTable)
        record.addResult = 77;
    streameditorDouble::FailAddFor("__media_type__", 9);

    EXPECT_EQ(Generate(), 0);

    std::vector<std::string> records = logDouble::PluginRecords();
    auto refused = std::find(records.begin(), records.end(), "ERROR Sed_AddCommand() failed.");
    ASSERT_NE(refused, records.end());
    EXPECT_EQ(*(refused - 1),
              "INFO Add command 1: type=1 find=\"__media_type__\" replace=\"Plain\"");
    EXPECT_EQ(AddCommandRecords().size(), 5u);
    EXPECT_EQ(streameditorDouble::Commands().size(), 54u);
    const int32_t results[] = {0, 9, 0, 0, 0};
    for (int i = 0; i < ARL_NUM_VARIABLE_CMDS; ++i)
        EXPECT_EQ(sedCmdTable[i].addResult, results[i]) << "record " << i;
    ASSERT_EQ(streameditorDouble::Edits().size(), 1u);
    EXPECT_NE(ReadFile(reportPath).find("<__media_type__>"), std::string::npos);
}

// Fault: a failed edit reported as success, its status not logged, or the array not freed.
TEST_F(FinishingPassTest, FailedEditEndsWithStatusThree)
{
    streameditorDouble::SetFileEditStatus(4);

    EXPECT_EQ(Generate(), 3);

    std::vector<std::string> records = logDouble::PluginRecords();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[records.size() - 2], "ERROR Sed_FileEdit() failed with status 4.");
    EXPECT_EQ(records.back(), "INFO ARL_GenerateActivityReport returning 3");
    EXPECT_EQ(streameditorDouble::FreeCalls(), 1);
    EXPECT_EQ(streameditorDouble::ArraysAlive(), 0);
}

// Fault: an unconvertible variable replacement not ending with 7, later records still handled,
// or an edit made.
TEST_F(FinishingPassTest, UnconvertibleVariableReplacementEndsWithStatusSeven)
{
    translationDouble::FailHexFor("Plain");

    EXPECT_EQ(Generate(), 7);

    std::vector<std::string> records = logDouble::PluginRecords();
    ASSERT_GE(records.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(records.end() - 4, records.end()),
              (std::vector<std::string>{
                  "INFO Add command 1: type=1 find=\"__media_type__\" replace=\"Plain\"",
                  "ERROR Trans_ConvertUTF8StringToHex() failed.",
                  "ERROR ARL_CvtToUtf8Hex() failed (cmdCount = 1).",
                  "INFO ARL_GenerateActivityReport returning 7"}));
    EXPECT_EQ(streameditorDouble::Commands().size(), 50u);
    EXPECT_TRUE(streameditorDouble::Edits().empty());
    EXPECT_EQ(streameditorDouble::FreeCalls(), 1);
    EXPECT_EQ(streameditorDouble::ArraysAlive(), 0);
}

} // namespace
