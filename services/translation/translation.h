/*
 * translation.h - the device's translation service: report texts in the user's language, the
 * printer encoding of each language, an encoding converter, and hex text for PostScript.
 *
 * Catalogue: a directory of gettext PO files, one per language, named "<language>.po" where
 * <language> is exactly the text passed as `language` ("en", "fr", "pt-BR", ...). A language text
 * that is empty, starts with '.' or contains '/' is an unknown language, never a path. The
 * directory is the environment variable TRANS_CATALOG_DIR, or else the catalogue installed with
 * this library, found relative to the library's own file: <prefix>/share/activity-report/catalog
 * for the install tree, <build>/share/activity-report/catalog for the build tree. In each file:
 *   - msgctxt is the decimal string id, msgid the English source text, msgstr the translation
 *     (an empty msgstr, or one marked "#, fuzzy", falls back to the msgid; of two entries with
 *     one id the first is used);
 *   - strings are "..." with C escapes, continued by further "..." on the next lines; '#' starts
 *     a comment, and "#~" entries (obsolete) are left out;
 *   - the charset of the header's Content-Type is the charset of the texts (UTF-8 when none);
 *   - the header field "X-Printer-Encoding:" names the printer encoding (an iconv name).
 * A usable catalogue is parsed on first use and kept; whether its file changed (another file in
 * its place, or the same file written since: device, inode, size, modification time) is looked at
 * with one stat at most every 100 ms, and a changed file is read anew, so a catalogue read while
 * it was still being copied is read whole once the copy is complete. A file that is malformed (a
 * syntax error, or a charset iconv does not know) is logged with its path and the line of each
 * error, once for as long as the file stays unchanged. A path that is not a regular file (FIFO,
 * device, directory) is never opened for reading: it is a catalogue that cannot be read. A file
 * that cannot be read is read again at every call and logged once per version; a missing file is
 * looked for again at each call; nothing that failed for lack of memory is remembered.
 *
 * What each call does without a resource it needs:
 *   - no catalogue for the language: Trans_TranslateString fails (TRANS_ERR_UNKNOWN_LANGUAGE);
 *     Translater answers TRANS_DEFAULT_PRINT_ENCODING, as for a language without catalogue;
 *   - a catalogue that cannot be read or is malformed: Trans_TranslateString fails
 *     (TRANS_ERR_BAD_CATALOG); Translater answers the default printer encoding, and a record
 *     names the file and the reason;
 *   - no descriptor to read the catalogue with: both fail (TRANS_ERR_BAD_CATALOG; Translater
 *     throws std::system_error), logged: without its catalogue a language's printer encoding
 *     is not known, and the default one would print its texts wrongly;
 *   - no iconv descriptor or module for a conversion (the C library says "unknown charset" then:
 *     the charset module tells the two apart), or an encoding iconv does not know: the
 *     conversion fails (TRANS_ERR_CONVERSION, or std::system_error from convert());
 *   - no memory: TRANS_ERR_NO_MEMORY, or std::bad_alloc from the classes.
 * No call ever hands out a text unconverted in place of a converted one.
 *
 * No locale is needed: characters a target encoding lacks are transliterated from the charset
 * module's own table (the C library's C.UTF-8 transliterations), whatever locale is installed.
 *
 * Thread-safe: the catalogue cache and the iconv descriptors are locked; two threads may call
 * any function, or use converters and translaters of their own, at once.
 *
 * No exception leaves the C functions. The classes throw only std::bad_alloc (memory ran out)
 * and std::system_error (iconv failed for a reason that is not the data), as each says. Records
 * go to the logging service (log.h) under the file name "translation".
 */
#ifndef SERVICES_TRANSLATION_TRANSLATION_H
#define SERVICES_TRANSLATION_TRANSLATION_H

#ifdef __cplusplus
#include <memory>
#include <string>
#include <utility>

