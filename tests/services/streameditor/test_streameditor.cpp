// Tests of the stream editor stand-in: the command array, what one pass replaces, occurrences
// across read-block edges, large files, the date and time commands, and how output failures
// are reported and cleaned up.

#include "../files.h"
#include "streameditor.h"
#include "streameditor_internal.h"

#include <cstdio>
#include <ctime>
#include <random>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Command {
    int type;
    std::string find, replace;
};

// What the editor must produce, worked out the slow, obvious way: at each position take the
// longest find text that starts there (the first given among equals), else copy one byte.
std::string ReferenceEdit(const std::vector<Command> &commands, const std::string &input)
{
    std::string output;
    for (size_t pos = 0; pos < input.size();) {
        const Command *best = nullptr;
        for (const Command &command : commands) {
            if (input.compare(pos, command.find.size(), command.find) == 0 &&
                (!best || command.find.size() > best->find.size()))
                best = &command;
        }
        output += best ? best->replace : input.substr(pos, 1);
        pos += best ? best->find.size() : 1;
    }
    return output;
}

// Gives every test a fresh directory, its own log and configuration files, and the default
// read-block size back at its end.
class StreamEditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("DEVICE_LOG", (dir_ / "log.txt").c_str(), 1);
        setenv("DEVICE_CONFIG", (dir_ / "device.conf").c_str(), 1);
    }
    void TearDown() override { streameditor::SetReadBlockSize(0); }

    // Files left beside out.ps, such as a temporary output that was not removed.
    int StrayOutputFiles() const
    {
        int count = 0;
        for (const auto &entry : std::filesystem::directory_iterator(dir_.path))
            count += entry.path().filename().string().rfind("out.ps.", 0) == 0;
        return count;
    }

    int Edit(const std::vector<Command> &commands, const std::string &inPath, const std::string &outPath)
    {
        SedCmdArray *cmds = Sed_CreateCmdArray(static_cast<int>(commands.size()) + 1);
        for (const Command &command : commands)
            EXPECT_EQ(Sed_AddCommand(cmds, command.type, command.find.c_str(), command.replace.c_str()), 0);
        const int status = Sed_FileEdit(cmds, inPath.c_str(), outPath.c_str());
        return Sed_FreeCommands(cmds), status;
    }

    // Edits `input` through in.ps and out.ps and returns the output, expecting success.
    std::string EditText(const std::vector<Command> &commands, const std::string &input)
    {
        WriteFile(inPath_, input);
        EXPECT_EQ(Edit(commands, inPath_, outPath_), SED_OK);
        return ReadFile(outPath_);
    }

    TempDir dir_;
    const std::string inPath_ = dir_ / "in.ps", outPath_ = dir_ / "out.ps";
};

const std::vector<Command> kTags = {
    {SED_CMD_REPLACE, "__ar_const_of__", "6f66"},
    {SED_CMD_REPLACE, "__ar_const_to__", "546f3a"},
    {SED_CMD_REPLACE, "processState_Sent", "53656e74"},
    {SED_CMD_REPLACE, "__media_color__", ""},
};

