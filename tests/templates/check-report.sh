#!/usr/bin/env bash
# Prints a report end to end as the device does (host program, real plug-in, services, catalogue,
# templates) on the sample jobs or on JOBS generated jobs of five recipients (every seventh subject
# too long for its column), and checks the spooled PostScript page by page.
#   check-report.sh ACTIVITY_REPORT_PROGRAM REPO_DIR LANGUAGE PAPER WORK_DIR [JOBS]
set -uo pipefail
source "$(dirname "$0")/common.sh"
host=$1 repo=$2 language=$3 paper=$4 work=$5 jobs=${6:-}
catalogue=$repo/catalog/$language.po
encoding=$(encoding_of "$catalogue")
rm -rf "$work" && mkdir -p "$work/pages"

sqlite3 "$work/jobs.db" < "$repo/examples/jobs.sql" || { echo "FAIL: sample database" >&2; exit 1; }
[ -z "$jobs" ] || sqlite3 "$work/jobs.db" "DELETE FROM addresses; DELETE FROM jobs;
  WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $jobs)
  INSERT INTO jobs SELECT i, '2026-12-06 14:05:00', '2026-12-06 14:09:00', 5, 4, 0, 1, i % 12 + 1, i * 1031,
    'Subject ' || i || CASE WHEN i % 7 THEN '' ELSE ': a subject far too long for its column, as people write'
      || ' them when the subject line is the only place for the whole message, so the report has to cut it at all'
      END, 'sender' || i || '@example.com' FROM n;
  WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 5)
  INSERT INTO addresses SELECT id, k, k % 3 = 0, (id + k) % 7, '2026-12-06 14:1' || k || ':00',
    'Name ' || id || '-' || k, 'user' || id || '.' || k || '@example.com' FROM jobs, n;"
[ "$paper" = a4 ] && region=2 medium=ISO_A4 || region=1 medium=NA_LETTER # the market region sets the paper
sed "s/^market.region = .*/market.region = $region/" "$repo/examples/device.conf" > "$work/device.conf"
env -u ACTIVITY_REPORT_TEMPLATE -u TRANS_CATALOG_DIR -u PRINT_QUEUE JTAPI_DATABASE="$work/jobs.db" \
  DEVICE_CONFIG="$work/device.conf" PRINT_SPOOL_DIR="$work/spool" TEMP_FILES_DIR="$work/tmp" SYSTEM_CHARSET=UTF-8 \
  DEVICE_LOG="$work/device.log" "$host" --language "$language" --media-type Plain --media-color White \
  > "$work/host.out" 2>&1 ||
  { echo "FAIL: activity-report exited with $?:" >&2; cat "$work/host.out" >&2; tail -n 20 "$work/device.log" >&2; exit 1; }
grep -q "activityReport-$encoding.ps" "$work/host.out" ||
  fail "the report was not printed with the template of $encoding: $(head -n 1 "$work/host.out")"
job=$(ls -d "$work"/spool/[0-9]*/ | tail -n 1)
grep -q "default-medium=\"$medium\"" "$job/ticket" ||
  fail "not on $paper paper: $(grep default-medium "$job/ticket")"
left=$(grep -oE '__[a-z_]+__|processState_[A-Za-z]+' "$job/document.ps" | sort -u | head -n 5 | tr '\n' ' ')
[ -z "$left" ] || { echo "FAIL: tags left in the report: $left" >&2; exit 1; }
# Every job entry leaves a number on the operand stack for the template to take back.
{ cat "$job/document.ps"; echo 'count 0 ne { (operand stack not empty:) = pstack stack_not_empty } if'; } >"$work/report.ps"
to_text "$work/report.ps" "$work/pages/page-%05d.txt" "$paper"

