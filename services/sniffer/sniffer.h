/*
 * sniffer.h - the device's encoding sniffer: turns device texts of any encoding into UTF-8.
 *
 * Every function takes the text, its length in bytes and the address of a result pointer. On
 * success `*result` is a new NUL-terminated UTF-8 text that the caller releases with free(); on
 * failure `*result` is left NULL. Bytes that cannot be decoded (for UTF-8: anything that is not
 * well-formed, such as lead bytes F5 to FF, overlong forms or surrogates) become U+FFFD rather than
 * failing the call, so the result is always valid UTF-8. A text of length 0 gives an empty text
 * and success. When memory runs out, or iconv fails for a reason other than the data (no
 * descriptor to spare for its module included), the call fails: it never answers from a default
 * or hands the text back unconverted. No function throws, exits or keeps anything from a failed
 * call. Failures are logged through the logging service (log.h) under the file name "sniffer".
 *
 * Thread-safe: any function may be called from several threads at once. iconv descriptors are
 * kept per charset until the library is unloaded, and used under a lock.
 */
#ifndef SERVICES_SNIFFER_SNIFFER_H
#define SERVICES_SNIFFER_SNIFFER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 'SNF_Convert()' - converts from the charset `fromCharset` (an iconv name). Returns 1 on success,
 * 0 on failure: a NULL argument, a charset iconv does not know, no memory. */
int SNF_Convert(const char *text, size_t length, const char *fromCharset, char **result);

/* 'SNF_ConvertUTF()' - converts from a Unicode form: UTF-16 or UTF-32 (byte-order mark, or else
 * the byte pattern of the text, decides the form and byte order), or UTF-8. Without a mark,
 * UTF-32 shows by its zero top bytes and UTF-16 by high bytes below 0x08, which holds for the
 * scripts up to U+07FF (Latin, Greek, Cyrillic, Hebrew, Arabic); UTF-16 text of other scripts
 * needs its mark, or is read as UTF-8. Returns 1 on success, 0 on failure. */
int SNF_ConvertUTF(const char *text, size_t length, char **result);

/* 'SNF_AutoConvert()' - detects the encoding (uchardet) and converts from it; a text with a
 * byte-order mark or zero bytes goes to SNF_ConvertUTF, and text whose encoding cannot be told
 * is read as UTF-8 when valid, else as ISO-8859-15. Returns 1 on success, 0 on failure. */
int SNF_AutoConvert(const char *text, size_t length, char **result);

#ifdef __cplusplus
}
#endif

#endif
