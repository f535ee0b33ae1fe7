// Translation stand-in: reads the PO catalogue of each language with its own reader, hands out
// translated texts in the system charset, converts texts between encodings through the charset
// module and writes texts as hex for PostScript.
//
// Layout: the lenient conversion; how an encoding's characters follow each other; catalogue
// files and the catalogue cache; hex text; then the C functions and the two classes of the header.

// The library exports the functions its contract header declares, and nothing else.
#pragma GCC visibility push(default)
#include "translation.h"
#pragma GCC visibility pop

#include "charset.h"
#include "logrecord.h"
#include "platform.h"
#include "po_reader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#if !defined(TRANS_CATALOG_FROM_LIBRARY) || !defined(TRANS_CATALOG_FROM_BUILT_LIBRARY)
#error "the build defines where the default catalogue lies relative to this library"
#endif

namespace {

using translation::PoEntry;
using translation::PoFile;
using translation::PoProblem;
using translation::ReadPo;

const char kLogFile[] = "translation";
const char kDefaultSystemCharset[] = "ISO-8859-15";
// What a text that claims to be UTF-8 but is not is read as: the charset of older devices.
const char kNotUtf8Fallback[] = "ISO-8859-15";
const charset::Policy kLenient = {"?", false, false};

// ---------------------------------------------------------------------------------------------
// Lenient conversion
// ---------------------------------------------------------------------------------------------

// Converts `text` into `encoding` never failing on data: a character that cannot be read becomes
// "?", and one the target lacks is transliterated ("Elodie" for "\u00c9lodie", "EUR" for a euro
// sign) or becomes "?". The charset module carries the transliterations itself, so the result is
// the same whatever locale the host has installed or uses. A name with a suffix of its own
// ("//IGNORE") keeps it and is not transliterated. False when iconv knows either encoding not
// (logged).
bool ConvertLeniently(const std::string &from, const std::string &encoding, const std::string &text,
                      std::string &out)
{
    charset::Policy policy = kLenient;
    policy.transliterate = encoding.find("//") == std::string::npos;
    if (charset::Convert(from, encoding, text.data(), text.size(), policy, out) ==
        charset::Outcome::Converted)
        return true;
    LOG_RECORD(logSpecWarn, "iconv cannot convert from \"%s\" to \"%s%s\".", from.c_str(),
               encoding.c_str(), policy.transliterate ? "//TRANSLIT" : "");
    return false;
}

// The system charset, read at its first use and kept for the life of the library, as the
// plug-in keeps it: the two must agree on the charset of every text, or a text converted by
// one is read wrongly by the other. A read that ran out of memory throws and is tried again.
const std::string &SystemCharset()
{
    static const std::string charset = [] {
        const char *name = platform::EnvValue("SYSTEM_CHARSET");
        return std::string(name ? name : kDefaultSystemCharset);
    }();
    return charset;
}

// ---------------------------------------------------------------------------------------------
// How an encoding's characters follow each other
// ---------------------------------------------------------------------------------------------

// What cutting a text between two characters needs to know of its encoding, and what tells the
// national multi-byte charsets from the rest. An encoding not named below has one byte per
// character.
enum class Layout {
    SingleByte,
    Utf8,
    ShiftJis,   // a lead byte 81-9F or E0-FC takes one more byte
    EucJp,      // 8F takes two more bytes, 8E and A1-FE one more
    DoubleByte, // 81-FE take one more byte: GBK, Big5, EUC-KR, Unified Hangul, Johab
    Gb18030,    // as DoubleByte, but a lead byte followed by a digit starts four bytes
};

struct LayoutName {
    const char *name; // as charset::IsName() compares it
    Layout layout;
};

const LayoutName kMultiByteNames[] = {
    {"CP932", Layout::ShiftJis},        {"SHIFTJIS", Layout::ShiftJis},
    {"SJIS", Layout::ShiftJis},         {"MS932", Layout::ShiftJis},
    {"WINDOWS31J", Layout::ShiftJis},   {"MSKANJI", Layout::ShiftJis},
    {"CSSHIFTJIS", Layout::ShiftJis},   {"SHIFTJISX0213", Layout::ShiftJis},
    {"EUCJP", Layout::EucJp},           {"EUCJPMS", Layout::EucJp},
    {"EUCJISX0213", Layout::EucJp},     {"UJIS", Layout::EucJp},
    {"GB18030", Layout::Gb18030},       {"GBK", Layout::DoubleByte},
    {"CP936", Layout::DoubleByte},      {"MS936", Layout::DoubleByte},
    {"WINDOWS936", Layout::DoubleByte}, {"GB2312", Layout::DoubleByte},
    {"EUCCN", Layout::DoubleByte},      {"BIG5", Layout::DoubleByte},
    {"BIGFIVE", Layout::DoubleByte},    {"CNBIG5", Layout::DoubleByte},
    {"CP950", Layout::DoubleByte},      {"BIG5HKSCS", Layout::DoubleByte},
    {"CP949", Layout::DoubleByte},      {"UHC", Layout::DoubleByte},
    {"EUCKR", Layout::DoubleByte},      {"JOHAB", Layout::DoubleByte},
    {"CP1361", Layout::DoubleByte},
};

Layout LayoutOf(const std::string &encoding)
{
    if (charset::IsUtf8Name(encoding))
        return Layout::Utf8;
    for (const LayoutName &known : kMultiByteNames) {
        if (charset::IsName(encoding, known.name))
            return known.layout;
    }
    return Layout::SingleByte;
}

bool IsNationalMultiByte(Layout layout)
{
    return layout != Layout::SingleByte && layout != Layout::Utf8;
}

// Bytes of the character whose lead byte `bytes` points at, in a national multi-byte layout.
// Reads the byte after the lead only for GB18030.
size_t CharacterBytes(Layout layout, const unsigned char *bytes)
{
    const unsigned char lead = bytes[0];
    switch (layout) {
    case Layout::ShiftJis:
        return (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
    case Layout::EucJp:
        return lead == 0x8F ? 3 : lead == 0x8E || (lead >= 0xA1 && lead <= 0xFE) ? 2 : 1;
    case Layout::DoubleByte:
        return lead >= 0x81 && lead <= 0xFE ? 2 : 1;
    case Layout::Gb18030:
        return lead < 0x81 || lead > 0xFE ? 1 : bytes[1] >= '0' && bytes[1] <= '9' ? 4 : 2;
    default:
        return 1;
    }
}

// The encoding a text that the caller says is `from` is read in. A device whose system charset
// is not UTF-8 hands over its own texts in that charset (and gets the catalogue's texts in it,
// Trans_TranslateString) while the caller names UTF-8 as the source. Latin, Greek or Cyrillic
// text that is valid UTF-8 is all but certainly UTF-8, so only invalid UTF-8 is read in a
// single-byte system charset; in a national multi-byte one, short texts are valid UTF-8 by chance
// too often (GBK's "\xd2\xbb" reads as one Cyrillic letter), so every text is read in it.
std::string SourceEncoding(const std::string &from, const std::string &text)
{
    if (!charset::IsUtf8Name(from))
        return from;
    const std::string &system = SystemCharset();
    static const Layout systemLayout = LayoutOf(system); // as fixed as the charset
    if (IsNationalMultiByte(systemLayout))
        return system;
    if (charset::IsValidUtf8(text.data(), text.size()))
        return from;
    return charset::IsUtf8Name(system) ? kNotUtf8Fallback : system;
}

// ---------------------------------------------------------------------------------------------
// Catalogue files
// ---------------------------------------------------------------------------------------------

// A catalogue is looked at again at most this often: whether its file changed.
const long kRecheckMilliseconds = 100;

struct Catalogue {
    platform::FileVersion version; // of the file its texts were read from
    platform::RecheckTimer recheck{kRecheckMilliseconds};
    std::string charset = "UTF-8"; // of the texts below, from the header's Content-Type
    std::string printEncoding;     // empty when the header names none
    std::unordered_map<unsigned int, std::string> texts;
    // Texts handed out by Trans_TranslateString in the system charset. Never erased, so the
    // pointers handed out stay valid until the library is unloaded.
    std::unordered_map<unsigned int, std::string> handedOut;
};

enum class FileState { Opened, Missing, Unreadable };

// Opens a catalogue without ever blocking: a FIFO, device or directory in its place is
// Unreadable, as is a file open() refuses. Throws std::bad_alloc when the kernel lacks memory.
FileState OpenCatalogue(const std::string &path, platform::Descriptor &file,
                        platform::FileVersion &version)
{
    struct stat status;
    file = platform::OpenRegularFile(AT_FDCWD, path.c_str(), O_RDONLY, 0, &status);
    if (!file && (errno == ENOENT || errno == ENOTDIR))
        return FileState::Missing;
    if (!file && errno == ENOMEM)
        throw std::bad_alloc();
    if (!file)
        return FileState::Unreadable;
    version = platform::FileVersion(status);
    return FileState::Opened;
}

bool ReadAll(int fd, std::string &bytes)
{
    char buffer[8192];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0 && errno != EINTR)
            return false;
        if (got > 0)
            bytes.append(buffer, static_cast<size_t>(got));
    }
}

