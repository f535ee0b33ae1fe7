// Translation stand-in: reads the PO catalogue of each language once with libgettextpo, hands out
// translated texts in the system charset, converts texts between encodings with iconv and writes
// texts as hex for PostScript.
//
// Layout: encoding names and UTF-8 checks; the process-wide iconv descriptors and the lenient
// conversion every caller goes through; catalogue parsing and the catalogue cache; hex text; then
// the C functions and the two classes of the header.

#include "translation.h"

#include "log.h"

#include <gettext-po.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <iconv.h>
#include <locale.h>
#include <map>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unordered_map>

#ifndef TRANS_DEFAULT_CATALOG_DIR
#error "the build defines TRANS_DEFAULT_CATALOG_DIR, the catalogue directory used by default"
#endif

namespace {

const char kLogFile[] = "translation";
const char kDefaultSystemCharset[] = "ISO-8859-15";
// What a text that claims to be UTF-8 but is not is read as: the charset of older devices.
const char kNotUtf8Fallback[] = "ISO-8859-15";
const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);

// ---------------------------------------------------------------------------------------------
// Encoding names and UTF-8
// ---------------------------------------------------------------------------------------------

// How the source encoding lays out characters: what to skip when one cannot be converted.
enum class SourceForm { Bytes, Utf8, Utf16, Utf32 };

