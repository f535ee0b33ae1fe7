// Charset helpers of the translation and sniffer stand-ins: encoding names, UTF-8 checks, the
// process-wide iconv descriptor cache and the conversion loop both services go through.

#include "charset.h"

#include "platform.h"
#include "transliterations.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <unordered_map>
#include <unistd.h>
#include <vector>

// The table of transliterations, generated from the C.UTF-8 locale (make_transliterations.cpp).
#include "transliterations.inc"

namespace charset {
namespace {

// iconv_open's documented failure value.
const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)
const size_t kFailed = static_cast<size_t>(-1);

// True when `encoding`, compared as charset names are (ASCII letters folded, '-' and '_' left
// out, any "//" suffix cut off), starts with `name`, or is `name` when `whole`. Nothing is
// built: this is asked for every text.
bool NameMatches(const std::string &encoding, const char *name, bool whole)
{
    for (size_t i = 0; i < encoding.size(); ++i) {
        const char c = encoding[i];
        if (c == '/' && i + 1 < encoding.size() && encoding[i + 1] == '/')
            break;
        if (c == '-' || c == '_')
            continue;
        if (*name == '\0')
            return !whole;
        if (platform::AsciiLower(c) != platform::AsciiLower(*name))
            return false;
        ++name;
    }
    return *name == '\0';
}

// True when a two-byte UTF-8 sequence (U+0080 to U+07FF: the Latin, Greek and Cyrillic letters
// most non-ASCII report text is made of) starts `bytes`, `left` bytes long.
bool IsTwoByteSequence(const unsigned char *bytes, size_t left)
{
    return left >= 2 && bytes[0] >= 0xC2 && bytes[0] <= 0xDF && (bytes[1] & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence that starts `bytes`, or 0 when none starts there; then
// `truncated` tells whether the bytes up to the end were a good beginning of one.
size_t SequenceLength(const unsigned char *bytes, size_t left, bool &truncated)
{
    truncated = false;
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
    for (size_t i = 1; i < length; ++i) {
        if (i >= left) {
            truncated = true;
            return 0;
        }
        const unsigned char low = i == 1 ? secondLow : 0x80, high = i == 1 ? secondHigh : 0xBF;
        if (bytes[i] < low || bytes[i] > high)
            return 0;
    }
    return length;
}

// Bytes at the start of `text` below 0x80. Most report text is ASCII: eight bytes are checked at
// once.
size_t AsciiPrefix(const char *text, size_t length)
{
    const uint64_t kHighBits = 0x8080808080808080u;
    size_t position = 0;
    for (uint64_t word; position + sizeof word <= length; position += sizeof word) {
        std::memcpy(&word, text + position, sizeof word);
        if ((word & kHighBits) != 0)
            break;
    }
    while (position < length && static_cast<unsigned char>(text[position]) < 0x80)
        ++position;
    return position;
}

// Bytes at the start of `text` that are well-formed UTF-8; `truncated` as for SequenceLength().
size_t WellFormedPrefix(const char *text, size_t length, bool &truncated)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t position = 0;
    truncated = false;
    while (position < length) {
        if (bytes[position] < 0x80) { // most text: no need for the full check
            position += AsciiPrefix(text + position, length - position);
            continue;
        }
        if (IsTwoByteSequence(bytes + position, length - position)) { // and most of the rest
            position += 2;
            continue;
        }
        const size_t sequence = SequenceLength(bytes + position, length - position, truncated);
        if (sequence == 0)
            break;
        position += sequence;
    }
    return position;
}

// Bytes to skip past one character that does not convert.
size_t CharacterLength(Form form, const char *in, size_t left)
{
    bool truncated = false;
    size_t length = 1;
    if (form == Form::Utf8)
        length = std::max<size_t>(
            1, SequenceLength(reinterpret_cast<const unsigned char *>(in), left, truncated));
    else if (form == Form::Utf16)
        length = 2;
    else if (form == Form::Utf32)
        length = 4;
    return std::min(length, left);
}

[[noreturn]] void ThrowIconvFailure(int error, const char *what)
{
    if (error == ENOMEM)
        throw std::bad_alloc();
    throw std::system_error(error, std::generic_category(), what);
}

// The C library reads its list of conversion modules at the first iconv_open() of the process
// and never again, even when that read failed for want of a descriptor: every conversion but the
// built-in ones would then stay unknown. Opening one descriptor when the library that links this
// module is loaded has the list read while descriptors are still plentiful.
[[maybe_unused]] const bool kModuleListRead = [] {
    const iconv_t descriptor = iconv_open("UTF-16", "UTF-8");
    if (descriptor != kNoDescriptor)
        iconv_close(descriptor);
    return true;
}();

// True when the process has no descriptor to spare: the C library's iconv_open() then fails
// with EINVAL, as for a name it does not know, because it cannot read its module list.
bool OutOfDescriptors(int &error)
{
    const int probe = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    error = errno;
    if (probe >= 0)
        ::close(probe);
    return probe < 0 && (error == EMFILE || error == ENFILE);
}

// Opens a descriptor, or kNoDescriptor when iconv knows a name not. Throws on other failures, so
// that a shortage is never mistaken for an unknown charset.
iconv_t Open(const std::string &from, const std::string &to)
{
    for (int attempt = 0;; ++attempt) {
        const iconv_t descriptor = iconv_open(to.c_str(), from.c_str());
        if (descriptor != kNoDescriptor)
            return descriptor;
        int error = errno;
        if (error != EINVAL)
            ThrowIconvFailure(error, "iconv_open");
        if (OutOfDescriptors(error))
            ThrowIconvFailure(error, "iconv_open");
        // A descriptor may have come free since iconv_open() failed: it is asked once more.
        if (attempt > 0)
            return kNoDescriptor;
    }
}

// ---- Transliteration --------------------------------------------------------------------------

// The replacements of `character` (transliterations.h), or NULL when it has none.
const char *ReplacementsOf(char32_t character)
{
    const Transliteration *end = kTransliterations + kTransliterationCount;
    const Transliteration *found = std::lower_bound(
        kTransliterations, end, character,
        [](const Transliteration &entry, char32_t c) { return entry.character < c; });
    return found != end && found->character == character ? kReplacements + found->offset : nullptr;
}

// Writes a character that the target lacks as the C.UTF-8 locale would have iconv write it: the
// first of its replacements that the target writes whole, else "?". Two descriptors of its own,
// opened at the first such character: one reads a character of the source, one writes a
// replacement (UTF-8) into the target.
class Transliterator {
public:
    Transliterator(const std::string &from, const std::string &to)
        : from_(from), to_(to.substr(0, to.find("//"))), utf8Source_(FormOf(from) == Form::Utf8)
    {
    }
    Transliterator(const Transliterator &) = delete;
    Transliterator &operator=(const Transliterator &) = delete;
    ~Transliterator()
    {
        for (iconv_t descriptor : {decode_, encode_}) {
            if (descriptor != kNoDescriptor)
                iconv_close(descriptor);
        }
    }

    // At a character of the source that the target cannot write: appends what it becomes to
    // `out` at `used` and returns the bytes of source it took; 0, with nothing written, when no
    // character decodes there or nothing can be written for it.
    size_t Write(const char *in, size_t left, std::string &out, size_t &used)
    {
        char32_t character = 0;
        const size_t taken = Decode(in, left, character);
        std::string written;
        if (taken == 0 || !Replace(character, written))
            return 0;
        if (out.size() - used < written.size())
            out.resize(out.size() * 2 + written.size());
        std::memcpy(&out[used], written.data(), written.size());
        used += written.size();
        return taken;
    }

    // What `character` becomes in the target; false when not even "?" can be written. What a
    // character became is kept: it depends on nothing else, and finding it again takes two or
    // more conversions.
    bool Replace(char32_t character, std::string &written)
    {
        const auto known = replaced_.find(character);
        if (known != replaced_.end()) {
            written = known->second;
            return true;
        }
        const char *replacement = ReplacementsOf(character);
        bool found = false;
        while (replacement != nullptr && !found) {
            const char *end = std::strchr(replacement, kReplacementSeparator);
            const size_t length =
                end ? static_cast<size_t>(end - replacement) : std::strlen(replacement);
            found = Encode(replacement, length, written);
            replacement = end ? end + 1 : nullptr;
        }
        if (!found && !Encode(kDefaultReplacement, sizeof kDefaultReplacement - 1, written))
            return false;
        if (replaced_.size() < kMostKept)
            replaced_.emplace(character, written);
        return true;
    }

private:
    static iconv_t Opened(iconv_t &slot, const std::string &from, const std::string &to)
    {
        if (slot == kNoDescriptor && (slot = Open(from, to)) == kNoDescriptor)
            ThrowIconvFailure(EINVAL, "iconv_open");
        iconv(slot, nullptr, nullptr, nullptr, nullptr);
        return slot;
    }

    // The character that starts `in` and the bytes it takes; 0 when none decodes there.
    size_t Decode(const char *in, size_t left, char32_t &character)
    {
        if (utf8Source_)
            return DecodeUtf8(reinterpret_cast<const unsigned char *>(in), left, character);
        const iconv_t descriptor = Opened(decode_, from_, "UCS-4LE");
        unsigned char unit[4];
        char *input = const_cast<char *>(in), *output = reinterpret_cast<char *>(unit);
        size_t inputLeft = left, outputLeft = sizeof unit;
        // Room for one character only: iconv stops after it (E2BIG) or at the end.
        if (iconv(descriptor, &input, &inputLeft, &output, &outputLeft) == kFailed &&
            errno != E2BIG && errno != EILSEQ && errno != EINVAL)
            ThrowIconvFailure(errno, "iconv");
        if (outputLeft != 0)
            return 0;
        character = static_cast<char32_t>(unit[0] | unit[1] << 8 | unit[2] << 16 |
                                          static_cast<uint32_t>(unit[3]) << 24);
        return left - inputLeft;
    }

    static size_t DecodeUtf8(const unsigned char *bytes, size_t left, char32_t &character)
    {
        bool truncated = false;
        const size_t length = SequenceLength(bytes, left, truncated);
        static const unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
        if (length == 0)
            return 0;
        character = bytes[0] & kLeadBits[length];
        for (size_t i = 1; i < length; ++i)
            character = character << 6 | (bytes[i] & 0x3F);
        return length;
    }

    // The UTF-8 text converted whole into the target; false when any of it cannot be written.
    bool Encode(const char *utf8, size_t length, std::string &written)
    {
        written.clear();
        if (length == 0)
            return true;
        const iconv_t descriptor = Opened(encode_, "UTF-8", to_);
        written.resize(length * 4 + 16); // a replacement is a few characters
        char *input = const_cast<char *>(utf8), *output = &written[0];
        size_t inputLeft = length, outputLeft = written.size();
        if (iconv(descriptor, &input, &inputLeft, &output, &outputLeft) == kFailed ||
            iconv(descriptor, nullptr, nullptr, &output, &outputLeft) == kFailed) {
            if (errno != EILSEQ && errno != EINVAL && errno != E2BIG)
                ThrowIconvFailure(errno, "iconv");
            return false;
        }
        written.resize(written.size() - outputLeft);
        return true;
    }

    static constexpr size_t kMostKept = 1024; // characters: a text of another script stays small
    const std::string from_, to_;
    const bool utf8Source_;
    iconv_t decode_ = kNoDescriptor, encode_ = kNoDescriptor;
    std::unordered_map<char32_t, std::string> replaced_;
};

// Converts with `descriptor` (in its initial state) into `out`. A character the target cannot
// write is transliterated when a transliterator is given; an undecodable or unwritable one
// becomes the policy's replacement, or ends the call with Outcome::Undecodable.
Outcome ConvertWith(iconv_t descriptor, Form form, const char *text, size_t length,
                    const Policy &policy, Transliterator *transliterator, std::string &out)
{
    out.assign(length * 2 + 16, '\0');
    size_t used = 0;
    char *in = const_cast<char *>(text);
    size_t inLeft = length;
    for (;;) {
        if (out.size() - used < 16)
            out.resize(out.size() * 2);
        char *outPointer = &out[used];
        size_t outLeft = out.size() - used;
        if (inLeft == 0) {
            // With the input used up, one more call writes what a stateful target still owes.
            const size_t result = iconv(descriptor, nullptr, nullptr, &outPointer, &outLeft);
            const int error = errno;
            used = out.size() - outLeft;
            if (result != kFailed || error == EILSEQ || error == EINVAL)
                break;
            if (error != E2BIG)
                ThrowIconvFailure(error, "iconv");
            out.resize(out.size() * 2);
            continue;
        }
        // iconv reads lone or out-of-range UTF-8 lead bytes (F5 to F7...) as characters, so a UTF-8
        // source is given only up to its first ill-formed sequence, which is then handled below.
        bool truncated = false;
        size_t span = form == Form::Utf8 ? WellFormedPrefix(in, inLeft, truncated) : inLeft;
        const char *const start = in;
        int error = 0;
        bool unwritable = false; // iconv itself stopped at a character, not the check above
        if (span > 0) {
            const size_t spanBefore = span;
            const size_t result = iconv(descriptor, &in, &span, &outPointer, &outLeft);
            error = result == kFailed ? errno : 0;
            unwritable = error == EILSEQ;
            inLeft -= spanBefore - span;
            used = out.size() - outLeft;
            if (error == 0 && inLeft > 0)
                error = truncated && span == 0 ? EINVAL : EILSEQ; // stopped at the ill-formed bytes
        } else {
            error = truncated ? EINVAL : EILSEQ;
        }
        if (error == E2BIG)
            out.resize(out.size() * 2);
        if (error == 0 || error == E2BIG)
            continue;
        // A lenient call ("//IGNORE") may report EILSEQ after it skipped what it could not convert,
        // even with the input used up: only a call that stopped where it started names a character.
        if (error != EILSEQ && error != EINVAL)
            ThrowIconvFailure(error, "iconv");
        if (in != start || inLeft == 0)
            continue;
        if (unwritable && transliterator != nullptr) {
            const size_t taken = transliterator->Write(in, inLeft, out, used);
            in += taken;
            inLeft -= taken;
            if (taken > 0)
                continue;
        }
        if (policy.failOnUndecodable)
            return Outcome::Undecodable;
        const size_t replacementLength = std::strlen(policy.replacement);
        if (out.size() - used < replacementLength)
            out.resize(out.size() * 2 + replacementLength);
        std::memcpy(&out[used], policy.replacement, replacementLength);
        used += replacementLength;
        const size_t skipped = error == EINVAL ? inLeft : CharacterLength(form, in, inLeft);
        in += skipped;
        inLeft -= skipped;
    }
    out.resize(used);
    return Outcome::Converted;
}

struct Closer {
    void operator()(void *descriptor) const { iconv_close(static_cast<iconv_t>(descriptor)); }
};

// A probe: true when `descriptor`, from its initial state, gives `text` back byte for byte and owes
// nothing at the end. Any failure, a full buffer included, is a "no".
bool GivesBackUnchanged(iconv_t descriptor, const char *text, size_t length)
{
    char out[256];
    char *in = const_cast<char *>(text), *written = out;
    size_t inLeft = length, outLeft = sizeof out;
    iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    const bool converted = iconv(descriptor, &in, &inLeft, &written, &outLeft) != kFailed &&
                           inLeft == 0 &&
                           iconv(descriptor, nullptr, nullptr, &written, &outLeft) != kFailed;
    return converted && static_cast<size_t>(written - out) == length &&
           std::memcmp(out, text, length) == 0;
}

// The empty text, every ASCII character alone and all of them in a row come back unchanged: then
// so does any text of ASCII only. This rules out the targets that are not ASCII-based, that start
// with a shift sequence (ISO-2022-KR), or that treat a character specially ('+' of UTF-7).
bool GivesAsciiBackUnchanged(iconv_t descriptor)
{
    char ascii[128];
    for (size_t c = 0; c < sizeof ascii; ++c)
        ascii[c] = static_cast<char>(c);
    if (!GivesBackUnchanged(descriptor, ascii, 0) ||
        !GivesBackUnchanged(descriptor, ascii, sizeof ascii))
        return false;
    for (size_t c = 0; c < sizeof ascii; ++c) {
        if (!GivesBackUnchanged(descriptor, ascii + c, 1))
            return false;
    }
    return true;
}

// Between two spellings of UTF-8 the C library gives every well-formed text back unchanged (a
// byte-order mark included). The probe holds the boundaries of each sequence length to it.
bool GivesUtf8BackUnchanged(iconv_t descriptor)
{
    static const char kBoundaries[] =
        "\xEF\xBB\xBF\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80"
        "\xEF\xBF\xBD\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
    return GivesAsciiBackUnchanged(descriptor) &&
           GivesBackUnchanged(descriptor, kBoundaries, sizeof kBoundaries - 1);
}

// The bytes a target writes for the two-byte UTF-8 characters, U+0080 to U+07FF (Latin, Greek,
// Cyrillic, Hebrew, Arabic), learnt one character at a time as texts bring them. Saves 3% of the
// instructions of a whole run of 10,000 jobs with accented names (2.25 G through iconv, 2.18 G).
class TwoByteCharacters {
public:
    // Converts a text of ASCII and two-byte characters that each become one byte in the target
    // into `out`: what iconv would write, as a target that gives ASCII back unchanged and one
    // byte for a character (with nothing owed after it) keeps no state between characters, and
    // a transliteration depends on its character alone. False, with `out` unspecified, at the
    // first character that is not of that kind.
    bool convert(iconv_t descriptor, Transliterator *transliterator, const char *text,
                 size_t length, std::string &out)
    {
        out.resize(length); // never more bytes than the text
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
        size_t used = 0;
        for (size_t i = 0; i < length; ++i) {
            if (bytes[i] < 0x80) {
                out[used++] = static_cast<char>(bytes[i]);
                continue;
            }
            if (!IsTwoByteSequence(bytes + i, length - i))
                return false;
            const uint16_t entry = byteOf(descriptor, transliterator, text + i);
            if (entry == kNoByte)
                return false;
            out[used++] = static_cast<char>(entry & 0xFF);
            ++i;
        }
        out.resize(used);
        return true;
    }

private:
    enum : uint16_t { kUnknown = 0, kNoByte = 1, kByte = 0x100 }; // kByte | the byte

    // The entry of the character `sequence` starts, asked of iconv (or, for a character the
    // target lacks, of the transliterator) the first time: exactly one byte with nothing owed
    // after it, or kNoByte.
    uint16_t byteOf(iconv_t descriptor, Transliterator *transliterator, const char *sequence)
    {
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(sequence);
        const char32_t character =
            static_cast<char32_t>((bytes[0] & 0x1F) << 6 | (bytes[1] & 0x3F));
        uint16_t &entry = entries_[character - 0x80];
        if (entry != kUnknown)
            return entry;
        char written[8];
        char *in = const_cast<char *>(sequence), *end = written;
        size_t inLeft = 2, outLeft = sizeof written;
        iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
        const size_t result = iconv(descriptor, &in, &inLeft, &end, &outLeft);
        const bool lacking = result == kFailed && errno == EILSEQ;
        const bool exact = result == 0 && inLeft == 0 &&
                           iconv(descriptor, nullptr, nullptr, &end, &outLeft) == 0 &&
                           end == written + 1;
        std::string replacement;
        if (exact)
            entry = kByte | static_cast<unsigned char>(written[0]);
        else if (lacking && transliterator != nullptr &&
                 transliterator->Replace(character, replacement) && replacement.size() == 1)
            entry = kByte | static_cast<unsigned char>(replacement[0]);
        else
            entry = kNoByte;
        return entry;
    }

    uint16_t entries_[0x800 - 0x80] = {};
};

// One cached pair of encodings, and what was learnt about it when its descriptor opened.
struct Pair {
    std::string from, to;
    bool transliterate;
    iconv_t descriptor;
    Form form;                                  // of the source
    bool utf8ToUtf8;                            // a well-formed UTF-8 text comes out as it went in
    bool asciiToItself;                         // a text of ASCII only comes out as it went in
    std::unique_ptr<TwoByteCharacters> twoByte; // from UTF-8 into a target that gives ASCII back
    std::unique_ptr<Transliterator> transliterator; // when the pair transliterates
};

// True when `text` is known to come out of the pair unchanged, so that iconv need not run: the
// report texts are mostly ASCII, and the sniffer turns UTF-8 into UTF-8. Saves 12% of the
// instructions of a whole run of 10,000 jobs (bench-run's data under callgrind: 2.44 G when iconv
// converts every text, 2.18 G with the probes).
bool PassesUnchanged(const Pair &pair, const char *text, size_t length)
{
    if (pair.utf8ToUtf8)
        return IsValidUtf8(text, length);
    return pair.asciiToItself && AsciiPrefix(text, length) == length;
}

// Opening a descriptor loads a conversion module, which costs far more than converting a report
// text, and the services convert every text between the same few pairs. Only descriptors that
// opened are kept; the destructor closes them when the library is unloaded.
bool cacheDestroyed = false;

class DescriptorCache {
public:
    DescriptorCache() = default;
    DescriptorCache(const DescriptorCache &) = delete;
    DescriptorCache &operator=(const DescriptorCache &) = delete;
    ~DescriptorCache()
    {
        for (Pair &pair : pairs_)
            iconv_close(pair.descriptor);
        cacheDestroyed = true;
    }

    // Runs ConvertWith() with the cached descriptor of the pair, under the cache's lock, or copies
    // a text the pair is known to leave unchanged.
    Outcome convert(const std::string &from, const std::string &to, bool transliterate,
                    const char *text, size_t length, const Policy &policy, std::string &out)
    {
        std::lock_guard<std::mutex> hold(lock_);
        Pair *pair = find(from, to, transliterate);
        if (pair == nullptr && (pair = add(from, to, transliterate)) == nullptr)
            return Outcome::UnknownCharset;
        if (PassesUnchanged(*pair, text, length)) {
            out.assign(text, length);
            return Outcome::Converted;
        }
        Transliterator *transliterator = pair->transliterator.get();
        if (pair->twoByte != nullptr &&
            pair->twoByte->convert(pair->descriptor, transliterator, text, length, out))
            return Outcome::Converted;
        iconv(pair->descriptor, nullptr, nullptr, nullptr, nullptr); // back to the initial state
        return ConvertWith(pair->descriptor, pair->form, text, length, policy, transliterator, out);
    }

private:
    // A few pairs at most (each library has a cache of its own): a list is quickest to search.
    Pair *find(const std::string &from, const std::string &to, bool transliterate)
    {
        for (Pair &pair : pairs_) {
            if (pair.transliterate == transliterate && pair.from == from && pair.to == to)
                return &pair;
        }
        return nullptr;
    }

    // Opens, probes and keeps the pair; NULL when iconv knows a name not. Room is made before the
    // descriptor opens, so that nothing can throw while it is not yet kept.
    Pair *add(const std::string &from, const std::string &to, bool transliterate)
    {
        Pair pair = {from,  to,    transliterate, kNoDescriptor, FormOf(from),
                     false, false, nullptr,       nullptr};
        std::unique_ptr<TwoByteCharacters> twoByte(IsUtf8Name(from) ? new TwoByteCharacters
                                                                    : nullptr);
        if (transliterate)
            pair.transliterator = std::make_unique<Transliterator>(from, to);
        pairs_.reserve(pairs_.size() + 1);
        pair.descriptor = Open(from, to);
        if (pair.descriptor == kNoDescriptor)
            return nullptr;
        pair.asciiToItself = GivesAsciiBackUnchanged(pair.descriptor);
        pair.utf8ToUtf8 =
            IsUtf8Name(from) && IsUtf8Name(to) && GivesUtf8BackUnchanged(pair.descriptor);
        if (pair.asciiToItself && !pair.utf8ToUtf8)
            pair.twoByte = std::move(twoByte);
        pairs_.push_back(std::move(pair));
        return &pairs_.back();
    }

    std::mutex lock_;
    std::vector<Pair> pairs_;
};

// Where `to` carries a "//TRANSLIT" suffix, `to` without it: iconv's own transliteration would
// follow the calling thread's locale. Empty when there is none, which is nearly always.
std::string WithoutTransliterationSuffix(const std::string &to)
{
    static const char kSuffix[] = "//translit";
    const size_t suffixLength = sizeof kSuffix - 1;
    for (size_t at = to.find("//"); at != std::string::npos; at = to.find("//", at + 2)) {
        if (platform::AsciiEqualIgnoringCase(std::string_view(to).substr(at, suffixLength),
                                             kSuffix))
            return to.substr(0, at) + to.substr(at + suffixLength);
    }
    return std::string();
}

} // namespace

bool IsUtf8Name(const std::string &encoding)
{
    return NameMatches(encoding, "utf8", true);
}

bool IsName(const std::string &encoding, const char *name)
{
    return NameMatches(encoding, name, true);
}

Form FormOf(const std::string &encoding)
{
    if (NameMatches(encoding, "utf8", false))
        return Form::Utf8;
    for (const char *name : {"utf16", "ucs2", "unicode"}) {
        if (NameMatches(encoding, name, false))
            return Form::Utf16;
    }
    for (const char *name : {"utf32", "ucs4", "wchart"}) {
        if (NameMatches(encoding, name, false))
            return Form::Utf32;
    }
    return Form::Bytes;
}

bool IsValidUtf8(const char *text, size_t length)
{
    bool truncated = false;
    return WellFormedPrefix(text, length, truncated) == length;
}

Outcome Convert(const std::string &from, const std::string &to, const char *text, size_t length,
                const Policy &policy, std::string &out)
{
    out.clear();
    if (from.empty() || to.empty())
        return Outcome::UnknownCharset;
    const std::string stripped = WithoutTransliterationSuffix(to);
    const std::string &target = stripped.empty() ? to : stripped;
    const bool transliterate = policy.transliterate || !stripped.empty();
    static DescriptorCache cache;
    if (!cacheDestroyed)
        return cache.convert(from, target, transliterate, text, length, policy, out);
    // Called while the library is being unloaded (another library's exit handler): descriptors
    // of this call's own.
    std::unique_ptr<void, Closer> descriptor(Open(from, target));
    if (descriptor.get() == kNoDescriptor) {
        (void)descriptor.release(); // iconv's "no descriptor" is not one to close
        return Outcome::UnknownCharset;
    }
    std::unique_ptr<Transliterator> transliterator(transliterate ? new Transliterator(from, target)
                                                                 : nullptr);
    return ConvertWith(static_cast<iconv_t>(descriptor.get()), FormOf(from), text, length, policy,
                       transliterator.get(), out);
}

} // namespace charset
