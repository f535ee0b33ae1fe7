#!/usr/bin/env bash
# Prints every character of a template's encoding in its fonts; Ghostscript's text extraction must
# give back what iconv makes of the same bytes (glyph names, re-encoding and glyph coverage at once).
#   check-encoding.sh TEMPLATE ENCODING WORK_DIR
set -euo pipefail
source "$(dirname "$0")/common.sh"
template=$1 encoding=$2 work=$3
rm -rf "$work" && mkdir -p "$work"

# Not the invisible no-break space and soft hyphen, nor the ypogegrammeni (0xaa of ISO-8859-7),
# which modern Greek does not use and the fonts lack. Rows are numbered to be found in the text.
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
sed -E -e "/^__GENERATE_BODY_HERE__\$/{r $work/rows.ps" -e 'd}' -e 's/__[a-z_]+__/41/g' "$template" > "$work/charset.ps"
to_text "$work/charset.ps" "$work/charset.txt"

tr -s ' \t' ' ' < "$work/expected.txt" | sed 's/^ //; s/ $//' > "$work/want"
tr -d '\r' < "$work/charset.txt" | sed 's/^ *//; s/ *$//' | tr -s ' \t' ' ' | grep '^R[0-9][0-9] ' > "$work/got" || true
diff -u "$work/want" "$work/got" >&2 || { echo "FAIL: characters of $encoding do not print as themselves" >&2; exit 1; }
echo "$(($(wc -w < "$work/want") - 2 * ${#rows[@]})) characters of $encoding checked"