// An encoding name reduced for comparison: upper case, without '-', '_' and any "//" suffix, so
// that "utf-8", "UTF8" and "UTF-8//TRANSLIT" compare equal.
std::string ComparableName(const std::string &encoding)
{
    std::string name;
    for (size_t i = 0; i < encoding.size(); ++i) {
        const char c = encoding[i];
        if (c == '/' && i + 1 < encoding.size() && encoding[i + 1] == '/')
            break;
        if (c != '-' && c != '_')
            name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
}

bool StartsWith(const std::string &text, const char *prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

SourceForm SourceFormOf(const std::string &encoding)
{
    const std::string name = ComparableName(encoding);
    if (StartsWith(name, "UTF8"))
        return SourceForm::Utf8;
    if (StartsWith(name, "UTF16") || StartsWith(name, "UCS2") || StartsWith(name, "UNICODE"))
        return SourceForm::Utf16;
    if (StartsWith(name, "UTF32") || StartsWith(name, "UCS4") || StartsWith(name, "WCHART"))
        return SourceForm::Utf32;
    return SourceForm::Bytes;
}

bool IsUtf8Name(const std::string &encoding)
{
    return ComparableName(encoding) == "UTF8";
}

// Length of the well-formed UTF-8 sequence that starts `bytes` (no overlong forms, no surrogates,
// nothing above U+10FFFF, as iconv reads UTF-8), or 0 when none starts there.
size_t WellFormedSequenceLength(const unsigned char *bytes, size_t left)
{
    const unsigned char lead = bytes[0];
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char secondLow = 0x80, secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        secondLow = lead == 0xE0 ? 0xA0 : 0x80;
        secondHigh = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        secondLow = lead == 0xF0 ? 0x90 : 0x80;
        secondHigh = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (left < length || bytes[1] < secondLow || bytes[1] > secondHigh)
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

bool IsValidUtf8(const std::string &text)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text.data());
    size_t position = 0;
    while (position < text.size()) {
        const size_t length = WellFormedSequenceLength(bytes + position, text.size() - position);
        if (length == 0)
            return false;
        position += length;
    }
    return true;
}

// Bytes to skip past one character that iconv could not convert.
size_t CharacterLength(SourceForm form, const char *in, size_t left)
{
    switch (form) {
    case SourceForm::Utf8: {
        const size_t length = WellFormedSequenceLength(reinterpret_cast<const unsigned char *>(in), left);
        return length > 0 ? length : 1;
    }
    case SourceForm::Utf16: return std::min<size_t>(2, left);
    case SourceForm::Utf32: return std::min<size_t>(4, left);
    case SourceForm::Bytes: break;
    }
    return 1;
}

// ---------------------------------------------------------------------------------------------
// iconv descriptors and lenient conversion
// ---------------------------------------------------------------------------------------------

// Opening a descriptor loads and sets up a conversion module, which costs far more than
// converting a report text; the plug-in makes a converter for every text, so descriptors are kept
// for the process, per source and target as the caller named them. A pair iconv does not know is
// kept as kNoDescriptor, so it is neither retried nor logged again.
class DescriptorCache {
public:
    DescriptorCache() = default;
    DescriptorCache(const DescriptorCache &) = delete;
    DescriptorCache &operator=(const DescriptorCache &) = delete;
    ~DescriptorCache()
    {
        for (auto &source : descriptors_) {
            for (auto &target : source.second) {
                if (target.second != kNoDescriptor)
                    iconv_close(target.second);
            }
        }
    }

    // The descriptor from `from` to `to` with transliteration, reset to its initial state, or
    // kNoDescriptor when iconv knows either name not.
    iconv_t get(const std::string &from, const std::string &to)
    {
        if (from.empty() || to.empty())
            return kNoDescriptor;
        auto &targets = descriptors_[from];
        auto found = targets.find(to);
        if (found == targets.end())
            found = targets.emplace(to, open(from, to)).first;
        if (found->second != kNoDescriptor)
            iconv(found->second, nullptr, nullptr, nullptr, nullptr);
        return found->second;
    }

private:
    static iconv_t open(const std::string &from, const std::string &to)
    {
        // "//TRANSLIT" makes iconv write "EUR" for a euro sign the target lacks, or "?".
        const std::string target = to.find("//") == std::string::npos ? to + "//TRANSLIT" : to;
        const iconv_t descriptor = iconv_open(target.c_str(), from.c_str());
        if (descriptor == kNoDescriptor) {
            Log_SpecEntry(logSpecWarn, kLogFile, __LINE__,
                          "iconv cannot convert from \"%s\" to \"%s\"; texts are left unchanged.",
                          from.c_str(), to.c_str());
        }
        return descriptor;
    }

    std::map<std::string, std::map<std::string, iconv_t>> descriptors_;
};

DescriptorCache &Descriptors()
{
    static DescriptorCache descriptors;
    return descriptors;
}

// glibc transliterates by the LC_CTYPE locale of the calling thread, and the "C" locale the
// device software usually runs in knows no transliterations: "\u00c9lodie" would print as "?lodie"
// where "Elodie" reads better. Conversions therefore run in a UTF-8 locale of their own, set for
// the calling thread only and restored afterwards.
class TransliterationLocale {
public:
    TransliterationLocale()
    {
        static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (utf8 != static_cast<locale_t>(0))
            previous_ = uselocale(utf8);
    }
    ~TransliterationLocale()
    {
        if (previous_ != static_cast<locale_t>(0))
            uselocale(previous_);
    }
    TransliterationLocale(const TransliterationLocale &) = delete;
    TransliterationLocale &operator=(const TransliterationLocale &) = delete;

private:
    locale_t previous_ = static_cast<locale_t>(0);
};

// Writes the "?" that stands for a character that could not be converted.
void AppendReplacement(std::string &out, size_t &used)
{
    if (used == out.size())
        out.resize(out.size() * 2);
    out[used++] = '?';
}

// Converts `text` with `descriptor`, never failing on data: a character that iconv can neither
// read nor write becomes "?" (glibc's transliteration still stops on some characters), and an
// incomplete character at the end becomes "?". When memory runs out, returns what was converted.
std::string ConvertLeniently(iconv_t descriptor, SourceForm form, const std::string &text)
{
    TransliterationLocale transliteration;
    std::string out;
    size_t used = 0;
    try {
        out.resize(text.size() * 2 + 16);
        char *in = const_cast<char *>(text.data());
        size_t inLeft = text.size();
        bool flushed = false;
        while (!flushed) {
            if (out.size() - used < 8)
                out.resize(out.size() * 2);
            char *outPointer = &out[used];
            size_t outLeft = out.size() - used;
            // With the input used up, one more call writes what a stateful target still owes.
            const bool flushing = inLeft == 0;
            const size_t result = flushing ? iconv(descriptor, nullptr, nullptr, &outPointer, &outLeft)
                                           : iconv(descriptor, &in, &inLeft, &outPointer, &outLeft);
            const int error = errno;
            used = out.size() - outLeft;
            if (result != static_cast<size_t>(-1)) {
                flushed = flushing;
            } else if (error == EILSEQ) {
                AppendReplacement(out, used);
                const size_t skipped = CharacterLength(form, in, inLeft);
                in += skipped;
                inLeft -= skipped;
            } else if (error == EINVAL) {
                AppendReplacement(out, used);
                inLeft = 0;
            } else if (error != E2BIG) {
                break;
            }
        }
    } catch (const std::bad_alloc &) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "out of memory; text cut after %zu bytes.", used);
    }
    out.resize(std::min(used, out.size()));
    return out;
}

