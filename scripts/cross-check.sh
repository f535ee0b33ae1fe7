#!/usr/bin/env bash
# Checks that a plug-in built elsewhere prints the sample jobs byte for byte as the native one
# does: one cross-built, or one built alone against a device SDK (scripts/sdk-rehearsal.sh). The
# host program of each tree (a cross-built one through the emulator) prints examples/jobs.sql in
# French, in the same environment, and the spooled documents are compared. The run's date and time
# are the only texts that may differ, so their lines are taken out of each tree's template first.
# The other tree is a build tree or an install tree: bin/activity-report, its data in share/.
#   cross-check.sh NATIVE_BUILD OTHER_TREE [EMULATOR [EMULATOR_ARGS...]]
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 NATIVE_BUILD OTHER_TREE [EMULATOR [ARGS...]]" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/.." && pwd)
native=$(cd "$1" && pwd) cross=$(cd "$2" && pwd)
shift 2
work=$cross/cross-check
rm -rf "$work" && mkdir -p "$work"
sqlite3 "$work/jobs.db" < "$repo/examples/jobs.sql"

report() { # NAME BUILD [EMULATOR...]
  local name=$1 build=$2 template
  shift 2
  template=$work/$name-template.ps
  grep -v '__system_hex_date__\|__system_hex_time__' \
    "$build/share/activity-report/templates/activityReport-ISO-8859-15.ps" > "$template"
  env -u TRANS_CATALOG_DIR -u PRINT_QUEUE TZ=CET-1CEST,M3.5.0,M10.5.0/3 LC_ALL=C \
    JTAPI_DATABASE="$work/jobs.db" DEVICE_CONFIG="$repo/examples/device.conf" SYSTEM_CHARSET=UTF-8 \
    ACTIVITY_REPORT_TEMPLATE="$template" PRINT_SPOOL_DIR="$work/$name-spool" TEMP_FILES_DIR="$work/$name-tmp" \
    DEVICE_LOG="$work/$name.log" "$@" "$build/bin/activity-report" --language fr --media-type Plain \
    --media-color White > "$work/$name.out" 2>&1 ||
    { echo "FAIL: the $name program exited with $?:" >&2; cat "$work/$name.out" >&2; exit 1; }
}
report native "$native"
report cross "$cross" "$@"
for file in document.ps ticket; do
  cmp "$work"/native-spool/000001/$file "$work"/cross-spool/000001/$file
done
bytes=$(wc -c < "$work/cross-spool/000001/document.ps")
echo "the plug-in of $cross prints the sample jobs as the native one: $bytes bytes"
