#!/usr/bin/env bash
# Prints every character of a template's printer encoding through the template's fonts and
# checks that each comes out as the character the encoding means: the glyph-name vector, the
# re-encoding and the fonts' glyph coverage together. Ghostscript's text extraction turns the
# glyphs back into Unicode, which must match what iconv makes of the same bytes.
#
#   check-encoding.sh TEMPLATE ENCODING WORK_DIR
set -euo pipefail
source "$(dirname "$0")/common.sh"
template=$1 encoding=$2 work=$3
rm -rf "$work"
mkdir -p "$work"

# Every byte from 0x21 up that the encoding defines, except the invisible no-break space and
# soft hyphen, and the Greek ypogegrammeni (0xaa of ISO-8859-7), which modern Greek does not use
# and the fonts lack. A row of 16 at most, numbered ("R01 ") so that it can be found in the text,
# once in each font.
rows=()
for high in 2 3 4 5 6 7 a b c d e f; do
  row=
  for low in 0 1 2 3 4 5 6 7 8 9 a b c d e f; do
    case $encoding:$high$low in *:20|*:7f|*:a0|*:ad|ISO-8859-7:aa) continue ;; esac
    printf "\\x$high$low" | iconv -f "$encoding" -t UTF-8 >/dev/null 2>&1 && row+="\\x$high$low "
  done
  rows+=("$row")
done
n=0
for font in DefaultFontName DefaultFontNameBold; do
  for row in "${rows[@]}"; do
    n=$((n + 1))
    printf "R%02d $row\n" $n | iconv -f "$encoding" -t UTF-8 >> "$work/expected.txt"
    echo "$font findfont 9 scalefont setfont /currentColumn LM_ind def currentColumn currentRow MoveToPosition"
    echo "<$(printf "R%02d $row" $n | od -An -v -tx1 | tr -d ' \n')> AR_SHOW NextRow"
  done
done > "$work/rows.ps"
# The rows in place of the marker line, every tag of the template's own texts as "A".
sed -E -e "/^__GENERATE_BODY_HERE__\$/{r $work/rows.ps" -e 'd}' -e 's/__[a-z_]+__/41/g' "$template" > "$work/charset.ps"
to_text "$work/charset.ps" "$work/charset.txt"

# Compare the rows word by word.
tr -s ' \t' ' ' < "$work/expected.txt" | sed 's/^ //; s/ $//' > "$work/want"
tr -d '\r' < "$work/charset.txt" | sed 's/^ *//; s/ *$//' | tr -s ' \t' ' ' | grep '^R[0-9][0-9] ' > "$work/got" || true
if ! diff -u "$work/want" "$work/got" > "$work/diff"; then
  echo "FAIL: characters of $encoding do not print as themselves (- expected, + printed):" >&2
  cat "$work/diff" >&2
  exit 1
fi
echo "$(($(wc -w < "$work/want") - 2 * ${#rows[@]})) characters of $encoding checked"
