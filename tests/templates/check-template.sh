#!/usr/bin/env bash
# Checks a template against what the plug-in's copy relies on: one marker line alone; lines read
# 254 characters at a time, so a longer one splits tags; tags become hex digits wherever found, so
# each must sit in a hex string at a byte boundary; every tag only the template carries is there.
#   check-template.sh TEMPLATE
set -uo pipefail
source "$(dirname "$0")/common.sh"
template=$1 tag=$tag_pattern && export LC_ALL=C
each() { local what=$1; shift; while IFS= read -r hit; do fail "$what: ${hit:0:120}"; done < <("$@"); }

[ "$(grep -c __GENERATE_BODY_HERE__ "$template")" = 1 ] && grep -qx __GENERATE_BODY_HERE__ "$template" ||
  fail "not one marker line alone"
each "longer than 254 characters" grep -nE '.{255}' "$template"
each "a character outside printable ASCII" grep -nE $'[^\t -~]' "$template"
# Whole hex strings with their tags at byte boundaries go, and dictionaries; no tag or "<" may be left.
each "a tag outside a hex string of whole bytes" grep -nE "<|$tag" <(
  sed -E "s/<<|>>//g; s/<(([0-9A-Fa-f]{2})|$tag)*>//g" "$template")
each "a tag not in the template" comm -23 <({ cut -d ' ' -f 1 <<<"$constant_tags"; echo "$variable_tags"; } | sort -u) \
  <({ echo "$generated_tags"; grep -oE "$tag" "$template"; } | sort -u)
[ $failures -eq 0 ] && echo "$template: marker, lines and tags are in order"; exit $((failures > 0))
