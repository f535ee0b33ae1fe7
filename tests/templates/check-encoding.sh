#!/usr/bin/env bash
# Prints every character of a template's printer encoding through the template's fonts and
# checks that each comes out as the character the encoding means: the glyph-name vector, the
# re-encoding and the fonts' glyph coverage together. Ghostscript's text extraction turns the
# glyphs back into Unicode, which must match what iconv makes of the same bytes.
#
#   check-encoding.sh TEMPLATE CATALOGUE.po WORK_DIR
# The catalogue, one whose printer encoding is the template's, fills in the template's own texts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
template=$1 catalogue=$2 work=$3
encoding=$(sed -n 's/^"X-Printer-Encoding: *\([^\\]*\)\\n"$/\1/p' "$catalogue")
rm -rf "$work"
mkdir -p "$work"

# Every byte from 0x21 up that the encoding defines, except the invisible no-break space and
# soft hyphen, and the Greek ypogegrammeni (0xaa of ISO-8859-7), which modern Greek does not use
# and the fonts lack. One hex string per row of 16, characters separated by blanks.
rows=()
for high in 2 3 4 5 6 7 a b c d e f; do
  row=
  for low in 0 1 2 3 4 5 6 7 8 9 a b c d e f; do
    byte=$high$low
    case $byte in 20|7f|a0|ad) continue ;; esac
    [ "$encoding:$byte" = ISO-8859-7:aa ] && continue
    printf "\\x$byte" | iconv -f "$encoding" -t UTF-8 >/dev/null 2>&1 || continue
    row+="$byte""20"
  done
  rows+=("$row")
done

{
  sed '/^__GENERATE_BODY_HERE__$/,$d' "$template"
  # Each row starts with its number ("R01 ", in ASCII) so that it can be found in the text.
  n=0
  for font in DefaultFontName DefaultFontNameBold; do
    for row in "${rows[@]}"; do
      n=$((n + 1))
      echo "$font findfont 9 scalefont setfont"
      echo "/currentColumn LM_ind def currentColumn currentRow MoveToPosition"
      echo "<$(printf 'R%02d ' $n | od -An -tx1 | tr -d ' \n')${row}> AR_SHOW NextRow"
    done
  done
  sed '1,/^__GENERATE_BODY_HERE__$/d' "$template"
} | "$here/fill-tags.sh" "$catalogue" > "$work/charset.ps"

gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=txtwrite -sOutputFile="$work/charset.txt" \
  "$work/charset.ps" > "$work/gs.log" 2>&1 ||
  { echo "FAIL: Ghostscript stopped:" >&2; tail -20 "$work/gs.log" >&2; exit 1; }

n=0
for row in "${rows[@]}" "${rows[@]}"; do
  n=$((n + 1))
  printf "R%02d $(echo "$row" | sed 's/\(..\)/\\x\1/g')\n" $n
done > "$work/expected.raw"
iconv -f "$encoding" -t UTF-8 "$work/expected.raw" > "$work/expected.txt"

# Compare the rows word by word.
tr -s ' \t' ' ' < "$work/expected.txt" | sed 's/^ //; s/ $//' > "$work/want"
tr -d '\r' < "$work/charset.txt" | sed 's/^ *//; s/ *$//' | tr -s ' \t' ' ' |
  grep '^R[0-9][0-9] ' > "$work/got" || true
if ! diff -u "$work/want" "$work/got" > "$work/diff"; then
  echo "FAIL: characters of $encoding do not print as themselves (- expected, + printed):" >&2
  cat "$work/diff" >&2
  exit 1
fi
echo "$(($(wc -w < "$work/want") - n)) characters of $encoding checked"
