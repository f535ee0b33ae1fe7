#!/usr/bin/env bash
# Every catalogue passes msgfmt, holds the report's string ids once each, and names a printer
# encoding that holds its texts (else they print as "?").   check-catalogues.sh CATALOGUE_DIR
set -uo pipefail
source "$(dirname "$0")/common.sh"
expected=$(cut -d ' ' -f 2 <<<"$constant_tags" | sort)
shopt -s nullglob
catalogues=("$1"/*.po)
[ ${#catalogues[@]} -gt 0 ] || fail "no catalogue in $1"

for po in "${catalogues[@]}"; do
  name=$(basename "$po")
  msgfmt --check -o /dev/null "$po" || fail "$name: msgfmt --check"
  grep -q '^"Content-Type: text/plain; charset=UTF-8\\n"$' "$po" || fail "$name: not declared as UTF-8"
  texts=$(texts_of "$po")
  ids=$(cut -f 1 <<<"$texts" | sort)
  [ "$ids" = "$expected" ] ||
    fail "$name: string ids differ from the report's: $(diff <(echo "$expected") <(echo "$ids") | grep '^[<>]' | tr '\n' ' ')"
  encoding=$(encoding_of "$po")
  [ -n "$encoding" ] || { fail "$name: no X-Printer-Encoding"; continue; }
  # Some printer encodings lack the copyright sign on purpose: it prints as "(C)".
  while IFS=$'\t' read -r id text; do
    printf '%s' "${text//©/}" | iconv -f UTF-8 -t "$encoding" >/dev/null 2>&1 ||
      fail "$name: text $id cannot be printed in $encoding: $text"
  done <<<"$texts"
done
[ $failures -eq 0 ] && echo "${#catalogues[@]} catalogues checked"
exit $((failures > 0))
