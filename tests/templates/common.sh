# shellcheck shell=bash
# Helpers the template checks share; sourced, not run.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The plug-in's tag tables are the one list of tags: "tag id" per constant tag, the variable tags,
# and the constant tags the job entries write themselves (those in the plug-in's other strings).
plugin=$here/../../activityReport/src/activityReport.cpp
constant_tags=$(sed -n 's/^ *{"\([A-Za-z_]*\)", \([0-9]*\)},$/\1 \2/p' "$plugin")
variable_tags=$(sed -n 's/^ *{[0-9]*, SED_CMD_[A-Z_]*, "\([a-z_]*\)",.*/\1/p' "$plugin")
tag_pattern='__[a-z_]+__|processState_[A-Za-z]+'
generated_tags=$(grep -vE '^ *\{"[A-Za-z_]+", [0-9]+\},$' "$plugin" | grep -oE '"[^"]*"' | grep -oE '__ar_const_[a-z_]+__|processState_[A-Za-z]+')
[ -n "$constant_tags" ] && [ -n "$variable_tags" ] || { echo "FAIL: no tag tables in $plugin" >&2; exit 1; }

encoding_of() { sed -n 's/^"X-Printer-Encoding: *\([^\\]*\)\\n"$/\1/p' "$1"; }

# "id<TAB>text" for every entry of a catalogue, in UTF-8; an untranslated entry has its source.
texts_of() { msgen "$1" | msgexec -i - sh -c '[ -z "$MSGEXEC_MSGCTXT" ] || printf "%s\t%s\n" "$MSGEXEC_MSGCTXT" "$(cat)"'; }
text_of() { texts_of "$1" | awk -F '\t' -v id="$2" '$1 == id { print $2 }'; }

# PS to text; an error stops the check, as it stops the device. OUTPUT may hold %05d for a file per page.
to_text() { # PS OUTPUT [PAPER]
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=txtwrite ${3:+-sPAPERSIZE=$3 -dFIXEDMEDIA} -sOutputFile="$2" "$1" \
    > "$1.log" 2>&1 && ! grep -q 'Error:' "$1.log" ||
    { echo "FAIL: Ghostscript reports an error on $1:" >&2; tail -n 20 "$1.log" >&2; exit 1; }
}
