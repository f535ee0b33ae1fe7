#!/usr/bin/env bash
# Prints a report of generated jobs (2,000 unless told) through one template on one paper size
# and checks every page of it:
#   - Ghostscript runs it without a PostScript error, and the operand stack is empty at the end
#     (every job entry leaves a number there for the template to take back);
#   - every page carries the heading with the report title and its own page number, and ends
#     with the two footer lines, with nothing printed below or beside them;
#   - the first page carries the legend and the note on the recipient limit, no other page does;
#   - every job appears once, with its subject and all its recipients on one page;
#   - a subject too long for its column is cut with an ellipsis.
#
#   check-long-report.sh TEMPLATE CATALOGUE.po PAPER WORK_DIR [JOBS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
template=$1 catalogue=$2 paper=$3 work=$4 jobs=${5:-2000}

rm -rf "$work"
mkdir -p "$work/pages"

text() { # string id -> the catalogue's text, in UTF-8
  msgen "$catalogue" | msgexec -i - sh -c \
    '[ "$MSGEXEC_MSGCTXT" = "$0" ] && cat; cat >/dev/null; true' "$1"
}

grep -qx '__GENERATE_BODY_HERE__' "$template" ||
  { echo "FAIL: $template has no marker line of its own" >&2; exit 1; }
{
  sed '/^__GENERATE_BODY_HERE__$/,$d' "$template"
  awk -v jobs="$jobs" -v recipients=5 -f "$here/job-entries.awk"
  sed '1,/^__GENERATE_BODY_HERE__$/d' "$template"
  echo 'count 0 ne { (operand stack not empty at the end of the report:) = pstack stack_not_empty } if'
} | "$here/fill-tags.sh" "$catalogue" > "$work/report.ps"

if grep -q '__\|processState_' "$work/report.ps"; then
  echo "FAIL: tags left in the report: $(grep -o '[a-zA-Z_]*__[a-z_]*__\|processState_[A-Za-z]*' "$work/report.ps" | sort -u | head -5)" >&2
  exit 1
fi

gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=txtwrite -sPAPERSIZE="$paper" -dFIXEDMEDIA \
  -sOutputFile="$work/pages/page-%05d.txt" "$work/report.ps" > "$work/gs.log" 2>&1 ||
  { echo "FAIL: Ghostscript stopped on the report:" >&2; tail -20 "$work/gs.log" >&2; exit 1; }

awk -v jobs="$jobs" -v recipients=5 \
    -v title="$(text 20201)" -v pageLabel="$(text 20205)" -v year="$(text 42002)" \
    -v footer="$(text 42001)" -v note="$(text 20226)" -v legend="$(text 20227)" '
  function fail(message) { print "FAIL: page " page ": " message > "/dev/stderr"; failures++ }
  function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t\r]+$/, "", s); return s }
  function endPage(    n) {
    if (page == 0) return
    if (!sawTitle) fail("no report title")
    if (!sawNumber) fail("no \"" pageLabel " " page "\" in the heading")
    n = count
    if (n < 2 || last[n] != footer) fail("the last line is not the footer: \"" last[n] "\"")
    else if (index(last[n - 1], year) == 0) fail("the line above the last is not the copyright line: \"" last[n - 1] "\"")
    if (page == 1 && !sawLegend) fail("no legend on the first page")
    if ((page == 1) != sawNote) fail(page == 1 ? "no note on the recipient limit" : "the note on the recipient limit is not only on the first page")
  }
  FNR == 1 {
    endPage()
    page++; count = 0; sawTitle = sawNumber = sawLegend = sawNote = 0
  }
  {
    line = trim($0)
    if (line == "") next
    last[++count] = line
    if (count <= 2 && index(line, title)) sawTitle = 1
    if (count <= 2 && line ~ (pageLabel " " page "$")) sawNumber = 1
    if (index(line, legend)) sawLegend = 1
    if (index(line, note)) sawNote = 1
    rest = line
    while (match(rest, /Subject [0-9]+/)) {
      job = substr(rest, RSTART + 8, RLENGTH - 8) + 0
      if (job in subjectPage) fail("job " job " appears twice")
      subjectPage[job] = page
      if (job % 7 == 0) {
        if (index(rest, "at all")) fail("the long subject of job " job " is not cut")
        else if (!index(rest, "\342\200\246")) fail("the long subject of job " job " has no ellipsis")
      }
      rest = substr(rest, RSTART + RLENGTH)
    }
    rest = line
    while (match(rest, /Name [0-9]+-[0-9]+/)) {
      split(substr(rest, RSTART + 5, RLENGTH - 5), id, "-")
      namePage[id[1] + 0, id[2] + 0] = page
      rest = substr(rest, RSTART + RLENGTH)
    }
  }
  END {
    endPage()
    pages = page
    page = "-"
    for (job = 1; job <= jobs; job++) {
      if (!(job in subjectPage)) { fail("job " job " is missing"); continue }
      for (k = 1; k <= recipients; k++)
        if (namePage[job, k] != subjectPage[job])
          fail("job " job " is split: subject on page " subjectPage[job] ", recipient " k " on page " namePage[job, k])
    }
    if (failures) exit 1
    printf "%d jobs on %d pages checked\n", jobs, pages
  }
' "$work"/pages/page-*.txt
