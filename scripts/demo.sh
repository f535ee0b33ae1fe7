#!/usr/bin/env bash
# Prints a sample Internet Fax Activity Report: builds the sample job database, runs the host
# program as the device would, and renders the spooled report as PDF and PNG into out/.
# Usage: scripts/demo.sh BUILD_DIR [LANGUAGE]   (make demo [LANGUAGE=ja] calls it after the build)
# LANGUAGE is a catalogue of catalog/ (default en).
set -euo pipefail

fail() {
  echo "demo: $*" >&2
  exit 1
}

[ $# -eq 1 ] || [ $# -eq 2 ] || fail "usage: $0 BUILD_DIR [LANGUAGE]"
language=${2:-en}
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" 2>/dev/null && pwd) || fail "build directory $1 not found"
program=$build/bin/activity-report
out=$repo/out

[ -x "$program" ] || fail "$program not built; run make build"
[ -f "$repo/examples/jobs.sql" ] || fail "examples/jobs.sql is missing"
command -v sqlite3 >/dev/null || fail "sqlite3 not found; run scripts/install-deps.sh"

# Every run starts from fresh sample data and an empty spool, so the report shows this run only.
rm -rf "$out/demo" "$out/spool" "$out/tmp" "$out/png" "$out/activity-report.pdf" \
  "$out/activity-report.log"
mkdir -p "$out/demo"
sqlite3 "$out/demo/jobs.db" < "$repo/examples/jobs.sql" || fail "cannot build the sample database"

export JTAPI_DATABASE=$out/demo/jobs.db
export DEVICE_CONFIG=$repo/examples/device.conf
export PRINT_SPOOL_DIR=$out/spool
export TEMP_FILES_DIR=$out/tmp
export SYSTEM_CHARSET=UTF-8 # the sample data is UTF-8
export DEVICE_LOG=$out/activity-report.log
# The catalogue and the templates the build installed, whatever the calling shell has set.
unset TRANS_CATALOG_DIR ACTIVITY_REPORT_TEMPLATE

status=0
"$program" --language "$language" --media-type Plain --media-color White \
  --pdf "$out/activity-report.pdf" --png "$out/png" || status=$?
if [ "$status" -ne 0 ]; then
  fail "activity-report failed with status $status; see $DEVICE_LOG"
fi

echo
echo "PDF:    $out/activity-report.pdf"
echo "Page 1: $out/png/page-1.png"
echo "Log:    $DEVICE_LOG"
