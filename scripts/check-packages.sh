#!/usr/bin/env bash
# Checks the Debian packages as a device integrator gets them: unpacks every package into a scratch
# root (an install tree moved away from /usr), prints the French report of the sample jobs with the
# unpacked host program, which finds its plug-in, templates and catalogue relative to itself and
# the stand-ins through RUNPATHs only, and looks for a title and a job in the PDF. No installed
# binary may name a path of the tree it was built from.
# Usage: scripts/check-packages.sh PACKAGE_DIR   (CI runs it after make package)
set -euo pipefail

fail() {
  echo "check-packages: $*" >&2
  exit 1
}

[ $# -eq 1 ] || fail "usage: $0 PACKAGE_DIR"
repo=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
packages=("$1"/*.deb)
[ ${#packages[@]} -eq 4 ] || fail "expected the 4 packages in $1, found ${#packages[@]}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

root=$work/root
for package in "${packages[@]}"; do
  dpkg -x "$package" "$root" || fail "cannot unpack $package"
done
binaries=$(find "$root" -type f \( -name '*.so*' -o -path '*/bin/*' \))
if leaks=$(grep -l -F -e "$repo" $binaries); then
  fail "binaries name the build machine's tree: $leaks"
fi
"$root/usr/bin/activity-report" --version | grep -q '^activity-report [0-9]' ||
  fail "activity-report --version prints no version"
sqlite3 "$work/jobs.db" < "$repo/examples/jobs.sql" || fail "cannot build the sample database"

status=0
env -i PATH="$PATH" JTAPI_DATABASE="$work/jobs.db" DEVICE_CONFIG="$repo/examples/device.conf" \
  PRINT_SPOOL_DIR="$work/spool" TEMP_FILES_DIR="$work/tmp" SYSTEM_CHARSET=UTF-8 \
  DEVICE_LOG="$work/activity-report.log" \
  "$root/usr/bin/activity-report" --language fr --pdf "$work/report.pdf" || status=$?
[ "$status" -eq 0 ] || { cat "$work/activity-report.log" >&2; fail "activity-report: status $status"; }

text=$(gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=txtwrite -sOutputFile=- "$work/report.pdf")
for expected in "Rapport d'activité fax Internet" "Angebot Nr. 2024-118"; do
  grep -qF "$expected" <<<"$text" || fail "the report lacks \"$expected\""
done
echo "check-packages: ${#packages[@]} packages unpacked; the installed program printed the report"
