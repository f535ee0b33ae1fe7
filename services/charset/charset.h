/*
 * charset.h - INTERNAL to the translation and sniffer stand-ins (not a device service): the one
 * iconv conversion loop, encoding-name checks and UTF-8 checks both of them use.
 *
 * iconv descriptors are opened once per (source, target) pair and kept until the library that
 * links this module is unloaded; a pair iconv could not open is not remembered, so the next call
 * tries again. Thread-safe: the cache is locked, and a cached descriptor is used only under that
 * lock (an iconv_t carries conversion state), so conversions in one library run one at a time.
 * What iconv would write is found without it where that is known: a text of ASCII only, or valid
 * UTF-8 into UTF-8, that the pair was seen to give back unchanged when it opened, and two-byte
 * UTF-8 letters that a target writes as one byte each (transliterated or not), asked of iconv
 * once per letter. No conversion depends on the host's locale.
 */
#ifndef SERVICES_CHARSET_CHARSET_H
#define SERVICES_CHARSET_CHARSET_H

#include <cstddef>
#include <string>

namespace charset {

/* How a source encoding lays out its characters: what to skip past one that does not decode. */
enum class Form { Bytes, Utf8, Utf16, Utf32 };

/* True for every spelling of UTF-8: names compare with ASCII letters folded, without '-', '_' and
 * any "//" suffix, so "utf-8", "UTF8" and "UTF-8//TRANSLIT" all name it. */
bool IsUtf8Name(const std::string &encoding);

/* True when `encoding` names `name` by the same rule; `name` is written in upper case, without '-'
 * and '_' ("SHIFTJIS" matches "Shift_JIS" and "shift-jis//TRANSLIT"). */
bool IsName(const std::string &encoding, const char *name);

/* The layout of `encoding`: UTF-8, UTF-16/UCS-2, UTF-32/UCS-4, or one byte per unit otherwise. */
Form FormOf(const std::string &encoding);

/* True when `text` is well-formed UTF-8: no overlong forms, no surrogates, nothing above
 * U+10FFFF. */
bool IsValidUtf8(const char *text, size_t length);

/* What to do with a character that cannot be decoded or written. */
struct Policy {
    const char *replacement; /* written in its place, e.g. "?" */
    bool failOnUndecodable;  /* stop with Outcome::Undecodable instead of replacing */
    /* A character the target lacks is written as iconv's "//TRANSLIT" writes it under the C
     * library's C.UTF-8 locale ("EUR" for a euro sign), from the module's own table, whatever
     * locale is installed or in use; one with no such replacement becomes "?". */
    bool transliterate;
};

enum class Outcome { Converted, UnknownCharset, Undecodable };

/* 'Convert()' - converts `length` bytes of `text` from `from` into `to` (iconv names) into `out`.
 * A "//TRANSLIT" suffix of `to` asks for the policy's transliteration (never the locale's);
 * other suffixes such as "//IGNORE" go to iconv. A UTF-8 source is held to IsValidUtf8()'s rules
 * even where iconv is laxer. An incomplete character at the end is one undecodable character.
 * Returns UnknownCharset when iconv knows either name not (`out` is then empty). Throws
 * std::bad_alloc when memory runs out and std::system_error for any other iconv failure that is
 * not about the data (EMFILE, EBADF, ...; a lack of descriptors is told from an unknown name):
 * it never returns part of a text as converted. */
Outcome Convert(const std::string &from, const std::string &to, const char *text, size_t length,
                const Policy &policy, std::string &out);

} // namespace charset

#endif