awk -v jobs="$jobs" -v paper="$paper" \
    -v title="$(text_of "$catalogue" 20201)" -v pageLabel="$(text_of "$catalogue" 20205)" \
    -v year="$(text_of "$catalogue" 42002)" -v footer="$(text_of "$catalogue" 42001)" \
    -v note="$(text_of "$catalogue" 20226)" -v legend="$(text_of "$catalogue" 20227)" '
  function fail(message) { print "FAIL: page " page ": " message > "/dev/stderr"; failures++ }
  function endPage() {
    if (!sawTitle) fail("no report title")
    if (!sawNumber) fail("no \"" pageLabel " " page "\" in the heading")
    if (last[n] != footer) fail("the last line is not the footer: \"" last[n] "\"")
    else if (!index(last[n - 1], year)) fail("the line above the last is not the copyright line: \"" last[n - 1] "\"")
    if (page == 1 && !sawLegend) fail("no legend on the first page")
    if ((page == 1) != sawNote) fail(page == 1 ? "no note on the recipient limit" : "the note on the recipient limit is not only on the first page")
  }
  FNR == 1 { if (page) endPage(); page++; n = sawTitle = sawNumber = sawLegend = sawNote = 0 }
  {
    sub(/^[ \t]+/, ""); sub(/[ \t\r]+$/, "")
    if ($0 == "") next
    last[++n] = $0
    if (n <= 2 && index($0, title)) sawTitle = 1
    if (n <= 2 && $0 ~ (pageLabel " " page "$")) sawNumber = 1
    if (index($0, legend)) sawLegend = 1
    if (index($0, note)) sawNote = 1
    if (jobs != "" && match($0, /Subject [0-9]+/)) {
      job = substr($0, RSTART + 8, RLENGTH - 8) + 0
      if (job in subjectPage) fail("job " job " appears twice")
      subjectPage[job] = page
      if (job % 7 == 0 && index($0, "at all")) fail("the long subject of job " job " is not cut")
      else if (job % 7 == 0 && !index($0, "\342\200\246")) fail("the long subject of job " job " has no ellipsis")
    }
    if (jobs != "" && match($0, /Name [0-9]+-[0-9]+/)) {
      split(substr($0, RSTART + 5, RLENGTH - 5), id, "-")
      namePage[id[1] + 0, id[2] + 0] = page
    }
  }
  END {
    endPage()
    pages = page
    page = "-"
    for (job = 1; job <= jobs; job++)
      for (k = 1; k <= 5; k++)
        if (!(job in subjectPage) || namePage[job, k] != subjectPage[job])
          fail("job " job " is split or missing: subject on page " subjectPage[job] ", recipient " k " on page " namePage[job, k])
    if (failures) exit 1
    printf "%s jobs on %d pages of %s checked\n", jobs == "" ? "sample" : jobs, pages, paper
  }
' "$work"/pages/page-*.txt || failures=$((failures + 1))
[ -n "$jobs" ] && exit $((failures > 0))

# Sample jobs: 44 characters, as a column may cut a longer text.
printed=$(cat "$work"/pages/page-*.txt | tr -s ' \r' ' ')
export LC_ALL=C.UTF-8
while IFS=$'\t' read -r what text; do
  shown=$(printf '%s' "$text" | iconv -f UTF-8 -t "$encoding//TRANSLIT" | iconv -f "$encoding" -t UTF-8 | tr -s ' ')
  grep -qF -- "${shown:0:44}" <<<"$printed" || fail "$what not on the printed pages: \"${shown:0:44}\""
done < <(sqlite3 -separator $'\t' "$work/jobs.db" \
  "SELECT 'subject of job ' || id, subject FROM jobs WHERE subject <> '';
   SELECT 'sender of job ' || id, sender FROM jobs WHERE sender <> '';
   SELECT 'recipient ' || position || ' of job ' || job_id, friendly_name FROM addresses
     WHERE position <= 5 AND friendly_name <> '';")
[ $failures -eq 0 ] && echo "sample texts found in the report in $language"
exit $((failures > 0))
