/*
 * po_reader.h - INTERNAL to the translation stand-in (the service's contract is translation.h):
 * the reader of gettext PO catalogues, kept apart so that it can be fuzzed on its own.
 */
#ifndef SERVICES_TRANSLATION_PO_READER_H
#define SERVICES_TRANSLATION_PO_READER_H

#include <cstddef>
#include <string>
#include <vector>

namespace translation {

struct PoEntry {
    bool hasContext = false;
    std::string context, source, translation; // msgctxt, msgid, msgstr (or msgstr[0])
    bool fuzzy = false;                       // flagged "#, fuzzy"
    size_t line = 0;                          // where the entry starts
};

struct PoProblem {
    size_t line;
    std::string message;
};

struct PoFile {
    std::vector<PoEntry> entries; // in file order, header included, obsolete ("#~") ones left out
    std::vector<PoProblem> problems; // syntax errors; the file is unusable when there is any
};

/* 'ReadPo()' - parses the bytes of a PO file: keywords msgctxt, msgid, msgid_plural, msgstr and
 * msgstr[n], strings "..." with C escapes concatenated over lines, '#' comments. Stops after a few
 * problems. Throws only std::bad_alloc. */
PoFile ReadPo(const std::string &bytes);

} // namespace translation

#endif
