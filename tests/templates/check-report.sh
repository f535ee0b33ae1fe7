#!/usr/bin/env bash
# Prints a report as the device does (host program, real plug-in, services, catalogue, templates) on the sample
# jobs or on JOBS jobs of five recipients (every seventh subject too long for its column), and checks it page by page.
#   check-report.sh ACTIVITY_REPORT_PROGRAM REPO_DIR LANGUAGE PAPER WORK_DIR [JOBS]
set -uo pipefail
source "$(dirname "$0")/common.sh"
host=$1 repo=$2 language=$3 paper=$4 work=$5 jobs=${6:-}
catalogue=$repo/catalog/$language.po encoding=$(encoding_of "$repo/catalog/$language.po")
texts=$(texts_of "$catalogue" | as_printed)
text() { awk -F '\t' -v id="$1" '$1 == id { print $2 }' <<<"$texts"; }
rm -rf "$work" && mkdir -p "$work/pages"

sqlite3 "$work/jobs.db" < "$repo/examples/jobs.sql" || exit 1
[ -z "$jobs" ] || sqlite3 "$work/jobs.db" ".parameter set :jobs $jobs" ".read $here/long-report-jobs.sql" || exit 1
# Sample runs print every character of the encoding too (not the invisible no-break space and soft hyphen,
# nor the ypogegrammeni of ISO-8859-7, which the fonts lack), 16 a subject. In a multi-byte encoding the
# same bytes make its one-byte characters and the two-byte ones of neighbouring bytes (not those of its
# user-defined area, which no printer font holds), and a subject in its script follows.
[ -n "$jobs" ] || { printf "$(printf '\\x%x' {33..126} {161..255})" | iconv -c -f "$encoding" -t UTF-8 |
  perl -CSD -pe "s/[\x{A0}\x{AD}\x{37A}\x{E000}-\x{F8FF}]//g; s/'/''/g" | LC_ALL=C.UTF-8 grep -oE '.{1,16}'
  script_subject "$encoding"; } |
  awk "{ printf \"INSERT INTO jobs (id, subject) VALUES (%d, '%s');\\n\", 100 + NR, \$0 }" | sqlite3 "$work/jobs.db"
[ "$paper" = a4 ] && region=2 medium=ISO_A4 || region=1 medium=NA_LETTER # the market region sets the paper
sed "s/^market.region = .*/market.region = $region/" "$repo/examples/device.conf" > "$work/device.conf"
env -u ACTIVITY_REPORT_TEMPLATE -u TRANS_CATALOG_DIR -u PRINT_QUEUE JTAPI_DATABASE="$work/jobs.db" \
  DEVICE_CONFIG="$work/device.conf" PRINT_SPOOL_DIR="$work/spool" TEMP_FILES_DIR="$work/tmp" SYSTEM_CHARSET=UTF-8 \
  DEVICE_LOG="$work/device.log" ${ARL_EMULATOR:-} "$host" --language "$language" --media-type Plain --media-color White > "$work/host.out" 2>&1 ||
  { echo "FAIL: activity-report exited with $?:" >&2; cat "$work/host.out" >&2; tail -n 20 "$work/device.log" >&2; exit 1; }
job=$(ls -d "$work"/spool/[0-9]*/ | tail -n 1)
grep -q "default-medium=\"$medium\"" "$job/ticket" || fail "not on $paper paper: $(grep default-medium "$job/ticket")"
! grep -qE "$tag_pattern" "$job/document.ps" || { echo "FAIL: tags left in the report" >&2; exit 1; }
# Every job entry leaves a number on the operand stack for the template to take back.
{ cat "$job/document.ps"; echo 'count 0 ne { (operand stack not empty:) = pstack stack_not_empty } if'; } >"$work/report.ps"
to_pdf "$work/report.ps" "$work/report.pdf" "$paper"
pdf_pages "$work/report.pdf" "$work/pages"

