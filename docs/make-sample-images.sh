#!/usr/bin/env bash
# Prints the report of the sample jobs in English, Russian, Japanese, Simplified and Traditional
# Chinese, Korean and Turkish with the built host program and keeps page 1 of each as
# docs/sample-report-<language>.png.
# Usage: docs/make-sample-images.sh [BUILD_DIR]   (default: build)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
work=$(mktemp -d /tmp/activity-report-docs-XXXXXX)
trap 'rm -rf "$work"' EXIT

sqlite3 "$work/jobs.db" < "$repo/examples/jobs.sql"
export JTAPI_DATABASE=$work/jobs.db DEVICE_CONFIG=$repo/examples/device.conf
export PRINT_SPOOL_DIR=$work/spool TEMP_FILES_DIR=$work/tmp DEVICE_LOG=$work/device.log
export SYSTEM_CHARSET=UTF-8 # the sample data is UTF-8
unset ACTIVITY_REPORT_TEMPLATE TRANS_CATALOG_DIR PRINT_QUEUE

print() { # language media-type media-colour
  "$build/bin/activity-report" --language "$1" --media-type "$2" --media-color "$3" \
    --png "$work/png-$1" >/dev/null
  cp "$work/png-$1/page-1.png" "$repo/docs/sample-report-$1.png"
  echo "docs/sample-report-$1.png"
}
print en Plain White
print ru "Обычная" "Белая"
print ja "普通紙" "白"
print zh_CN "普通纸" "白色"
print zh_TW "普通紙" "白色"
print ko "일반 용지" "흰색"
print tr "Düz" "Beyaz"