const char *SystemCharset()
{
    const char *charset = std::getenv("SYSTEM_CHARSET");
    return charset != nullptr && charset[0] != '\0' ? charset : kDefaultSystemCharset;
}

// ---------------------------------------------------------------------------------------------
// Catalogues
// ---------------------------------------------------------------------------------------------

struct Catalogue {
    enum class Status { Usable, Absent, Malformed };
    Status status = Status::Absent;
    std::string charset = "UTF-8";   // of the texts below, from the header's Content-Type
    std::string printEncoding;       // empty when the header names none
    std::unordered_map<unsigned int, std::string> texts;
    // Texts handed out by Trans_TranslateString, per system charset. Never erased, so the
    // pointers handed out stay valid for the life of the process.
    std::map<std::string, std::unordered_map<unsigned int, std::string>> handedOut;
};

// libgettextpo reports problems through handlers that take no user data, and a fatal one must not
// return; so the file being read, its error count and the way out of it are kept here, used only
// while po_file_read() runs.
const char *pathBeingParsed = "";
int parseErrors = 0;
std::jmp_buf fatalParseError;

void ReportParseProblem(int severity, const char *filename, size_t lineno, const char *text)
{
    if (severity != PO_SEVERITY_WARNING)
        ++parseErrors;
    try {
        std::string message = text != nullptr ? text : "";
        while (!message.empty() && message.back() == '\n')
            message.pop_back();
        const LogSpec kind = severity == PO_SEVERITY_WARNING ? logSpecWarn : logSpecError;
        if (filename != nullptr && lineno != static_cast<size_t>(-1)) {
            Log_SpecEntry(kind, kLogFile, __LINE__, "catalogue %s, line %zu: %s", filename, lineno,
                          message.c_str());
        } else {
            Log_SpecEntry(kind, kLogFile, __LINE__, "catalogue %s: %s",
                          filename != nullptr ? filename : pathBeingParsed, message.c_str());
        }
    } catch (const std::bad_alloc &) {
        // The error count still marks the catalogue as malformed.
    }
}

void OnParseProblem(int severity, po_message_t, const char *filename, size_t lineno, size_t,
                    int, const char *text)
{
    ReportParseProblem(severity, filename, lineno, text);
    if (severity == PO_SEVERITY_FATAL_ERROR)
        std::longjmp(fatalParseError, 1);
}

// A problem between two messages (a duplicate entry): the second location is the first entry,
// which the first record already makes easy to find.
void OnParseProblemOfTwo(int severity, po_message_t, const char *filename, size_t lineno, size_t,
                         int, const char *text, po_message_t, const char *, size_t, size_t, int,
                         const char *)
{
    ReportParseProblem(severity, filename, lineno, text);
    if (severity == PO_SEVERITY_FATAL_ERROR)
        std::longjmp(fatalParseError, 1);
}

// Reads a PO file, leaving the number of errors reported in parseErrors. NULL when the file cannot
// be opened or reading it had to stop. Nothing with a destructor lives in this frame, which the
// handlers may leave by longjmp.
po_file_t ReadPoFile(const char *path)
{
    static const po_xerror_handler handlers = {OnParseProblem, OnParseProblemOfTwo};
    pathBeingParsed = path;
    parseErrors = 0;
    if (setjmp(fatalParseError) != 0)
        return nullptr;
    return po_file_read(path, &handlers);
}