TEST_F(StreamEditorTest, CommandArrayKeepsCopiesAndRefusesBadCommands)
{
    for (int size : {0, -3})
        EXPECT_EQ(Sed_CreateCmdArray(size), nullptr) << size;
    EXPECT_EQ(Sed_FreeCommands(nullptr), 0);

    SedCmdArray *cmds = Sed_CreateCmdArray(2);
    ASSERT_NE(cmds, nullptr);
    EXPECT_NE(Sed_AddCommand(nullptr, SED_CMD_REPLACE, "__a__", "41"), 0);
    EXPECT_NE(Sed_AddCommand(cmds, SED_CMD_REPLACE, nullptr, "41"), 0);
    EXPECT_NE(Sed_AddCommand(cmds, SED_CMD_REPLACE, "__a__", nullptr), 0);
    EXPECT_NE(Sed_AddCommand(cmds, SED_CMD_REPLACE, "", "41"), 0);
    for (int type : {0, 2, 5, 8, -1})
        EXPECT_NE(Sed_AddCommand(cmds, type, "__a__", "41"), 0) << type;

    // The array must copy both texts: the caller reuses one buffer for every command.
    char find[] = "__a__", replace[] = "41";
    EXPECT_EQ(Sed_AddCommand(cmds, SED_CMD_REPLACE, find, replace), 0);
    find[2] = 'b';
    replace[1] = '2';
    EXPECT_EQ(Sed_AddCommand(cmds, SED_CMD_REPLACE, find, replace), 0);
    EXPECT_NE(Sed_AddCommand(cmds, SED_CMD_REPLACE, "__c__", "43"), 0); // full

    WriteFile(inPath_, "<__a____b____c__>");
    EXPECT_EQ(Sed_FileEdit(cmds, inPath_.c_str(), outPath_.c_str()), SED_OK);
    EXPECT_EQ(ReadFile(outPath_), "<4142__c__>");
    EXPECT_EQ(Sed_FileEdit(nullptr, inPath_.c_str(), outPath_.c_str()), SED_ERR_ARGUMENT);
    EXPECT_EQ(Sed_FileEdit(cmds, nullptr, outPath_.c_str()), SED_ERR_ARGUMENT);
    EXPECT_EQ(Sed_FileEdit(cmds, inPath_.c_str(), nullptr), SED_ERR_ARGUMENT);
    EXPECT_EQ(Sed_FreeCommands(cmds), 0);
}

