# Writes job entries in the exact shape the report plug-in writes them into the body file: the
# page-break check, three job rows, the recipient headings and up to five recipient rows per job.
# Texts are plain ASCII made from the job number, so a reader of the rendered report can tell
# which rows belong to which job: subject "Subject <n>", sender "sender<n>@example.com",
# recipient names "Name <n>-<k>". Every seventh job has a subject too long for its column.
#
#   awk -v jobs=2000 -v recipients=5 -f job-entries.awk
#
# Constant tags stay in the hex strings, as the plug-in leaves them for the finishing pass.

function hex(text,    i, out) {
    out = ""
    for (i = 1; i <= length(text); i++) out = out sprintf("%02x", ord[substr(text, i, 1)])
    return out
}

function bold() { print "DefaultFontNameBold findfont 9 scalefont setfont" }
function regular() { print "DefaultFontName findfont 9 scalefont setfont" }
function move() { print "currentColumn currentRow MoveToPosition" }
function nextRow() { printf "NextRow\n\n" }
function measureComment() { print "% Calculate the boundary box (field_avail) for next printing text" }
function measure() { print "currentpoint pop % get the current x,y position, push onto stack, then pop y to discard." }

function entry(job, count,    k, subject, state, states) {
    printf "/numberOfRecipients %d def %% this should be replace with tag\n", count
    print "/rowsNeededForThisEntry 4 numberOfRecipients add def"
    printf "/sizeNeededForThisEntry rowHeight rowsNeededForThisEntry mul def\n"
    print "currentpoint % push the current x,y onto stack"
    print "/yPos exch def"
    print "/currY pageLength yPos sub def"
    printf "/currY currY sizeNeededForThisEntry add def\n\n"
    print "currY maxY gt % is currY greater than maxY ?"
    printf "\t{\n\t\t%% if this is the first page\n\t\tpageCounter 1 eq\n\t\t\t{\n\t\t\tPrintMax50Msg\n"
    printf "\t\t\t} if\n\t\tPrintFooter\n\t\tshowpage\n\n\t\t%% page break\n\t\tIncreaseCounter\n"
    printf "\t\t/currentRow 3 def\n\t\t%% recalculate the maxY for pages other than the first one\n"
    printf "\t\t/rowsUsed footerRowsUsed 1 add def\n\t\t/usedYpos rowHeight rowsUsed mul def\n"
    printf "\t\t/maxY pageLength usedYpos sub def\n\t} if\n\n"

    bold()
    print "/currentColumn LM_ind def"
    print "VERTICAL_SPACE_SEPARATOR"
    if (job > 1) print "VERTICAL_SPACE_SEPARATOR"
    move()

    bold(); print "<__ar_const_job_date__20> AR_SHOW"
    regular(); print "<" hex("06.12.2026") "> AR_SHOW"
    bold(); print "<20__ar_const_job_time__20> AR_SHOW"
    measureComment(); measure()
    print "/field_delta exch def"
    print "/field_avail job_date_col2_ind field_delta sub def"
    regular(); printf "<%s> field_avail Substring AR_SHOW\n\n", hex("14:05")
    print "/currentColumn job_date_col2_ind def"
    move()

    bold(); print "<__ar_const_completion_date__20> AR_SHOW"
    regular(); print "<" hex("06.12.2026") "> AR_SHOW"
    bold(); print "<20__ar_const_completion_time__20> AR_SHOW"
    measureComment()
    print "/field_avail 45 def"
    regular(); printf "<%s> field_avail Substring AR_SHOW\n\n", hex("14:09")
    print "/currentColumn RM_ind def"
    move()

    bold()
    printf "<%s20__ar_const_of__20", hex(count - 1)
    printf "%s20__ar_const_recipients_acknowledged__2020", hex(count)
    print "> ack_width Substring RIGHT_SHOW"
    nextRow()

    print "/currentColumn LM_ind def"
    move()
    bold(); print "<__ar_const_subject__20> AR_SHOW"
    measureComment(); measure()
    print "/field_delta exch LM_ind sub def"
    print "/field_avail subj_width field_delta sub def"
    regular()
    subject = "Subject " job
    if (job % 7 == 0)
        subject = subject ": a subject far too long for its column, as people write them when the subject" \
            " line is the only place for the whole message, so the report has to cut it at all"
    printf "<%s> field_avail Substring AR_SHOW\n\n", hex(subject)
    print "/currentColumn subj_head_col2_ind def"
    move()
    bold(); print "<__ar_const_from__20> AR_SHOW"
    regular(); print "<" hex("sender" job "@example.com") "> AR_SHOW"
    nextRow()

    print "/currentColumn LM_ind def"
    move()
    bold(); print "<__ar_const_internet_fax_job_status__20> AR_SHOW"
    measureComment(); measure()
    print "/field_delta exch LM_ind sub def"
    print "/field_avail job_status_width field_delta sub def"
    regular()
    printf "<%s20__ar_const_ifax_job_status_successful__20", hex(count - 1)
    printf "%s20__ar_const_ifax_job_status_unconfirmed__20", hex(0)
    printf "%s20__ar_const_ifax_job_status_failed__> ", hex(1)
    printf "field_avail Substring AR_SHOW\n\n"
    print "/currentColumn subj_head_col2_ind def"
    move()
    bold(); print "<__ar_const_pages_scanned__20> AR_SHOW"
    regular(); print "<" hex(job % 12 + 1) "> AR_SHOW"
    bold(); print "<202020__ar_const_attachment_size__20> AR_SHOW"
    regular(); print "<" hex(job * 1031) "> AR_SHOW"
    nextRow()

    print "/currentColumn name_info_col1_ind def"
    move()
    regular()
    printf "<__ar_const_friendly_name__> fname_width Substring UNDERLINE_SHOW\n\n"
    print "/currentColumn name_info_col2_ind def"
    move()
    printf "<__ar_const_email_address__> email_width Substring UNDERLINE_SHOW\n\n"
    print "/currentColumn name_info_col3_ind def"
    move()
    printf "<__ar_const_process_state__> pstate_width Substring UNDERLINE_SHOW\n\n"
    print "/currentColumn name_info_col4_ind def"
    move()
    print "<__ar_const_status_date_time__> UNDERLINE_SHOW"
    nextRow()

    print "% Print recipients info"
    printf "DefaultFontName findfont DefaultFontSize scalefont setfont\n\n"
    split("processState_Sent processState_Delivered processState_Processed processState_Error processState_Failed processState_Rejected", states, " ")
    for (k = 1; k <= count; k++) {
        print "/currentColumn name_info_col1_ind def"
        move()
        printf "<%s20%s> fname_width Substring AR_SHOW\n", (k % 3 == 0 ? "__ar_const_cc__" : "__ar_const_to__"), hex("Name " job "-" k)
        print "/currentColumn name_info_col2_ind def"
        move()
        print "<" hex("user" job "." k "@example.com") "> email_width Substring AR_SHOW"
        print "/currentColumn name_info_col3_ind def"
        move()
        state = (job + k) % 7
        if (state < 6) print "<" states[state + 1] "> pstate_width Substring AR_SHOW"
        else print "<" hex("---") "> AR_SHOW"
        print "/currentColumn name_info_col4_ind def"
        move()
        printf "<%s202020", hex("06.12.2026")
        print hex("14:" sprintf("%02d", k)) "> AR_SHOW"
        nextRow()
    }
}

BEGIN {
    for (i = 32; i < 127; i++) ord[sprintf("%c", i)] = i
    if (jobs == "") jobs = 10
    if (recipients == "") recipients = 5
    for (job = 1; job <= jobs; job++) entry(job, recipients)
}