struct PoFileCloser {
    void operator()(po_file *file) const { po_file_free(file); }
};
using PoFile = std::unique_ptr<po_file, PoFileCloser>;

struct PoIteratorCloser {
    void operator()(po_message_iterator_t iterator) const { po_message_iterator_free(iterator); }
};

std::string HeaderField(const char *header, const char *field)
{
    char *value = po_header_field(header, field);
    if (value == nullptr)
        return std::string();
    std::string trimmed(value);
    std::free(value);
    const size_t first = trimmed.find_first_not_of(" \t");
    const size_t last = trimmed.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : trimmed.substr(first, last - first + 1);
}

// The charset that "Content-Type: text/plain; charset=..." names, or "" when none is named
// ("CHARSET" is the placeholder of an unfilled template).
std::string CharsetOfContentType(const std::string &contentType)
{
    const size_t start = contentType.find("charset=");
    if (start == std::string::npos)
        return std::string();
    const size_t valueStart = start + std::strlen("charset=");
    const size_t valueEnd = contentType.find_first_of(" \t;", valueStart);
    const std::string charset = contentType.substr(valueStart, valueEnd - valueStart);
    return charset == "CHARSET" ? std::string() : charset;
}

// The header entry is the one with an empty msgid and no msgctxt.
void ReadHeader(const char *header, Catalogue &catalogue)
{
    const std::string charset = CharsetOfContentType(HeaderField(header, "Content-Type"));
    if (!charset.empty())
        catalogue.charset = charset;
    catalogue.printEncoding = HeaderField(header, "X-Printer-Encoding");
}

bool ParseStringId(const char *context, unsigned int &id)
{
    if (context[0] < '0' || context[0] > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(context, &end, 10);
    if (*end != '\0' || errno == ERANGE || value > UINT_MAX)
        return false;
    id = static_cast<unsigned int>(value);
    return true;
}

// Reads the header and keeps the text of every current entry: its translation, or the English
// source when the entry is untranslated or marked fuzzy (a fuzzy translation is a guess nobody
// checked yet).
void ReadMessages(po_file_t file, const std::string &path, Catalogue &catalogue)
{
    std::unique_ptr<struct po_message_iterator, PoIteratorCloser> iterator(po_message_iterator(file, nullptr));
    while (po_message_t message = po_next_message(iterator.get())) {
        if (po_message_is_obsolete(message))
            continue;
        const char *context = po_message_msgctxt(message);
        const char *source = po_message_msgid(message);
        unsigned int id = 0;
        if (context == nullptr && source[0] == '\0') {
            ReadHeader(po_message_msgstr(message), catalogue);
            continue;
        }
        if (context == nullptr || !ParseStringId(context, id)) {
            Log_SpecEntry(logSpecWarn, kLogFile, __LINE__,
                          "catalogue %s: entry \"%s\" has no decimal string id as msgctxt; ignored.",
                          path.c_str(), source);
            continue;
        }
        const char *translation = po_message_msgstr(message);
        const bool untranslated = translation[0] == '\0' || po_message_is_fuzzy(message);
        if (!catalogue.texts.emplace(id, untranslated ? source : translation).second) {
            Log_SpecEntry(logSpecWarn, kLogFile, __LINE__,
                          "catalogue %s: string id %u appears twice; the first entry is used.",
                          path.c_str(), id);
        }
    }
}

bool IconvKnows(const std::string &charset)
{
    const iconv_t descriptor = iconv_open("UTF-8", charset.c_str());
    if (descriptor == kNoDescriptor)
        return false;
    iconv_close(descriptor);
    return true;
}

Catalogue MalformedCatalogue(const std::string &path, const char *reason)
{
    Log_SpecEntry(logSpecError, kLogFile, __LINE__, "catalogue %s is not usable (%s); its language "
                  "gets no translations and the default printer encoding.", path.c_str(), reason);
    Catalogue catalogue;
    catalogue.status = Catalogue::Status::Malformed;
    return catalogue;
}

Catalogue LoadCatalogue(const std::string &path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0 && errno == ENOENT) {
        Log_SpecEntry(logSpecWarn, kLogFile, __LINE__, "no catalogue %s; the language is unknown.",
                      path.c_str());
        return Catalogue();
    }
    PoFile file(ReadPoFile(path.c_str()));
    if (file == nullptr)
        return MalformedCatalogue(path, parseErrors > 0 ? "reading stopped" : "cannot be opened");
    if (parseErrors > 0)
        return MalformedCatalogue(path, "syntax errors, logged above with their lines");

    Catalogue catalogue;
    catalogue.status = Catalogue::Status::Usable;
    ReadMessages(file.get(), path, catalogue);
    if (!IconvKnows(catalogue.charset))
        return MalformedCatalogue(path, "its charset is unknown to iconv");
    return catalogue;
}

