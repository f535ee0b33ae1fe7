#!/usr/bin/env bash
# Every catalogue passes msgfmt, holds the report's string ids once each, and names a printer
# encoding that holds its texts (else they print as "?").   check-catalogues.sh CATALOGUE_DIR
set -uo pipefail
source "$(dirname "$0")/common.sh"
expected=$(cut -d ' ' -f 2 <<<"$constant_tags" | sort) checked=0
for po in "$1"/*.po; do
  name=$(basename "$po") texts=$(texts_of "$po") encoding=$(encoding_of "$po") checked=$((checked + 1))
  msgfmt --check -o /dev/null "$po" && grep -q '^"Content-Type: text/plain; charset=UTF-8\\n"$' "$po" ||
    fail "$name: msgfmt --check fails, or not declared as UTF-8"
  ids=$(cut -f 1 <<<"$texts" | sort)
  [ "$ids" = "$expected" ] || fail "$name: string ids differ from the report's: $(diff <(echo "$expected") <(echo "$ids") | grep '^[<>]' | tr '\n' ' ')"
  # Some printer encodings lack the copyright sign on purpose: it prints as "(C)". The texts are
  # converted at once, and one by one only to name those that fail.
  printable() { printf '%s' "${1//©/}" | iconv -f UTF-8 -t "${encoding:-none}" >/dev/null 2>&1; }
  printable "$(cut -f 2 <<<"$texts")" || while IFS=$'\t' read -r id text; do
    printable "$text" || fail "$name: text $id not printable in \"$encoding\""
  done <<<"$texts"
done
[ $failures -eq 0 ] && [ $checked -gt 0 ] && echo "$checked catalogues checked"
exit $((failures > 0 || checked == 0))
