// Throughput of the stream editor on a report body of 10,000 jobs with five recipients each,
// edited with the 54 commands of a report run, against GNU sed running the same replacements
// as a script of 54 "s/tag/hex/g" commands. Prints both throughputs, their ratio, and whether
// the two outputs agree, and how far the editor's peak memory grew: it reads in bounded blocks.
//
// Usage: bench-streameditor [jobs]   (default 10000)

#include "activityReportInternals.h"
#include "streameditor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Command {
    int type;
    std::string find;
    std::string replace;
};

std::string Hex(const std::string &text)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : text) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0f];
    }
    return hex;
}

// A readable label for a tag, the stand-in for its translated text: "__ar_const_job_date__"
// becomes "job date", "processState_Sent" becomes "Sent".
std::string LabelOf(const std::string &tag)
{
    std::string label = tag;
    for (const std::string &prefix : {std::string("__ar_const_"), std::string("processState_")})
        if (label.rfind(prefix, 0) == 0)
            label = label.substr(prefix.size());
    while (!label.empty() && label.back() == '_')
        label.pop_back();
    std::replace(label.begin(), label.end(), '_', ' ');
    return label;
}

// The 54 commands of a run, from the plug-in's own tag tables: the 49 constant tags, then the 5
// variable ones. With `fixedClock` the date and time commands become plain replacements, so that
// GNU sed can do the same.
std::vector<Command> ReportCommands(bool fixedClock)
{
    std::vector<Command> commands;
    for (const ConstantCmd &row : constantCmdTable)
        commands.push_back({SED_CMD_REPLACE, row.findPattern, Hex(LabelOf(row.findPattern))});
    for (const VariableCmd &record : sedCmdTable) {
        bool clock = record.cmdType != SED_CMD_REPLACE;
        commands.push_back({fixedClock ? SED_CMD_REPLACE : record.cmdType, record.findPattern,
                            Hex(clock ? "N/A" : LabelOf(record.findPattern))});
    }
    return commands;
}

// ---------------------------------------------------------------------------------------------
// The report body, with the line shapes of the generated job entries and recipient rows.
// ---------------------------------------------------------------------------------------------

const char kBold[] = "DefaultFontNameBold findfont 9 scalefont setfont\n";
const char kRegular[] = "DefaultFontName findfont 9 scalefont setfont\n";
const char kMove[] = "currentColumn currentRow MoveToPosition\n";
const char kNextRow[] = "NextRow\n\n";
const char kMeasureComment[] =
    "% Calculate the boundary box (field_avail) for next printing text\n";
const char kMeasure[] =
    "currentpoint pop % get the current x,y position, push onto stack, then pop y to discard.\n";

std::string DateText(int job)
{
    return Hex(std::to_string(1 + job % 12) + "/" + std::to_string(10 + job % 18) + "/2024");
}
std::string TimeText(int job)
{
    return Hex(std::to_string(10 + job % 13) + ":" + std::to_string(10 + job % 49) + ":0" +
               std::to_string(job % 10));
}

void WritePrologue(std::ostream &out, int recipients)
{
    out << "/numberOfRecipients " << recipients << " def % this should be replace with tag\n"
        << "/rowsNeededForThisEntry 4 numberOfRecipients add def\n"
        << "/sizeNeededForThisEntry rowHeight rowsNeededForThisEntry mul def\n"
        << "currentpoint % push the current x,y onto stack\n"
        << "/yPos exch def\n"
        << "/currY pageLength yPos sub def\n"
        << "/currY currY sizeNeededForThisEntry add def\n\n"
        << "currY maxY gt % is currY greater than maxY ?\n"
        << "\t{\n\t\t% if this is the first page\n\t\tpageCounter 1 eq\n\t\t\t{\n"
        << "\t\t\tPrintMax50Msg\n\t\t\t} if\n\t\tPrintFooter\n\t\tshowpage\n\n"
        << "\t\t% page break\n\t\tIncreaseCounter\n\t\t/currentRow 3 def\n"
        << "\t\t% recalculate the maxY for pages other than the first one\n"
        << "\t\t/rowsUsed footerRowsUsed 1 add def\n"
        << "\t\t/usedYpos rowHeight rowsUsed mul def\n"
        << "\t\t/maxY pageLength usedYpos sub def\n\t} if\n\n";
}