// The value of the header line "<field>: value", blanks around it trimmed; "" when absent.
std::string HeaderField(const std::string &header, const std::string &field)
{
    const std::string start = field + ":";
    for (size_t line = 0; line < header.size();) {
        const size_t end = std::min(header.find('\n', line), header.size());
        if (header.compare(line, start.size(), start) == 0) {
            const size_t first = header.find_first_not_of(" \t", line + start.size());
            const size_t last = header.find_last_not_of(" \t", end - 1);
            return first >= end ? std::string() : header.substr(first, last - first + 1);
        }
        line = end + 1;
    }
    return std::string();
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

bool ParseStringId(const std::string &context, unsigned int &id)
{
    if (context.empty() || context[0] < '0' || context[0] > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(context.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || value > UINT_MAX)
        return false;
    id = static_cast<unsigned int>(value);
    return true;
}

// Keeps the header's charset and printer encoding and the text of every entry: its translation,
// or the English source when the entry is untranslated or marked fuzzy (a fuzzy translation is a
// guess nobody checked yet).
void KeepEntries(const PoFile &po, const std::string &path, Catalogue &catalogue)
{
    for (const PoEntry &entry : po.entries) {
        unsigned int id = 0;
        if (!entry.hasContext && entry.source.empty()) {
            const std::string charset =
                CharsetOfContentType(HeaderField(entry.translation, "Content-Type"));
            if (!charset.empty())
                catalogue.charset = charset;
            catalogue.printEncoding = HeaderField(entry.translation, "X-Printer-Encoding");
        } else if (!entry.hasContext || !ParseStringId(entry.context, id)) {
            LOG_RECORD(logSpecWarn,
                       "catalogue %s, line %zu: entry \"%s\" has no decimal string id as "
                       "msgctxt; ignored.",
                       path.c_str(), entry.line, entry.source.c_str());
        } else if (!catalogue.texts
                        .emplace(id, entry.translation.empty() || entry.fuzzy ? entry.source
                                                                              : entry.translation)
                        .second) {
            LOG_RECORD(logSpecWarn,
                       "catalogue %s, line %zu: string id %u appears twice; the first entry "
                       "is used.",
                       path.c_str(), entry.line, id);
        }
    }
}

bool IconvKnows(const std::string &charset)
{
    std::string unused;
    return charset::Convert(charset, "UTF-8", "", 0, kLenient, unused) ==
           charset::Outcome::Converted;
}

void LogUnusable(const std::string &path, const char *reason)
{
    LOG_RECORD(logSpecError,
               "catalogue %s is not usable (%s); its language "
               "gets no translations and the default printer encoding.",
               path.c_str(), reason);
}

// Parses the file; false (logged with each problem's line) when it is not a usable catalogue.
bool ParseCatalogue(const std::string &bytes, const std::string &path, Catalogue &catalogue)
{
    const PoFile po = ReadPo(bytes);
    for (const PoProblem &problem : po.problems) {
        LOG_RECORD(logSpecError, "catalogue %s, line %zu: %s", path.c_str(), problem.line,
                   problem.message.c_str());
    }
    if (!po.problems.empty()) {
        LogUnusable(path, "syntax errors, logged above with their lines");
        return false;
    }
    KeepEntries(po, path, catalogue);
    if (IconvKnows(catalogue.charset))
        return true;
    LogUnusable(path, "its charset is unknown to iconv");
    return false;
}

// ---------------------------------------------------------------------------------------------
// The catalogue cache
// ---------------------------------------------------------------------------------------------

// The catalogue installed with this library, found from the library's own folder so that an
// install tree (or a build tree) can be moved as a whole: the installed layout first, then the
// build tree's.
std::string DefaultCatalogueDirectory()
{
    Dl_info self;
    if (dladdr(reinterpret_cast<void *>(&Trans_Init), &self) == 0 || !self.dli_fname)
        return TRANS_CATALOG_FROM_LIBRARY;
    std::string folder(self.dli_fname);
    folder.erase(folder.find_last_of('/') + 1);
    struct stat status;
    std::string installed = folder + TRANS_CATALOG_FROM_LIBRARY;
    if (stat(installed.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return installed;
    return folder + TRANS_CATALOG_FROM_BUILT_LIBRARY;
}

// The directory, read at each call; the default one is worked out once.
const char *CatalogueDirectory()
{
    const char *directory = platform::EnvValue("TRANS_CATALOG_DIR");
    if (directory)
        return directory;
    static const std::string defaultDirectory = DefaultCatalogueDirectory();
    return defaultDirectory.c_str();
}

// A language names a file inside the catalogue directory, never a path out of it.
bool IsLanguageName(const char *language)
{
    return language[0] != '\0' && language[0] != '.' && std::strchr(language, '/') == nullptr;
}

// True for a failure that says nothing about the file: the process ran short of descriptors.
bool IsShortage(int error)
{
    return error == EMFILE || error == ENFILE;
}

// Usable catalogues by path, parsed on first use and kept until the library is unloaded (so a test
// or tool that points TRANS_CATALOG_DIR elsewhere gets the other directory's files). Whether the
// file changed (another file in its place, or the same file written since) is looked at with one
// stat at most every 100 ms; a changed file is read anew, the texts handed out from the old one
// staying valid. A file found unusable is remembered only as long as it is unchanged, so that its
// problems are logged once; a file that cannot be read is read again at every call, and logged
// once per version; a missing file or a shortage of memory is not remembered at all.
class Catalogues {
public:
    // Under lock(): the catalogue of `language`, or NULL with `status` set and `error` the errno
    // of a catalogue that exists but could not be read (else 0). Throws std::bad_alloc.
    Catalogue *find(const char *language, int &status, int &error)
    {
        status = TRANS_ERR_UNKNOWN_LANGUAGE;
        error = 0;
        if (!IsLanguageName(language))
            return nullptr;
        const char *directory = CatalogueDirectory();
        if (last_ != nullptr && std::strcmp(lastLanguage_.c_str(), language) == 0 &&
            std::strcmp(lastDirectory_.c_str(), directory) == 0 && !last_->recheck.Due()) {
            status = TRANS_OK;
            return last_;
        }
        const std::string path = std::string(directory) + "/" + language + ".po";
        const auto found = usable_.find(path);
        if (found != usable_.end()) {
            if (IsCurrent(path, *found->second)) {
                status = TRANS_OK;
                return remember(directory, language, found->second.get());
            }
            retired_.push_back(std::move(found->second));
            usable_.erase(found);
            last_ = nullptr;
        }
        std::unique_ptr<Catalogue> catalogue = read(path, status, error);
        if (catalogue == nullptr)
            return nullptr;
        Catalogue *kept = usable_.emplace(path, std::move(catalogue)).first->second.get();
        return remember(directory, language, kept);
    }

    std::mutex &lock() { return lock_; }

private:
    // What is known of a file that was no usable catalogue, as long as it stays that version.
    struct Problem {
        platform::FileVersion version;
        bool readAndRefused; // parsed and found unusable: not read again while unchanged
    };

    // True when the file is still the version the catalogue was read from (asked of the file
    // at most every 100 ms).
    static bool IsCurrent(const std::string &path, Catalogue &catalogue)
    {
        if (!catalogue.recheck.Due())
            return true;
        struct stat status;
        if (stat(path.c_str(), &status) != 0 || platform::FileVersion(status) != catalogue.version)
            return false;
        catalogue.recheck.Restart();
        return true;
    }

    // Reads and parses the file; NULL with `status` (and `error`) set when it is no catalogue.
    std::unique_ptr<Catalogue> read(const std::string &path, int &status, int &error)
    {
        platform::Descriptor file;
        platform::FileVersion version;
        std::string bytes;
        const FileState state = OpenCatalogue(path, file, version);
        if (state == FileState::Missing)
            return nullptr;
        status = TRANS_ERR_BAD_CATALOG;
        const auto known = problems_.find(path);
        if (state == FileState::Opened && known != problems_.end() &&
            known->second.readAndRefused && known->second.version == version)
            return nullptr;
        if (state == FileState::Unreadable || !ReadAll(file.get(), bytes)) {
            error = errno;
            struct stat now;
            const platform::FileVersion seen = stat(path.c_str(), &now) == 0
                                                   ? platform::FileVersion(now)
                                                   : platform::FileVersion();
            if (known == problems_.end() || known->second.readAndRefused ||
                known->second.version != seen || IsShortage(error))
                LogUnreadable(path, error);
            problems_[path] = {seen, false};
            return nullptr;
        }
        auto catalogue = std::make_unique<Catalogue>();
        if (!ParseCatalogue(bytes, path, *catalogue)) {
            problems_[path] = {version, true};
            return nullptr;
        }
        problems_.erase(path);
        catalogue->version = version;
        catalogue->recheck.Restart();
        status = TRANS_OK;
        return catalogue;
    }

    static void LogUnreadable(const std::string &path, int error)
    {
        if (IsShortage(error)) {
            LOG_RECORD(logSpecError,
                       "catalogue %s cannot be read now (%s); the call fails and "
                       "the next one reads it again.",
                       path.c_str(), std::strerror(error));
            return;
        }
        const std::string reason = std::string("cannot be read: ") +
                                   (error == EINVAL ? "not a regular file" : std::strerror(error));
        LogUnusable(path, reason.c_str());
    }

    // Remembers where the usable catalogue last found lies, as nearly every call asks for that one
    // again (a Translater is made for every report text). A catalogue that is replaced is kept
    // among the retired ones, so the pointer stays good; a shortage only leaves nothing remembered.
    Catalogue *remember(const char *directory, const char *language, Catalogue *catalogue)
    {
        last_ = nullptr;
        try {
            lastDirectory_ = directory;
            lastLanguage_ = language;
            last_ = catalogue;
        } catch (const std::bad_alloc &) {
        }
        return catalogue;
    }

    std::mutex lock_;
    Catalogue *last_ = nullptr;
    std::string lastDirectory_, lastLanguage_;
    std::unordered_map<std::string, std::unique_ptr<Catalogue>> usable_;
    std::vector<std::unique_ptr<Catalogue>> retired_; // texts handed out from them stay valid
    std::unordered_map<std::string, Problem> problems_;
};

Catalogues &TheCatalogues()
{
    static Catalogues catalogues;
    return catalogues;
}

int TranslateInto(const char *language, unsigned int stringId, const char *&text)
{
    std::lock_guard<std::mutex> hold(TheCatalogues().lock());
    int status = TRANS_OK, error = 0;
    Catalogue *catalogue = TheCatalogues().find(language, status, error);
    if (catalogue == nullptr)
        return status;
    const auto source = catalogue->texts.find(stringId);
    if (source == catalogue->texts.end()) {
        LOG_RECORD(logSpecWarn, "language %s has no string %u.", language, stringId);
        return TRANS_ERR_UNKNOWN_STRING;
    }

    const std::string &systemCharset = SystemCharset();
    auto &handedOut = catalogue->handedOut;
    auto converted = handedOut.find(stringId);
    if (converted == handedOut.end()) {
        std::string text;
        if (!ConvertLeniently(catalogue->charset, systemCharset, source->second, text)) {
            LOG_RECORD(logSpecError, "system charset \"%s\" is unknown; no text can be handed out.",
                       systemCharset.c_str());
            return TRANS_ERR_CONVERSION;
        }
        converted = handedOut.emplace(stringId, std::move(text)).first;
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

// FNV-1a, taken eight bytes at a time: it is made of every converted text.
uint64_t Fingerprint(const char *text, size_t length)
{
    uint64_t hash = 0xcbf29ce484222325u ^ length;
    size_t i = 0;
    for (uint64_t word; i + sizeof word <= length; i += sizeof word) {
        std::memcpy(&word, text + i, sizeof word);
        hash = (hash ^ word) * 0x100000001b3u;
    }
    for (; i < length; ++i)
        hash = (hash ^ static_cast<unsigned char>(text[i])) * 0x100000001b3u;
    return hash;
}

// The last results of EncodingConverter::convert() in the process, by length and fingerprint, with
// the layout of the encoding each is in. Hex conversion is handed bytes without their encoding:
// a text found here is a converter's result, which its caller hexes right after converting it;
// any other text (dates and times, in ASCII or UTF-8) is taken as UTF-8. Several results are kept
// so that threads converting at once find theirs. Nothing here is thread-local storage: the C
// library allocates that at first use in a library loaded at run time, and ends the process when
// it cannot. Allocates nothing.
class RecentResults {
public:
    void remember(const std::string &encoding, const std::string &text)
    {
        const uint64_t fingerprint = Fingerprint(text.data(), text.size());
        std::lock_guard<std::mutex> hold(lock_);
        results_[next_] = {text.size(), fingerprint, layoutOfName(encoding)};
        next_ = (next_ + 1) % kResults;
    }

    Layout layoutOf(const char *text)
    {
        const size_t length = std::strlen(text);
        const uint64_t fingerprint = Fingerprint(text, length);
        std::lock_guard<std::mutex> hold(lock_);
        for (unsigned age = 1; age <= kResults; ++age) { // the newest first
            const Result &result = results_[(next_ + kResults - age) % kResults];
            if (result.length == length && result.fingerprint == fingerprint)
                return result.layout;
        }
        return Layout::Utf8;
    }

private:
    static const unsigned kResults = 16;
    struct Result {
        size_t length;
        uint64_t fingerprint;
        Layout layout;
    };
    struct Name {
        char name[32];
        size_t length; // 0: none
        Layout layout;
    };

    // Under the lock. A run converts every text into the same printer encoding: the last two names
    // keep their layout, which spares comparing the name with thirty others each time (a third of
    // the converter's own work for a text of ASCII only).
    Layout layoutOfName(const std::string &encoding)
    {
        for (const Name &known : names_) {
            if (known.length == encoding.size() &&
                std::memcmp(known.name, encoding.data(), known.length) == 0)
                return known.layout;
        }
        const Layout layout = LayoutOf(encoding);
        if (!encoding.empty() && encoding.size() <= sizeof names_[0].name) {
            Name &kept = names_[nextName_];
            std::memcpy(kept.name, encoding.data(), encoding.size());
            kept.length = encoding.size();
            kept.layout = layout;
            nextName_ = (nextName_ + 1) % 2;
        }
        return layout;
    }

    std::mutex lock_;
    Result results_[kResults] = {};
    unsigned next_ = 0;
    Name names_[2] = {};
    unsigned nextName_ = 0;
};
RecentResults recentResults;

// How much of `text`, longer than `room` bytes, to keep: every byte the room allows, up to the
// last whole character. A national multi-byte text is walked from its start, as its second bytes
// may look like ASCII or like lead bytes.
size_t WholeCharacters(const char *text, size_t room, Layout layout)
{
    size_t kept = room;
    if (layout == Layout::Utf8) {
        while (kept > 0 && IsContinuationByte(text[kept]))
            --kept;
    } else if (layout != Layout::SingleByte) {
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
        kept = 0;
        for (size_t next; kept < room; kept = next) {
            next = kept + CharacterBytes(layout, bytes + kept);
            if (next > room)
                break;
        }
    }
    return kept;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The C functions
// ---------------------------------------------------------------------------------------------

extern "C" int Trans_Init(void)
{
    try {
        const std::string directory = CatalogueDirectory();
        DIR *listing = opendir(directory.c_str());
        if (listing == nullptr) {
            LOG_RECORD(logSpecError, "Trans_Init(): cannot read catalogue directory %s: %s.",
                       directory.c_str(), std::strerror(errno));
            return TRANS_ERR_CATALOG_DIR;
        }
        closedir(listing);
        LOG_RECORD(logSpecInfo, "Trans_Init(): catalogue directory %s.", directory.c_str());
        return TRANS_OK;
    } catch (...) {
        LOG_RECORD(logSpecError, "Trans_Init(): out of memory.");
        return TRANS_ERR_NO_MEMORY;
    }
}

extern "C" int Trans_TranslateString(const char *language, unsigned int stringId, const char **text)
{
    if (text != nullptr)
        *text = nullptr;
    if (language == nullptr || text == nullptr) {
        LOG_RECORD(logSpecError, "Trans_TranslateString(): NULL argument (%p, %p).",
                   static_cast<const void *>(language), static_cast<const void *>(text));
        return TRANS_ERR_ARGUMENT;
    }
    try {
        return TranslateInto(language, stringId, *text);
    } catch (const std::bad_alloc &) {
        LOG_RECORD(logSpecError, "Trans_TranslateString(): out of memory.");
        *text = nullptr;
        return TRANS_ERR_NO_MEMORY;
    } catch (const std::exception &failure) {
        LOG_RECORD(logSpecError, "Trans_TranslateString(): %s.", failure.what());
    } catch (...) {
        LOG_RECORD(logSpecError, "Trans_TranslateString(): conversion failed.");
    }
    *text = nullptr;
    return TRANS_ERR_CONVERSION;
}

extern "C" int Trans_ConvertUTF8StringToHex(char *out, const char *text, int maxBytes)
{
    if (out == nullptr || text == nullptr || maxBytes < 1) {
        LOG_RECORD(logSpecError, "Trans_ConvertUTF8StringToHex(): bad argument (%p, %p, %d).",
                   static_cast<void *>(out), static_cast<const void *>(text), maxBytes);
        return -1;
    }
    const size_t room = static_cast<size_t>(maxBytes - 1) / 2;
    size_t length = strnlen(text, room);
    if (text[length] != '\0') {
        length = WholeCharacters(text, room, recentResults.layoutOf(text));
        LOG_RECORD(logSpecWarn,
                   "Trans_ConvertUTF8StringToHex(): text cut to %zu bytes to fit %d bytes.", length,
                   maxBytes);
    }
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    for (size_t i = 0; i < length; ++i)
        std::memcpy(out + 2 * i, kHexPairs.digits[bytes[i]], 2);
    out[2 * length] = '\0';
    return static_cast<int>(2 * length);
}

// ---------------------------------------------------------------------------------------------
// Translater and EncodingConverter
// ---------------------------------------------------------------------------------------------

Translater::Translater(const std::string &language) : encoding_(TRANS_DEFAULT_PRINT_ENCODING)
{
    std::lock_guard<std::mutex> hold(TheCatalogues().lock());
    int status = TRANS_OK, error = 0;
    const Catalogue *catalogue = TheCatalogues().find(language.c_str(), status, error);
    // Without a descriptor the printer encoding cannot be known: the default would print the
    // language's texts wrongly rather than fail.
    if (IsShortage(error))
        throw std::system_error(error, std::generic_category(), "catalogue of " + language);
    if (catalogue != nullptr && !catalogue->printEncoding.empty())
        encoding_ = catalogue->printEncoding;
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
    to_ = encoding;
    return *this;
}

EncodingConverter &EncodingConverter::convertFrom(const std::string &encoding)
{
    from_ = encoding;
    return *this;
}

EncodingConverter::ConversionResults EncodingConverter::convert(const std::string &text)
{
    ConversionResults results;
    results.first = SourceEncoding(from_, text);
    // A text that cannot be converted is a failure, never the text as it came.
    if (from_.empty() || to_.empty() || !ConvertLeniently(results.first, to_, text, results.second))
        throw std::system_error(EINVAL, std::generic_category(),
                                "no conversion from \"" + from_ + "\" to \"" + to_ + "\"");
    recentResults.remember(to_, results.second);
    return results;
}
