#!/usr/bin/env bash
# Prints the report of the sample jobs end to end, as make demo does but in a private directory,
# and checks what reached the print spool: every tag replaced, PostScript that Ghostscript runs
# without an error, and the subjects and recipients of the sample jobs on the printed pages.
# Usage: end_to_end.sh ACTIVITY_REPORT_PROGRAM REPO_DIR
set -uo pipefail

host=$1
repo=$2
work=$(mktemp -d /tmp/activity-report-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

sqlite3 "$work/jobs.db" < "$repo/examples/jobs.sql" || { echo "FAIL: sample database" >&2; exit 1; }

env -u ACTIVITY_REPORT_TEMPLATE -u TRANS_CATALOG_DIR -u PRINT_QUEUE \
  JTAPI_DATABASE="$work/jobs.db" DEVICE_CONFIG="$repo/examples/device.conf" \
  PRINT_SPOOL_DIR="$work/spool" TEMP_FILES_DIR="$work/tmp" SYSTEM_CHARSET=UTF-8 \
  DEVICE_LOG="$work/device.log" \
  "$host" --language en --media-type Plain --media-color White \
  --pdf "$work/report.pdf" --png "$work/png"
status=$?
if [ "$status" -ne 0 ]; then
  echo "FAIL: activity-report exited with $status; its log:" >&2
  cat "$work/device.log" >&2
  exit 1
fi

document=$(ls -d "$work"/spool/[0-9][0-9][0-9][0-9][0-9][0-9] 2>/dev/null | tail -n 1)/document.ps
[ -f "$document" ] || { echo "FAIL: no document in the spool" >&2; exit 1; }
[ -s "$work/report.pdf" ] || fail "no PDF rendered"
[ -s "$work/png/page-1.png" ] || fail "no page image rendered"

# Every tag the finishing pass replaces must be gone.
for tag in __ar_const_ processState_ __media_ __system_hex_ __device_hex_name__; do
  if grep -q -F -- "$tag" "$document"; then
    fail "tag $tag left in the report: $(grep -m 1 -o -F -- "$tag[a-z_]*" "$document")"
  fi
done

# The device's interpreter stops a job at the first PostScript error, so must Ghostscript here.
gs_output=$(gs -dSAFER -dBATCH -dNOPAUSE -sDEVICE=nullpage "$document" 2>&1)
gs_status=$?
if [ "$gs_status" -ne 0 ] || grep -q "Error:" <<<"$gs_output"; then
  fail "Ghostscript reports an error (exit $gs_status): $(grep -m 3 "Error" <<<"$gs_output")"
fi

# The pages carry the jobs: subjects and recipients' friendly names of the sample data. Text is
# extracted from the pages; blanks are squeezed since layout may widen them.
text=$(gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=txtwrite -sOutputFile=- "$document" 2>&1 |
  tr -s ' ')
expected=(
  "Test page - scan profile 200 dpi"
  "Meeting minutes 14 March - site coordination"
  "Planos revisados planta 3 (rev. C)"
  "Käthe Brückner"
  "Élodie Marchand"
  "François Lefèvre"
  "Hélène Crépin"
  "Begoña Ibáñez"
  "Anaïs Thérond"
  "Warenannahme Fliesen Rösch"
)
for phrase in "${expected[@]}"; do
  grep -q -F -- "$phrase" <<<"$text" || fail "\"$phrase\" not on the printed pages"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; text of the report:" >&2
  head -n 60 <<<"$text" >&2
  exit 1
fi
echo "end-to-end report: all checks passed"