void WriteJobRows(std::ostream &out, int job)
{
    out << kBold << "/currentColumn LM_ind def\nVERTICAL_SPACE_SEPARATOR\n";
    if (job > 1)
        out << "VERTICAL_SPACE_SEPARATOR\n";
    out << kMove << kBold << "<__ar_const_job_date__20> AR_SHOW\n"
        << kRegular << "<" << DateText(job) << "> AR_SHOW\n"
        << kBold << "<20__ar_const_job_time__20> AR_SHOW\n"
        << kMeasureComment << kMeasure << "/field_delta exch def\n"
        << "/field_avail job_date_col2_ind field_delta sub def\n"
        << kRegular << "<" << TimeText(job) << "> field_avail Substring AR_SHOW\n\n"
        << "/currentColumn job_date_col2_ind def\n"
        << kMove << kBold << "<__ar_const_completion_date__20> AR_SHOW\n"
        << kRegular << "<" << DateText(job + 1) << "> AR_SHOW\n"
        << kBold << "<20__ar_const_completion_time__20> AR_SHOW\n"
        << kMeasureComment << "/field_avail 45 def\n"
        << kRegular << "<" << TimeText(job + 7) << "> field_avail Substring AR_SHOW\n\n"
        << "/currentColumn RM_ind def\n"
        << kMove << kBold << "<" << Hex(std::to_string(job % 6)) << "20__ar_const_of__20"
        << Hex("5") << "20__ar_const_recipients_acknowledged__2020"
        << "> ack_width Substring RIGHT_SHOW\n"
        << kNextRow;

    out << "/currentColumn LM_ind def\n"
        << kMove << kBold << "<__ar_const_subject__20> AR_SHOW\n"
        << kMeasureComment << kMeasure << "/field_delta exch LM_ind sub def\n"
        << "/field_avail subj_width field_delta sub def\n"
        << kRegular << "<" << Hex("Quarterly figures, scan " + std::to_string(job))
        << "> field_avail Substring AR_SHOW\n\n"
        << "/currentColumn subj_head_col2_ind def\n"
        << kMove << kBold << "<__ar_const_from__20> AR_SHOW\n"
        << kRegular << "<" << Hex("scanner" + std::to_string(job % 40) + "@branch.example.org")
        << "> AR_SHOW\n"
        << kNextRow;

    out << "/currentColumn LM_ind def\n"
        << kMove << kBold << "<__ar_const_internet_fax_job_status__20> AR_SHOW\n"
        << kMeasureComment << kMeasure << "/field_delta exch LM_ind sub def\n"
        << "/field_avail job_status_width field_delta sub def\n"
        << kRegular << "<" << Hex(std::to_string(job % 6))
        << "20__ar_const_ifax_job_status_successful__20" << Hex("1")
        << "20__ar_const_ifax_job_status_unconfirmed__20" << Hex("0")
        << "20__ar_const_ifax_job_status_failed__> field_avail Substring AR_SHOW\n\n"
        << "/currentColumn subj_head_col2_ind def\n"
        << kMove << kBold << "<__ar_const_pages_scanned__20> AR_SHOW\n"
        << kRegular << "<" << Hex(std::to_string(1 + job % 30)) << "> AR_SHOW\n"
        << kBold << "<202020__ar_const_attachment_size__20> AR_SHOW\n"
        << kRegular << "<" << Hex(std::to_string(20000 + job * 37 % 900000)) << "> AR_SHOW\n"
        << kNextRow;
}

