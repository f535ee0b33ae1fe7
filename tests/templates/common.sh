# shellcheck shell=bash
# Helpers the template checks share; sourced, not run.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

encoding_of() { sed -n 's/^"X-Printer-Encoding: *\([^\\]*\)\\n"$/\1/p' "$1"; }

# "id<TAB>text" for every entry of a catalogue, in UTF-8; an untranslated entry has its source.
texts_of() {
  msgen "$1" | msgexec -i - sh -c '[ -n "$MSGEXEC_MSGCTXT" ] && printf "%s\t%s\n" "$MSGEXEC_MSGCTXT" "$(cat)"; true'
}
text_of() { texts_of "$1" | awk -F '\t' -v id="$2" '$1 == id { print $2 }'; }

# PS to text; an error stops the check, as it stops the device. OUTPUT may hold %05d for a file per page.
to_text() { # PS OUTPUT [PAPER]
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=txtwrite ${3:+-sPAPERSIZE=$3 -dFIXEDMEDIA} -sOutputFile="$2" "$1" \
    > "$1.log" 2>&1 && ! grep -q 'Error:' "$1.log" ||
    { echo "FAIL: Ghostscript reports an error on $1:" >&2; tail -n 20 "$1.log" >&2; exit 1; }
}