std::string CatalogueDirectory()
{
    const char *directory = std::getenv("TRANS_CATALOG_DIR");
    return directory != nullptr && directory[0] != '\0' ? directory : TRANS_DEFAULT_CATALOG_DIR;
}

// A language names a file inside the catalogue directory, never a path out of it.
bool IsLanguageName(const char *language)
{
    return language[0] != '\0' && language[0] != '.' && std::strchr(language, '/') == nullptr;
}

// The catalogue of `language`, parsed on its first use. Catalogues are kept by path, so a test or
// tool that points TRANS_CATALOG_DIR elsewhere gets the other directory's files. NULL for a
// language text that is not a plain name.
Catalogue *FindCatalogue(const char *language)
{
    static std::unordered_map<std::string, Catalogue> catalogues;
    if (!IsLanguageName(language)) {
        Log_SpecEntry(logSpecWarn, kLogFile, __LINE__, "\"%s\" is not a language name.", language);
        return nullptr;
    }
    std::string path = CatalogueDirectory();
    path += '/';
    path += language;
    path += ".po";
    auto found = catalogues.find(path);
    if (found == catalogues.end())
        found = catalogues.emplace(path, LoadCatalogue(path)).first;
    return &found->second;
}

int TranslateInto(const char *language, unsigned int stringId, const char *&text)
{
    Catalogue *catalogue = FindCatalogue(language);
    if (catalogue == nullptr || catalogue->status == Catalogue::Status::Absent)
        return TRANS_ERR_UNKNOWN_LANGUAGE;
    if (catalogue->status == Catalogue::Status::Malformed)
        return TRANS_ERR_BAD_CATALOG;
    const auto source = catalogue->texts.find(stringId);
    if (source == catalogue->texts.end()) {
        Log_SpecEntry(logSpecWarn, kLogFile, __LINE__, "language %s has no string %u.", language, stringId);
        return TRANS_ERR_UNKNOWN_STRING;
    }

    const char *systemCharset = SystemCharset();
    auto &handedOut = catalogue->handedOut[systemCharset];
    auto converted = handedOut.find(stringId);
    if (converted == handedOut.end()) {
        const iconv_t descriptor = Descriptors().get(catalogue->charset, systemCharset);
        if (descriptor == kNoDescriptor) {
            Log_SpecEntry(logSpecError, kLogFile, __LINE__,
                          "system charset \"%s\" is unknown; no text can be handed out.", systemCharset);
            return TRANS_ERR_CONVERSION;
        }
        const std::string text = ConvertLeniently(descriptor, SourceFormOf(catalogue->charset), source->second);
        converted = handedOut.emplace(stringId, text).first;
    }
    text = converted->second.c_str();
    return TRANS_OK;
}

// ---------------------------------------------------------------------------------------------
// Hex text
// ---------------------------------------------------------------------------------------------

// The two lowercase hex digits of every byte value, so that a byte is written with one copy.
struct HexPairs {
    char digits[256][2];
    constexpr HexPairs() : digits{}
    {
        const char hex[] = "0123456789abcdef";
        for (int byte = 0; byte < 256; ++byte) {
            digits[byte][0] = hex[byte >> 4];
            digits[byte][1] = hex[byte & 0x0F];
        }
    }
};
constexpr HexPairs kHexPairs;