void WriteHeadingRow(std::ostream &out)
{
    out << "/currentColumn name_info_col1_ind def\n"
        << kMove << kRegular
        << "<__ar_const_friendly_name__> fname_width Substring UNDERLINE_SHOW\n\n"
        << "/currentColumn name_info_col2_ind def\n"
        << kMove << "<__ar_const_email_address__> email_width Substring UNDERLINE_SHOW\n\n"
        << "/currentColumn name_info_col3_ind def\n"
        << kMove << "<__ar_const_process_state__> pstate_width Substring UNDERLINE_SHOW\n\n"
        << "/currentColumn name_info_col4_ind def\n"
        << kMove << "<__ar_const_status_date_time__> UNDERLINE_SHOW\n"
        << kNextRow;
}

void WriteRecipientRows(std::ostream &out, int job, int recipients)
{
    static const char *const kStates[] = {"processState_Sent",      "processState_Delivered",
                                          "processState_Processed", "processState_Error",
                                          "processState_Failed",    "processState_Rejected"};
    out << "% Print recipients info\n"
        << "DefaultFontName findfont DefaultFontSize scalefont setfont\n\n";
    for (int a = 1; a <= recipients; ++a) {
        int state = (job + a) % 6;
        const char *stateTail =
            state < 3 ? "> pstate_width Substring AR_SHOW\n" : "> pstate_width Substring AR_SHOW\n";
        out << "/currentColumn name_info_col1_ind def\n"
            << kMove << (a == 1 ? "<__ar_const_to__20" : "<__ar_const_cc__20")
            << Hex("Recipient " + std::to_string(a) + " of job " + std::to_string(job))
            << "> fname_width Substring AR_SHOW\n"
            << "/currentColumn name_info_col2_ind def\n"
            << kMove << "<" << Hex("fax" + std::to_string(job * 5 + a) + "@partner.example.com")
            << "> email_width Substring AR_SHOW\n"
            << "/currentColumn name_info_col3_ind def\n"
            << kMove << "<" << kStates[state] << stateTail
            << "/currentColumn name_info_col4_ind def\n"
            << kMove << "<" << DateText(job + a) << "202020" << TimeText(job + a) << "> AR_SHOW\n"
            << kNextRow;
    }
}

// A short template head and foot carrying the tags only the template holds, around the jobs.
void WriteBody(const std::string &path, int jobs)
{
    std::ofstream out(path, std::ios::binary);
    out << "%!PS-Adobe-3.0\n% Internet Fax Activity Report\n"
        << "/Title <__ar_const_internet_fax_activity_report__> def\n"
        << "/Header <__ar_const_header__20__device_hex_name__> def\n"
        << "/DeviceLabel <__ar_const_device_name__> def\n"
        << "/DateLine <__ar_const_report_date__20__system_hex_date__> def\n"
        << "/TimeLine <__ar_const_report_time__20__system_hex_time__> def\n"
        << "/Media <__media_type__20__media_color__> def\n"
        << "/Copyright <__ar_const_copyright__20__ar_const_cpyright_year__20"
           "__ar_const_cpyright_string__20__ar_const_copyright_extra__> def\n"
        << "/PageLabel <__ar_const_page__> def\n";
    for (int job = 1; job <= jobs; ++job) {
        WritePrologue(out, 5);
        WriteJobRows(out, job);
        WriteHeadingRow(out);
        WriteRecipientRows(out, job, 5);
    }
    out << "/Legend [<__ar_const_max_recipients_msg__> <__ar_const_process_steps__>\n"
        << "<__ar_const_success_processing_unconfirmed__> <__ar_const_failure__>\n"
        << "<__ar_const_at_sending__> <__ar_const_at_delivery__>\n"
        << "<__ar_const_at_receiving_device__> <__ar_const_sent_accepted_by_email__>\n"
        << "<__ar_const_delivered_accepted_by_email__> <__ar_const_processed_file_printed__>\n"
        << "<__ar_const_error_sheet_printed__> <__ar_const_failed_delivery_to_email__>\n"
        << "<__ar_const_rejected_file_not_printed__>] def\nPrintFooter\nshowpage\n";
}