extern "C" {
#endif

/* Status codes of the C functions. */
enum {
    TRANS_OK = 0,
    TRANS_ERR_ARGUMENT = 1,         /* a NULL pointer */
    TRANS_ERR_UNKNOWN_LANGUAGE = 2, /* no "<language>.po" in the catalogue directory */
    TRANS_ERR_BAD_CATALOG = 3,      /* the PO file cannot be read or does not parse; logged */
    TRANS_ERR_UNKNOWN_STRING = 4,   /* the language has no entry with that string id */
    TRANS_ERR_CONVERSION = 5,       /* the system charset is unknown to iconv, or iconv failed */
    TRANS_ERR_CATALOG_DIR = 6,      /* the catalogue directory cannot be read */
    TRANS_ERR_NO_MEMORY = 7 /* memory ran out; nothing was kept, the next call tries again */
};

/* 'Trans_Init()' - checks that the catalogue directory can be read. 0, TRANS_ERR_CATALOG_DIR or
 * TRANS_ERR_NO_MEMORY. */
int Trans_Init(void);

/* 'Trans_TranslateString()' - points `*text` at the translation of `stringId` in `language`,
 * converted from the PO file's charset into the system charset (characters it lacks are
 * transliterated or become "?"). The system charset is SYSTEM_CHARSET (default "ISO-8859-15"
 * when unset or empty), read at the first call that needs it and kept for the life of the
 * library, as the plug-in keeps it: a later change of the variable has no effect. The text stays
 * valid and owned by the service until the library is unloaded. Returns 0 or a TRANS_ERR_*
 * status (then `*text` is NULL). */
int Trans_TranslateString(const char *language, unsigned int stringId, const char **text);

/* 'Trans_ConvertUTF8StringToHex()' - writes the bytes of `text` into `out` as lowercase hex
 * digits, two per byte, NUL-terminated, using at most `maxBytes` bytes. A text that does not fit
 * is cut to the whole characters that fit; that is not a failure, only a warning in the log. The
 * cut follows the encoding the text is in, which the converter tells: a text that is one of the
 * last sixteen results of EncodingConverter::convert() in the process (the same bytes: a caller
 * hexes a result right after converting it) is in that conversion's target encoding, any other
 * text is UTF-8. So the cut keeps every byte that fits in a single-byte encoding, never splits a
 * character of a national multi-byte encoding (Shift_JIS and CP932, EUC-JP, GBK, CP936 and
 * GB2312, GB18030, Big5, CP950 and Big5-HKSCS, EUC-KR, CP949 and Johab) and, in UTF-8, falls
 * before a byte 10xxxxxx. Returns the number of hex digits written, or -1 when `out` or `text`
 * is NULL or `maxBytes` is below 1 (then `out` is untouched). Allocates nothing when the text
 * fits. */
int Trans_ConvertUTF8StringToHex(char *out, const char *text, int maxBytes);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The printer encoding answered for a language that has no catalogue. */
#define TRANS_DEFAULT_PRINT_ENCODING "ISO-8859-15"

/* The language side and the converter are C++ classes: a C caller has the functions above. */
#ifdef __cplusplus

/* 'Translater' - the language side of the service. Cheap to construct: catalogues are cached. */
class Translater {
public:
    /* Throws std::bad_alloc when the catalogue could not be read for lack of memory, and
     * std::system_error when it could not be read for lack of a descriptor, or iconv could not
     * check its charset for a reason other than an unknown name. A missing, unreadable or
     * malformed catalogue throws nothing: the default printer encoding, logged. */
    explicit Translater(const std::string &language);
    ~Translater();

    /* The iconv name of the printer encoding of the language, or TRANS_DEFAULT_PRINT_ENCODING
     * when the language has no usable catalogue or its header names none. */
    std::string printEncoding() const;

private:
    std::string encoding_;
};

/* 'EncodingConverter' - converts texts between encodings with iconv. Set the target with
 * convertTo() and the source with convertFrom(), then convert(). One object is for one thread at a
 * time. Conversion never fails on data:
 *   - a character the target lacks is transliterated, or else becomes "?";
 *   - a character the source cannot decode becomes "?" as well, and the rest still converts.
 * A source of UTF-8 stands for the texts of the device, which a device whose system charset
 * (SYSTEM_CHARSET, read once, as Trans_TranslateString reads it) is not UTF-8 hands over in that
 * charset, unchanged, as it gets the catalogue's texts in it (Trans_TranslateString):
 *   - on a device whose system charset is a national multi-byte one (those named at
 *     Trans_ConvertUTF8StringToHex: Shift_JIS, EUC-JP, GBK, Big5, EUC-KR, ...), every text is read
 *     in the system charset, valid UTF-8 or not, as short texts in these are often valid UTF-8 by
 *     chance; so the report of the device's own language prints its texts right, and a character
 *     that the printer encoding lacks is transliterated or becomes "?" as above;
 *   - on any other device a text that is valid UTF-8 is read as UTF-8, and one that is not is
 *     read in the system charset, or in ISO-8859-15 where the system charset is UTF-8.
 * An encoding unknown to iconv (logged), or none set, makes convert() throw: a text is never
 * handed back unconverted. Each conversion records its result (length and fingerprint) and
 * target encoding for Trans_ConvertUTF8StringToHex. iconv descriptors are cached, so constructing
 * a converter for every text is cheap. Only convert() throws (the setters throw only what copying
 * a std::string may). */
class EncodingConverter {
public:
    /* first: the encoding the input was actually read as; second: the converted text. */
    typedef std::pair<std::string, std::string> ConversionResults;

    EncodingConverter();
    virtual ~EncodingConverter();

    EncodingConverter &convertTo(const std::string &encoding);
    EncodingConverter &convertFrom(const std::string &encoding);

    /* Throws std::bad_alloc when memory runs out, and std::system_error when either encoding
     * is unknown or unset (EINVAL) or iconv fails for a reason other than the data (EMFILE,
     * EBADF, ...): never a part of the text, nor the text unconverted, as a result. */
    virtual ConversionResults convert(const std::string &text);

private:
    std::string from_;
    std::string to_;
};
#endif /* __cplusplus */

#endif
