#!/usr/bin/env bash
# A device image that ships no locale at all: every language prints, on both system charsets,
# byte for byte the report it prints where the C.UTF-8 locale is installed. The locales are
# hidden in a private mount namespace (an empty folder over /usr/lib/locale; LOCPATH alone does
# not hide the C library's own folder).
#   check-without-locales.sh ACTIVITY_REPORT_PROGRAM REPO_DIR WORK_DIR
# Exit 77 (skipped) outside CI where no mount namespace can be made.
set -uo pipefail
host=$1 repo=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
# Dates and times as fixed texts: the report shows when it was printed, and the two runs compared
# may fall on two sides of a minute.
sed -e 's/^OID_ATT_DATE_FORMAT = .*/OID_ATT_DATE_FORMAT = date/' \
    -e 's/^OID_ATT_TIME_FORMAT = .*/OID_ATT_TIME_FORMAT = time/' "$repo/examples/device.conf" \
  > "$work/device.conf"
namespace=(unshare -m)
[ "$(id -u)" = 0 ] || namespace=(unshare -r -m)
if ! "${namespace[@]}" true 2>/dev/null; then
  echo "cannot make a private mount namespace here (${namespace[*]})" >&2
  [ -n "${CI:-}" ] && exit 1 || exit 77
fi
# Prints the report of one run into OUT, locales hidden when the first argument is "hidden".
run() { # hidden|installed LANGUAGE CHARSET OUT
  local dir=$work/$1-$2-$3 hide=()
  [ "$1" = hidden ] && hide=("${namespace[@]}" sh -c 'mount -t tmpfs none /usr/lib/locale &&
      [ "$(LC_ALL=C.UTF-8 locale charmap 2>/dev/null)" != UTF-8 ] && exec "$@"' run)
  mkdir -p "$dir" && sqlite3 "$dir/jobs.db" < "$repo/examples/jobs.sql" || return 1
  "${hide[@]}" env -u ACTIVITY_REPORT_TEMPLATE -u TRANS_CATALOG_DIR -u PRINT_QUEUE \
    JTAPI_DATABASE="$dir/jobs.db" DEVICE_CONFIG="$work/device.conf" PRINT_SPOOL_DIR="$dir/spool" \
    TEMP_FILES_DIR="$dir/tmp" SYSTEM_CHARSET="$3" DEVICE_LOG="$dir/device.log" \
    ${ARL_EMULATOR:-} "$host" --language "$2" > "$dir/host.out" 2>&1 ||
    { echo "FAIL: $1 $2 $3: status $?" >&2; tail -n 3 "$dir/device.log" >&2; return 1; }
  cp "$(ls -d "$dir"/spool/[0-9]*/ | tail -n 1)/document.ps" "$4"
}
failures=0
for po in "$repo"/catalog/*.po; do
  language=$(basename "$po" .po)
  for charset in UTF-8 ISO-8859-15; do
    run installed "$language" "$charset" "$work/installed.ps" &&
      run hidden "$language" "$charset" "$work/hidden.ps" &&
      cmp -s "$work/installed.ps" "$work/hidden.ps" ||
      { echo "FAIL: $language ($charset) differs without locales" >&2; failures=$((failures + 1)); }
  done
done
[ $failures -eq 0 ] && echo "every language printed the same without locales"
exit $((failures > 0))
