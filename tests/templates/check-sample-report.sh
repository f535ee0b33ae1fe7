#!/usr/bin/env bash
# Prints the report of the sample jobs in one language with the host program, the real plug-in,
# the build's catalogue and templates, and checks the printed text: the translated title, and
# for every sample job its subject, its sender and the names of its first five recipients, each
# as the printer encoding of the language can show it.
#
#   check-sample-report.sh ACTIVITY_REPORT_PROGRAM REPO_DIR LANGUAGE WORK_DIR
set -uo pipefail
host=$1 repo=$2 language=$3 work=$4
catalogue=$repo/catalog/$language.po
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

encoding=$(sed -n 's/^"X-Printer-Encoding: *\([^\\]*\)\\n"$/\1/p' "$catalogue")
[ -n "$encoding" ] || { echo "FAIL: $catalogue names no printer encoding" >&2; exit 1; }
sqlite3 "$work/jobs.db" < "$repo/examples/jobs.sql" || { echo "FAIL: sample database" >&2; exit 1; }

env -u ACTIVITY_REPORT_TEMPLATE -u TRANS_CATALOG_DIR -u PRINT_QUEUE \
  JTAPI_DATABASE="$work/jobs.db" DEVICE_CONFIG="$repo/examples/device.conf" \
  PRINT_SPOOL_DIR="$work/spool" TEMP_FILES_DIR="$work/tmp" SYSTEM_CHARSET=UTF-8 \
  DEVICE_LOG="$work/device.log" \
  "$host" --language "$language" > "$work/host.out" 2>&1
status=$?
if [ $status -ne 0 ]; then
  echo "FAIL: activity-report exited with $status:" >&2
  cat "$work/host.out" >&2
  tail -n 20 "$work/device.log" >&2
  exit 1
fi
grep -q "activityReport-$encoding.ps" "$work/host.out" ||
  fail "the report was not printed with the template of $encoding: $(head -n 1 "$work/host.out")"

job=$(ls -d "$work"/spool/[0-9]*/ | tail -n 1)
paper=letter
grep -q 'default-medium="ISO_A4"' "$job/ticket" && paper=a4
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=txtwrite -sPAPERSIZE=$paper -dFIXEDMEDIA \
  -sOutputFile="$work/report.txt" "$job/document.ps" > "$work/gs.log" 2>&1 ||
  { echo "FAIL: Ghostscript stopped on the report:" >&2; tail "$work/gs.log" >&2; exit 1; }

# The characters the printer encoding has; others print as whatever the conversion makes of
# them ("?" or a transliteration), so a text is looked for by its longest run of these.
for byte in $(seq 32 126) $(seq 160 255); do
  printf "\\x$(printf %02x "$byte")" | iconv -f "$encoding" -t UTF-8 2>/dev/null && echo
done > "$work/repertoire"

{
  printf 'title\t'
  msgen "$catalogue" | msgexec -i - sh -c '[ "$MSGEXEC_MSGCTXT" = 20201 ] && cat; cat >/dev/null; true'
  echo
  sqlite3 -separator $'\t' "$work/jobs.db" \
    "SELECT 'subject of job ' || id, subject FROM jobs WHERE subject <> '';
     SELECT 'sender of job ' || id, sender FROM jobs WHERE sender <> '';
     SELECT 'recipient ' || position || ' of job ' || job_id, friendly_name FROM addresses
       WHERE position <= 5 AND friendly_name <> '';"
} > "$work/expected"

LC_ALL=C awk -F '\t' -v language="$language" -v repertoire="$work/repertoire" -v text="$work/report.txt" '
  BEGIN {
    while ((getline c < repertoire) > 0) shown[c] = 1
    while ((getline line < text) > 0) { gsub(/[ \r]+/, " ", line); printed = printed "\n" line }
  }
  {
    # Split the UTF-8 text into characters; columns may cut it, so the first 24 count.
    n = 0; s = $2
    while (length(s) > 0 && n < 24) {
      k = 1
      while (k < length(s) && substr(s, k + 1, 1) ~ /[\200-\277]/) k++
      ch[++n] = substr(s, 1, k); s = substr(s, k + 1)
    }
    best = ""; run = ""
    for (i = 1; i <= n; i++) {
      if (ch[i] in shown) run = run ch[i]
      else { if (length(run) > length(best)) best = run; run = "" }
    }
    if (length(run) > length(best)) best = run
    gsub(/ +/, " ", best)
    if (length(best) < 3 && n >= 3) { print "FAIL: " $1 " has too few printable characters: " $2 > "/dev/stderr"; bad++ }
    else if (!index(printed, best)) { print "FAIL: " $1 " not on the printed pages: \"" best "\" of \"" $2 "\"" > "/dev/stderr"; bad++ }
    checked++
  }
  END { if (bad) exit 1; print checked " texts found in the report in " language }
' "$work/expected" || failures=$((failures + 1))

[ $failures -eq 0 ] || { echo "text of the report: $work/report.txt" >&2; exit 1; }