bool IsContinuationByte(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The C functions
// ---------------------------------------------------------------------------------------------

extern "C" int Trans_Init(void)
{
    const std::string directory = CatalogueDirectory();
    DIR *listing = opendir(directory.c_str());
    if (listing == nullptr) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "Trans_Init(): cannot read catalogue directory %s: %s.",
                      directory.c_str(), std::strerror(errno));
        return TRANS_ERR_CATALOG_DIR;
    }
    closedir(listing);
    Log_SpecEntry(logSpecInfo, kLogFile, __LINE__, "Trans_Init(): catalogue directory %s.", directory.c_str());
    return TRANS_OK;
}

extern "C" int Trans_TranslateString(const char *language, unsigned int stringId, const char **text)
{
    if (text != nullptr)
        *text = nullptr;
    if (language == nullptr || text == nullptr) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "Trans_TranslateString(): NULL argument (%p, %p).",
                      static_cast<const void *>(language), static_cast<const void *>(text));
        return TRANS_ERR_ARGUMENT;
    }
    try {
        return TranslateInto(language, stringId, *text);
    } catch (const std::bad_alloc &) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "Trans_TranslateString(): out of memory.");
        *text = nullptr;
        return TRANS_ERR_CONVERSION;
    }
}

extern "C" int Trans_ConvertUTF8StringToHex(char *out, const char *text, int maxBytes)
{
    if (out == nullptr || text == nullptr || maxBytes < 1) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "Trans_ConvertUTF8StringToHex(): bad argument (%p, %p, %d).",
                      static_cast<void *>(out), static_cast<const void *>(text), maxBytes);
        return -1;
    }
    const size_t room = static_cast<size_t>(maxBytes - 1) / 2;
    size_t length = 0;
    while (length < room && text[length] != '\0')
        ++length;
    if (text[length] != '\0') {
        // Cut before the character the last whole byte belongs to, so no half character prints.
        while (length > 0 && IsContinuationByte(text[length]))
            --length;
        Log_SpecEntry(logSpecWarn, kLogFile, __LINE__,
                      "Trans_ConvertUTF8StringToHex(): text cut to %zu bytes to fit %d bytes.", length, maxBytes);
    }
    for (size_t i = 0; i < length; ++i)
        std::memcpy(out + 2 * i, kHexPairs.digits[static_cast<unsigned char>(text[i])], 2);
    out[2 * length] = '\0';
    return static_cast<int>(2 * length);
}

// ---------------------------------------------------------------------------------------------
// Translater and EncodingConverter
// ---------------------------------------------------------------------------------------------

Translater::Translater(const std::string &language) : encoding_(TRANS_DEFAULT_PRINT_ENCODING)
{
    try {
        const Catalogue *catalogue = FindCatalogue(language.c_str());
        if (catalogue != nullptr && catalogue->status == Catalogue::Status::Usable &&
            !catalogue->printEncoding.empty())
            encoding_ = catalogue->printEncoding;
    } catch (const std::bad_alloc &) {
        // The default encoding set above stands.
    }
}

Translater::~Translater() = default;

std::string Translater::printEncoding() const
{
    return encoding_;
}

EncodingConverter::EncodingConverter() = default;

EncodingConverter::~EncodingConverter() = default;

EncodingConverter &EncodingConverter::convertTo(const std::string &encoding)
{
    try {
        to_ = encoding;
    } catch (const std::bad_alloc &) {
        to_.clear(); // no target: texts pass unchanged
    }
    return *this;
}

EncodingConverter &EncodingConverter::convertFrom(const std::string &encoding)
{
    try {
        from_ = encoding;
    } catch (const std::bad_alloc &) {
        from_.clear();
    }
    return *this;
}

EncodingConverter::ConversionResults EncodingConverter::convert(const std::string &text)
{
    ConversionResults results;
    try {
        results.first = IsUtf8Name(from_) && !IsValidUtf8(text) ? kNotUtf8Fallback : from_;
        const iconv_t descriptor = Descriptors().get(results.first, to_);
        if (descriptor == kNoDescriptor)
            results.second = text;
        else
            results.second = ConvertLeniently(descriptor, SourceFormOf(results.first), text);
    } catch (const std::bad_alloc &) {
        Log_SpecEntry(logSpecError, kLogFile, __LINE__, "EncodingConverter::convert(): out of memory.");
    }
    return results;
}
