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

# Text as pdftotext gives it back. The Japanese fonts set the bytes 20-7E as JIS Roman, whose yen
# sign (byte 5C), underscore, grave accent, broken bar and tilde pdftotext reads as other
# characters, and the Korean hanja that iconv reads as compatibility ideographs come back as the
# unified ones (their canonical forms). Both sides of a comparison take the byte's own character,
# in canonical form.
as_printed() {
  perl -MUnicode::Normalize -CSD -pe '$_ = NFC($_); tr/\x{A5}\x{332}\x{300}\x{A6}\x{2DC}/\\_`|~/'
}

# A subject in the script of a multi-byte printer encoding (half-width katakana are one byte in
# CP932); nothing for a single-byte encoding.
script_subject() {
  case $1 in
    CP932) echo '会議資料の送付（第３四半期）ｶﾀｶﾅ' ;;
    GBK) echo '第三季度会议资料，请查收' ;;
    BIG5) echo '第三季會議資料，請查收' ;;
    CP949) echo '3분기 회의 자료를 보냅니다' ;;
  esac
}

# PS to PDF on PAPER; an error stops the check, as it stops the device.
to_pdf() { # PS PDF PAPER
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE="$3" -dFIXEDMEDIA \
    -sOutputFile="$2" "$1" > "$1.log" 2>&1 && ! grep -q 'Error:' "$1.log" ||
    { echo "FAIL: Ghostscript reports an error on $1:" >&2; tail -n 20 "$1.log" >&2; exit 1; }
}

# The text of every page of a PDF as DIR/page-NNNNN.txt, line by line as laid out.
pdf_pages() { # PDF DIR
  pdftotext -layout "$1" - | as_printed | awk -v dir="$2" 'BEGIN { RS = "\f" }
    { file = sprintf("%s/page-%05d.txt", dir, NR); printf "%s", $0 > file; close(file) }'
}
