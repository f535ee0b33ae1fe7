#!/bin/sh
# Writes activity-report.pot, the translators' template, from the English catalogue: every text of
# the report with an empty translation, and a header whose language fields a new catalogue fills
# in (msginit). Run it after changing en.po; the test templates.catalogues_match_pot fails until
# the template and every catalogue hold the same ids.
set -eu
cd "$(dirname "$0")"
msgfilter --keep-header -i en.po true | sed \
  -e '1s/.*/# Texts of the Internet Fax Activity Report, to translate./' \
  -e 's/^"PO-Revision-Date: .*"$/"PO-Revision-Date: YEAR-MO-DA HO:MI+ZONE\\n"/' \
  -e 's/^"Last-Translator: .*"$/"Last-Translator: FULL NAME <EMAIL@ADDRESS>\\n"/' \
  -e 's/^"Language-Team: .*"$/"Language-Team: LANGUAGE\\n"/' \
  -e 's/^"Language: .*"$/"Language: \\n"/' \
  -e 's/^"Plural-Forms: .*"$/"Plural-Forms: nplurals=INTEGER; plural=EXPRESSION;\\n"/' \
  -e 's/^"X-Printer-Encoding: .*"$/"X-Printer-Encoding: ENCODING\\n"/' \
  -e '0,/^msgid ""$/s/^msgid ""$/#, fuzzy\nmsgid ""/' >activity-report.pot