# The date in the heading is the stream editor's, in the device's format (%d.%m.%Y).
awk -v jobs="$jobs" -v paper="$paper" -v today="$(date +%d.%m.%Y)" \
    -v title="$(text 20201)" -v label="$(text 20205)" -v year="$(text 42002)" -v footer="$(text 42001)" \
    -v note="$(text 20226)" -v legend="$(text 20227)" '
  function check(ok, message) { if (!ok) { print "FAIL: page " page ": " message > "/dev/stderr"; failures++ } }
  function endPage() {
    check(index(head, title) && head ~ (label " " page "\n") && index(head, today), "no title, \"" label " " page "\" or date on top")
    check(last[n] == footer && index(last[n - 1], year), "not the copyright and footer lines at the end")
    check((page == 1) == (notes > 0) && (page > 1 || legends), "legend and note not on the first page only")
  }
  FNR == 1 { if (page) endPage(); page++; n = notes = legends = 0; head = "" }
  {
    sub(/^[ \t]+/, ""); sub(/[ \t\r]+$/, ""); if ($0 == "") next
    last[++n] = $0; if (n <= 3) head = head $0 "\n"
    legends += index($0, legend) > 0; notes += index($0, note) > 0
    if (jobs != "" && match($0, /Subject [0-9]+/)) {
      job = substr($0, RSTART + 8, RLENGTH - 8) + 0
      check(!(job in subjectPage), "job " job " appears twice"); subjectPage[job] = page
      if (job % 7 == 0) check(!index($0, "at all") && index($0, "\342\200\246"), "the long subject of job " job " not cut with an ellipsis")
    }
    if (jobs != "" && match($0, /Name [0-9]+-[0-9]+/)) { split(substr($0, RSTART + 5, RLENGTH - 5), id, "-"); namePage[id[1] + 0, id[2] + 0] = page }
  }
  END {
    endPage(); pages = page; page = "-"
    for (job = 1; job <= jobs; job++) for (k = 1; k <= 5; k++) check(job in subjectPage && namePage[job, k] == subjectPage[job], "job " job " is split or missing")
    if (!failures) printf "%s jobs on %d pages of %s checked\n", jobs == "" ? "sample" : jobs, pages, paper; exit failures > 0
  }
' "$work"/pages/page-*.txt || failures=$((failures + 1))
[ -n "$jobs" ] && exit $((failures > 0))

# Sample jobs: 44 characters, as a column may cut a longer text (20 where most are twice as wide),
# each as the converter leaves it in the printer encoding.
length=44 && [ -z "$(script_subject "$encoding")" ] || length=20
sqlite3 -separator $'\t' "$work/jobs.db" "SELECT 'subject of job ' || id, subject FROM jobs WHERE subject <> '';
  SELECT 'sender of job ' || id, sender FROM jobs WHERE sender <> '';
  SELECT 'recipient ' || position || ' of job ' || job_id, friendly_name FROM addresses
    WHERE position <= 5 AND friendly_name <> '';" > "$work/texts"
cut -f 2 "$work/texts" | iconv -f UTF-8 -t "$encoding//TRANSLIT" | iconv -f "$encoding" -t UTF-8 |
  as_printed | paste <(cut -f 1 "$work/texts") - > "$work/shown"
missing=$(cat "$work"/pages/page-*.txt | perl -CSD -e '
  my ($length, $shown) = @ARGV; local $/; my $printed = <STDIN> =~ s/[ \r]+/ /gr;
  open my $texts, "<:encoding(UTF-8)", $shown or die; local $/ = "\n";
  while (<$texts>) { chomp; my ($what, $text) = split /\t/;
    $text = substr($text =~ s/ +/ /gr, 0, $length);
    print "$what not on the printed pages: \"$text\"\n" if index($printed, $text) < 0 }' "$length" "$work/shown")
[ -z "$missing" ] || { printf 'FAIL: %s\n' "$missing" >&2; failures=$((failures + 1)); }
[ $failures -eq 0 ] && echo "sample texts found in the report in $language"
exit $((failures > 0))
