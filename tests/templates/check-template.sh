#!/usr/bin/env bash
# Checks a template against what the plug-in's copy relies on: one marker line alone; lines read
# 254 characters at a time, so a longer one splits tags; tags become hex digits wherever found, so
# each must sit in a hex string at a byte boundary; every tag only the template carries is there.
#   check-template.sh TEMPLATE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
template=$1

# The tags the job entries write themselves; every other tag is the template's to show.
generated=" __ar_const_of__ __ar_const_job_date__ __ar_const_job_time__ __ar_const_completion_date__
  __ar_const_completion_time__ __ar_const_recipients_acknowledged__ __ar_const_subject__ __ar_const_from__
  __ar_const_internet_fax_job_status__ __ar_const_ifax_job_status_successful__
  __ar_const_ifax_job_status_unconfirmed__ __ar_const_ifax_job_status_failed__ __ar_const_pages_scanned__
  __ar_const_attachment_size__ __ar_const_friendly_name__ __ar_const_email_address__ __ar_const_process_state__
  __ar_const_status_date_time__ __ar_const_to__ __ar_const_cc__ processState_Sent processState_Delivered
  processState_Processed processState_Error processState_Failed processState_Rejected "
generated=" $(echo $generated) "
wanted=$( {
  awk '!/^#/ && NF == 2 { print $1 }' "$here/constant-tags.txt"
  printf '%s\n' __media_color__ __media_type__ __system_hex_date__ __system_hex_time__ __device_hex_name__
} | while read -r tag; do [[ $generated == *" $tag "* ]] || echo "$tag"; done)

LC_ALL=C awk -v wanted="$wanted" '
  function fail(message) { print "FAIL: line " FNR ": " message > "/dev/stderr"; failures++ }
  BEGIN {
    n = split(wanted, list, "\n")
    for (i = 1; i <= n; i++) missing[list[i]] = 1
    tag = "__[a-z_]+__|processState_[A-Za-z]+"
  }
  $0 == "__GENERATE_BODY_HERE__" { markers++; next }
  {
    if (length($0) > 254) fail("longer than 254 characters")
    if (index($0, "__GENERATE_BODY_HERE__")) fail("the marker shares its line")
    if ($0 ~ /[^\t -~]/) fail("a character outside printable ASCII")
    # Walk the line: hex strings are checked and dropped, the rest must hold no tag.
    rest = $0; code = ""
    while (match(rest, /[%<]/)) {
      code = code substr(rest, 1, RSTART - 1)
      if (substr(rest, RSTART, 1) == "%") { comment = substr(rest, RSTART); rest = ""; break }
      rest = substr(rest, RSTART)
      if (substr(rest, 2, 1) == "<") { code = code "<<"; rest = substr(rest, 3); continue }
      if (!match(rest, />/)) { fail("a hex string that does not end on its line"); rest = ""; break }
      hex = substr(rest, 2, RSTART - 2); rest = substr(rest, RSTART + 1)
      while (match(hex, tag)) {
        found = substr(hex, RSTART, RLENGTH)
        delete missing[found]
        if ((RSTART - 1) % 2) fail("tag " found " not at a byte boundary")
        if (substr(hex, 1, RSTART - 1) ~ /[^0-9A-Fa-f]/) fail("not a hex string: <" hex ">")
        hex = substr(hex, RSTART + RLENGTH)
      }
      if (hex ~ /[^0-9A-Fa-f]/ || length(hex) % 2) fail("not a hex string of whole bytes: <" hex ">")
    }
    code = code rest
    if (match(code, tag)) fail("tag " substr(code, RSTART, RLENGTH) " outside a hex string")
    if (comment != "" && match(comment, tag)) fail("tag " substr(comment, RSTART, RLENGTH) " in a comment")
    comment = ""
  }
  END {
    if (markers != 1) { FNR = "-"; fail(markers + 0 " marker lines instead of one") }
    for (t in missing) { FNR = "-"; fail("tag " t " is not in the template") }
    exit failures > 0
  }
' "$template" && echo "$template: marker, lines and tags are in order"
