#!/usr/bin/env bash
# Does what the report plug-in's finishing pass does, without the plug-in: replaces every tag in
# a template or body by the hex text of its value in a printer encoding. Constant tags take the
# texts of a catalogue; the run-time tags take fixed sample values.
#
#   fill-tags.sh CATALOGUE.po < body.ps > report.ps
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
catalogue=$1

encoding=$(sed -n 's/^"X-Printer-Encoding: *\([^\\]*\)\\n"$/\1/p' "$catalogue")
[ -n "$encoding" ] || { echo "fill-tags: $catalogue names no printer encoding" >&2; exit 1; }

hex() { # text in UTF-8 -> hex text of its bytes in the printer encoding
  printf '%s' "$1" | iconv -f UTF-8 -t "$encoding//TRANSLIT" | od -An -v -tx1 | tr -d ' \n'
}

# id <TAB> text for every entry; an untranslated entry shows its English source text.
texts=$(msgen "$catalogue" | msgexec -i - sh -c \
  '[ -n "$MSGEXEC_MSGCTXT" ] && printf "%s\t%s\n" "$MSGEXEC_MSGCTXT" "$(cat)"; true')

script=$(mktemp)
trap 'rm -f "$script"' EXIT
while read -r tag id; do
  case $tag in '#'*|'') continue ;; esac
  text=$(printf '%s\n' "$texts" | awk -F '\t' -v id="$id" '$1 == id { print $2; found = 1 } END { exit !found }') ||
    { echo "fill-tags: $catalogue has no text for string id $id" >&2; exit 1; }
  printf 's/%s/%s/g\n' "$tag" "$(hex "$text")" >> "$script"
done < "$here/constant-tags.txt"
printf 's/%s/%s/g\n' __media_type__ "$(hex Plain)" __media_color__ "$(hex White)" \
  __device_hex_name__ "$(hex 'Test device 3rd floor')" __system_hex_date__ "$(hex 06.12.2026)" \
  __system_hex_time__ "$(hex 14:30)" >> "$script"
sed -f "$script"