// Every occurrence, whatever touches it; leftmost first, the longest of those starting at one
// place; replaced text never scanned again. The random texts below try many more such cases.
TEST_F(StreamEditorTest, OnePassReplacesLeftmostLongestOccurrences)
{
    std::string allBytes;
    for (int byte = 0; byte < 256; ++byte)
        allBytes += static_cast<char>(byte);
    const struct {
        std::vector<Command> commands;
        std::string input, output;
    } cases[] = {
        // Adjacent tags, tags touching hex digits on both sides, several in a line, one alone.
        {kTags, "<31__ar_const_of__20__ar_const_to__32>\n<__ar_const_to____ar_const_of__processState_Sent>\n"
                "<processState_Sent> __media_color__x\n",
         "<316f6620546f3a32>\n<546f3a6f6653656e74>\n<53656e74> x\n"},
        // No final newline and a tag as the very last bytes; an empty file; bytes of every value.
        {kTags, "a\nb__ar_const_of__", "a\nb6f66"},
        {kTags, "", ""},
        {kTags, allBytes + "__ar_const_of__" + allBytes, allBytes + "6f66" + allBytes},
        {{{SED_CMD_REPLACE, "a\nb", "X"}}, "a\nb\na\nb", "X\nX"},
        // The longer find text wins at one place; of equal ones the first given; an earlier start
        // wins over a longer occurrence overlapping it.
        {{{SED_CMD_REPLACE, "__ar_const_copyright__", "A"},
          {SED_CMD_REPLACE, "__ar_const_copyright_extra__", "B"}},
         "<__ar_const_copyright_extra____ar_const_copyright__>", "<BA>"},
        {{{SED_CMD_REPLACE, "_x_", "1"}, {SED_CMD_REPLACE, "_x_", "2"}}, "_x_", "1"},
        {{{SED_CMD_REPLACE, "ab", "1"}, {SED_CMD_REPLACE, "bcdef", "2"}}, "abcdef", "1cdef"},
        // Replaced text is not scanned again, nor joined with the bytes after it.
        {{{SED_CMD_REPLACE, "__a__", "__b__"}, {SED_CMD_REPLACE, "__b__", "__a__"}},
         "__a__ __b__", "__b__ __a__"},
        {{{SED_CMD_REPLACE, "__q", "__"}, {SED_CMD_REPLACE, "__t__", "T"}}, "__qt__", "__t__"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(EditText(c.commands, c.input), c.output) << c.input;
}

TEST_F(StreamEditorTest, OccurrencesAcrossReadBlockEdgesAreFound)
{
    // A tag at every offset around the edge of a small block.
    const std::string tag = "__ar_const_recipients_acknowledged__";
    const std::vector<Command> commands = {{SED_CMD_REPLACE, tag, "4b"}, {SED_CMD_REPLACE, "__ar_const_of__", "6f66"}};
    streameditor::SetReadBlockSize(64);
    for (size_t before = 64 - tag.size() - 2; before <= 64 + 2; ++before) {
        std::string filler(before, '2');
        EXPECT_EQ(EditText(commands, filler + tag + "20__ar_const_of__" + tag), filler + "4b206f664b")
            << "tag at offset " << before;
    }

    // Random texts over a small alphabet, so that find texts, their prefixes and overlaps are
    // frequent, and replacements that would form find texts if scanned again, against the obvious
    // editor, for block sizes from one byte up.
    std::mt19937 random(20240607);
    auto randomText = [&random](size_t length, const char *alphabet, size_t letters) {
        std::string text;
        for (size_t i = 0; i < length; ++i)
            text += alphabet[random() % letters];
        return text;
    };
    for (size_t blockSize : {1, 2, 3, 5, 8, 13, 64, 4096}) {
        streameditor::SetReadBlockSize(blockSize);
        for (int round = 0; round < 20; ++round) {
            std::vector<Command> randomCommands;
            for (int i = 0, count = 1 + random() % 6; i < count; ++i)
                randomCommands.push_back({SED_CMD_REPLACE, randomText(1 + random() % 6, "ab_", 3),
                                          randomText(random() % 4, "ab_X", 4)});
            std::string input = randomText(random() % 300, "ab_\n", 4);
            ASSERT_EQ(EditText(randomCommands, input), ReferenceEdit(randomCommands, input))
                << "block size " << blockSize << ", round " << round << ", input " << input;
        }
    }
}

// A body of repeated job entries much larger than the read block, edited in bounded memory.
TEST_F(StreamEditorTest, HundredMegabyteFileIsEditedInBoundedMemory)
{
    const std::string entry = "<__ar_const_of__20> AR_SHOW\n<3132> AR_SHOW\n"
                              "<31__ar_const_of__20__ar_const_to__2020>\n"
                              "<__ar_const_to__20416e6e61> fname_width Substring AR_SHOW\n"
                              "<processState_Sent> pstate_width Substring AR_SHOW\n"
                              "__media_color__NextRow\n\n";
    // 1201 entries make a chunk a little smaller than a read block, so chunks and blocks drift
    // apart and tags land across block edges all through the file.
    std::string chunk;
    for (int i = 0; i < 1201; ++i)
        chunk += entry;
    const std::string editedChunk = ReferenceEdit(kTags, chunk);
    const size_t chunks = 100 * 1000 * 1000 / chunk.size() + 1;
    {
        std::ofstream input(inPath_, std::ios::binary);
        for (size_t i = 0; i < chunks; ++i)
            input << chunk;
    }

    rusage before = {}, after = {};
    getrusage(RUSAGE_SELF, &before);
    ASSERT_EQ(Edit(kTags, inPath_, outPath_), SED_OK);
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024) << "peak RSS grew, in KiB";

    ASSERT_EQ(std::filesystem::file_size(outPath_), chunks * editedChunk.size());
    std::ifstream output(outPath_, std::ios::binary);
    std::string piece(editedChunk.size(), '\0');
    for (size_t i = 0; i < chunks; ++i) {
        output.read(&piece[0], piece.size());
        ASSERT_TRUE(piece == editedChunk) << "chunk " << i << " differs";
    }
}

TEST_F(StreamEditorTest, SystemDateAndTimeUseTheDeviceFormatsAsHex)
{
    WriteFile(dir_ / "device.conf", "OID_ATT_DATE_FORMAT = %Y-%m-%d\nOID_ATT_TIME_FORMAT = %H.%M\n");
    const std::vector<Command> commands = {{SED_CMD_SYSTEM_DATE, "__system_hex_date__", "4e2f41"},
                                           {SED_CMD_SYSTEM_TIME, "__system_hex_time__", "4e2f41"},
                                           {SED_CMD_REPLACE, "__media_type__", "5374"}};
    const char *input = "<__system_hex_date__20__system_hex_time__> <__media_type__>\n<__system_hex_date__>";
    // The local date and time in hex, through the two formats above.
    auto expectedAt = [](std::time_t when) {
        std::tm local = {};
        localtime_r(&when, &local);
        auto hex = [&local](const char *format) {
            char text[64], pair[3];
            std::string hex;
            for (size_t i = 0, n = std::strftime(text, sizeof text, format, &local); i < n; ++i)
                hex += (std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(text[i])), pair);
            return hex;
        };
        return "<" + hex("%Y-%m-%d") + "20" + hex("%H.%M") + "> <5374>\n<" + hex("%Y-%m-%d") + ">";
    };

    // The clock may pass a minute or a day boundary during the edit: accept either side.
    std::time_t start = std::time(nullptr);
    std::string output = EditText(commands, input);
    std::time_t end = std::time(nullptr);
    EXPECT_TRUE(output == expectedAt(start) || output == expectedAt(end)) << output;

    // A format that yields no text falls back to the replacement given with the command.
    WriteFile(dir_ / "device.conf", "OID_ATT_DATE_FORMAT =\nOID_ATT_TIME_FORMAT =\n");
    EXPECT_EQ(EditText(commands, input), "<4e2f41204e2f41> <5374>\n<4e2f41>");
    EXPECT_NE(ReadFile(dir_ / "log.txt").find("OID_ATT_DATE_FORMAT"), std::string::npos);
}

