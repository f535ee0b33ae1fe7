/*
 * transliterations.h - INTERNAL to the charset module: what a character that a target encoding
 * lacks is written as instead, as iconv's "//TRANSLIT" writes it under the GNU C library's
 * C.UTF-8 locale ("EUR" for a euro sign, "e" for an e with acute, "" for a combining accent).
 * The module carries the table itself (transliterations.inc, generated from that locale by
 * make_transliterations.cpp), so converting never depends on a locale being installed.
 */
#ifndef SERVICES_CHARSET_TRANSLITERATIONS_H
#define SERVICES_CHARSET_TRANSLITERATIONS_H

#include <cstddef>
#include <cstdint>

namespace charset {

/* One character's replacements: they start at kReplacements + offset. */
struct Transliteration {
    char32_t character;
    uint16_t offset;
};

/* Between two replacements of one character. */
constexpr char kReplacementSeparator = '\x1f';

/* Every character's replacements, in the order they are tried, UTF-8, separated by
 * kReplacementSeparator, the list ended by a NUL. A replacement may be empty. */
extern const char kReplacements[];

/* Sorted by character. */
extern const Transliteration kTransliterations[];
extern const size_t kTransliterationCount;

/* What a character becomes that has no replacement the target can write (UTF-8). */
constexpr char kDefaultReplacement[] = "?";

} // namespace charset

#endif
