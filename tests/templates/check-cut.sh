#!/usr/bin/env bash
# Cuts a 300-character text to columns of many widths with the template's own Substring, in the
# face of the job rows, and checks every cut: whole characters of the encoding from the start of
# the text, then the ellipsis, no wider than the column, keeping more as the column grows.
#   check-cut.sh TEMPLATE ENCODING
set -uo pipefail
source "$(dirname "$0")/common.sh"
template=$1 encoding=$2 && export LC_ALL=C.UTF-8
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
bytes_of() { printf '%b' "$(sed 's/../\\x&/g' <<<"$1")"; }

# Capital Cyrillic letters are bytes B0-CF in ISO-8859-5; the other texts mix one- and two-byte
# characters.
case $encoding in
  ISO-8859-5) unit=АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ ;;
  *) unit="Re: $(script_subject "$encoding") " ;;
esac
text=$unit && while [ ${#text} -lt 300 ]; do text+=$unit; done && text=${text:0:300}
hex=$(printf '%s' "$text" | iconv -f UTF-8 -t "$encoding" | od -An -v -tx1 | tr -d ' \n')
ellipsis=$(sed -n 's/^\/ar_ellipsis <\([0-9A-Fa-f]*\)> def$/\1/p' "$template" | tr A-F a-f)
[ -n "$hex" ] && [ -n "$ellipsis" ] ||
  { echo "FAIL: no text in $encoding or no ellipsis in $template" >&2; exit 1; }

# The template's procedures without its pages and tags; a line "column, width of the cut, cut"
# for each column.
{ sed -E "/^% --- First page/,\$d; s/$tag_pattern//g" "$template"
  echo "DefaultFontName findfont 9 scalefont setfont /ar_out (%stdout) (w) file def
    1 23 2501 { dup <$hex> exch Substring dup stringwidth pop 3 -1 roll =only ( ) print
      =only ( ) print ar_out exch writehexstring (\n) print } for"
} > "$work/probe.ps"
gs -q -dSAFER -dBATCH -dNODISPLAY "$work/probe.ps" > "$work/cuts" 2>&1 && ! grep -q 'Error' "$work/cuts" ||
  { echo "FAIL: Ghostscript reports an error:" >&2; head -n 20 "$work/cuts" >&2; exit 1; }

kept=0 cuts=0
while read -r column width cut; do
  body=${cut%"$ellipsis"} cuts=$((cuts + 1))
  [ "$cut" = "$hex" ] && continue
  [ "$body" != "$cut" ] || [ -z "$cut" ] || { fail "column $column: no ellipsis after the cut"; continue; }
  [[ $hex == "$body"* ]] || fail "column $column: the cut is not the start of the text"
  shown=$(bytes_of "$body" | iconv -f "$encoding" -t UTF-8 2>/dev/null) ||
    fail "column $column: half a character before the ellipsis"
  awk -v w="$width" -v c="$column" 'BEGIN { exit !(w <= c + 0.001) }' ||
    fail "column $column: the cut is $width wide"
  [ ${#shown} -ge "$kept" ] || fail "column $column: keeps less than a narrower column"
  kept=${#shown}
done < "$work/cuts"
[ "$kept" -gt 0 ] && [ "$(tail -n 1 "$work/cuts" | cut -d ' ' -f 3)" = "$hex" ] ||
  fail "no cut kept text, or the widest not all"
[ $failures -eq 0 ] && echo "$cuts cuts of a 300-character $encoding text end in whole characters"
exit $((failures > 0))