TEST_F(StreamEditorTest, FailuresAreReportedAndLeaveTheTargetAlone)
{
    WriteFile(outPath_, "previous report");
    EXPECT_EQ(Edit(kTags, dir_ / "missing.ps", outPath_), SED_ERR_OPEN_INPUT);
    // A directory opens but cannot be read.
    EXPECT_EQ(Edit(kTags, dir_.path, outPath_), SED_ERR_READ);

    WriteFile(inPath_, "__ar_const_of__");
    EXPECT_EQ(Edit(kTags, inPath_, dir_ / "no/such/dir/out.ps"), SED_ERR_OPEN_OUTPUT);
    EXPECT_EQ(Edit(kTags, inPath_, "/proc/out.ps"), SED_ERR_OPEN_OUTPUT);
    EXPECT_EQ(Edit(kTags, inPath_, dir_.path), SED_ERR_OPEN_OUTPUT); // a directory as target
    // Permissions do not stop root, so a read-only directory only counts for other users.
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir_.path.c_str(), 0500), 0);
        EXPECT_EQ(Edit(kTags, inPath_, outPath_), SED_ERR_OPEN_OUTPUT);
        chmod(dir_.path.c_str(), 0700);
    }
    EXPECT_EQ(ReadFile(outPath_), "previous report");
    EXPECT_EQ(StrayOutputFiles(), 0);

    // Success replaces the previous file and leaves nothing beside it; editing a file onto
    // itself works, as the output is a new file.
    EXPECT_EQ(Edit(kTags, inPath_, outPath_), SED_OK);
    EXPECT_EQ(Edit(kTags, outPath_, outPath_), SED_OK);
    EXPECT_EQ(ReadFile(outPath_), "6f66");
    EXPECT_EQ(StrayOutputFiles(), 0);
}

TEST_F(StreamEditorTest, DeviceAndFifoTargetsAreWrittenDirectly)
{
    WriteFile(inPath_, "<__ar_const_of__>");

    // A full disk has its own status, and the device stays a device.
    EXPECT_EQ(Edit(kTags, inPath_, "/dev/full"), SED_ERR_NO_SPACE);
    struct stat status;
    EXPECT_TRUE(stat("/dev/full", &status) == 0 && S_ISCHR(status.st_mode)) << "/dev/full is no longer a device";
    // An empty input writes nothing, so nothing can fail.
    WriteFile(dir_ / "empty.ps", "");
    EXPECT_EQ(Edit(kTags, dir_ / "empty.ps", "/dev/full"), SED_OK);

    const std::string fifo = dir_ / "out.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&fifo, &received] { received = ReadFile(fifo); });
    EXPECT_EQ(Edit(kTags, inPath_, fifo), SED_OK);
    reader.join();
    EXPECT_EQ(received, "<6f66>");
    EXPECT_TRUE(stat(fifo.c_str(), &status) == 0 && S_ISFIFO(status.st_mode)) << "the fifo was replaced";
}

} // namespace