// ---------------------------------------------------------------------------------------------
// Timing
// ---------------------------------------------------------------------------------------------

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The best of `runs` edits, in seconds; returns a negative value when an edit fails. The
// output is removed before each run, as a report run finds no report file of its own: the
// print service removed it after printing.
double TimeStreamEditor(const std::vector<Command> &commands, const std::string &in,
                        const std::string &out, int runs)
{
    double best = 1e30;
    for (int run = 0; run < runs; ++run) {
        std::remove(out.c_str());
        SedCmdArray *cmds = Sed_CreateCmdArray(static_cast<int>(commands.size()));
        for (const Command &command : commands)
            Sed_AddCommand(cmds, command.type, command.find.c_str(), command.replace.c_str());
        auto start = std::chrono::steady_clock::now();
        int status = Sed_FileEdit(cmds, in.c_str(), out.c_str());
        double seconds = Seconds(start);
        Sed_FreeCommands(cmds);
        if (status != SED_OK) {
            std::fprintf(stderr, "Sed_FileEdit failed with status %d\n", status);
            return -1;
        }
        best = std::min(best, seconds);
    }
    return best;
}

double TimeGnuSed(const std::vector<Command> &commands, const std::string &dir,
                  const std::string &in, const std::string &out)
{
    std::string script = dir + "/replace.sed";
    {
        std::ofstream file(script);
        for (const Command &command : commands)
            file << "s/" << command.find << "/" << command.replace << "/g\n";
    }
    std::string line = "LC_ALL=C sed -f '" + script + "' '" + in + "' > '" + out + "'";
    auto start = std::chrono::steady_clock::now();
    int status = std::system(line.c_str());
    double seconds = Seconds(start);
    std::remove(script.c_str());
    if (status != 0) {
        std::fprintf(stderr, "GNU sed failed: %s\n", line.c_str());
        return -1;
    }
    return seconds;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

off_t FileSize(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? status.st_size : 0;
}

} // namespace

int main(int argc, char **argv)
{
    int jobs = argc > 1 ? std::atoi(argv[1]) : 10000;
    char pattern[] = "/tmp/bench-streameditor.XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    const std::string body = dir + "/body.ps", ours = dir + "/ours.ps", theirs = dir + "/sed.ps";
    setenv("DEVICE_LOG", (dir + "/log.txt").c_str(), 1);

    WriteBody(body, jobs);
    const double megabytes = FileSize(body) / 1e6;
    std::printf("report body: %d jobs, 5 recipients each, %.1f MB\n", jobs, megabytes);

    const std::vector<Command> reportCommands = ReportCommands(false);
    const std::vector<Command> fixedCommands = ReportCommands(true);
    rusage before = {}, after = {};
    getrusage(RUSAGE_SELF, &before);
    double oursSeconds = TimeStreamEditor(reportCommands, body, ours, 5);
    getrusage(RUSAGE_SELF, &after);
    double fixedSeconds = TimeStreamEditor(fixedCommands, body, ours, 1);
    double sedSeconds = TimeGnuSed(fixedCommands, dir, body, theirs);

    int result = 0;
    if (oursSeconds > 0 && fixedSeconds > 0 && sedSeconds > 0) {
        bool same = ReadFile(ours) == ReadFile(theirs);
        std::printf("stream editor, %zu commands, to a new file: %8.1f MB/s  (%.3f s, best of 5)\n",
                    reportCommands.size(), megabytes / oursSeconds, oursSeconds);
        std::printf("peak memory growth during the edits: %ld KiB\n",
                    after.ru_maxrss - before.ru_maxrss);
        std::printf("GNU sed -f, %zu s///g commands, new file:   %8.1f MB/s  (%.3f s)\n",
                    fixedCommands.size(), megabytes / sedSeconds, sedSeconds);
        std::printf("ratio, new files: %.1fx\n", sedSeconds / oursSeconds);
        std::printf("outputs with fixed date and time: %s (%.1f MB)\n",
                    same ? "identical" : "DIFFERENT", FileSize(ours) / 1e6);
        result = same ? 0 : 1;
    } else {
        result = 1;
    }

    for (const std::string &path : {body, ours, theirs, dir + "/log.txt"})
        std::remove(path.c_str());
    rmdir(dir.c_str());
    return result;
}
