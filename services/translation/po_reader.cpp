// The PO catalogue reader of the translation stand-in: a small scanner over the file's bytes that
// collects entries and syntax problems with their lines. Texts keep the file's bytes; converting
// them from the catalogue's charset is the caller's business.

#include "po_reader.h"

#include "platform.h"

#include <algorithm>
#include <cstdlib>

namespace translation {
namespace {

// A broken file is unusable whatever follows; a few lines are enough to find the trouble.
const size_t kMaxProblems = 10;

// Keywords are ASCII ("msgstr[0]"), whatever the host's locale calls a letter.
bool IsKeywordCharacter(char c)
{
    return platform::IsAsciiAlpha(c) || platform::IsAsciiDigit(c) || c == '_' || c == '[' ||
           c == ']';
}

class Reader {
public:
    explicit Reader(const std::string &bytes) : text_(bytes) {}

    PoFile read()
    {
        while (file_.problems.size() < kMaxProblems && skipBlanksAndComments()) {
            const char c = text_[position_];
            if (c == '"')
                strayString();
            else if (platform::IsAsciiAlpha(c))
                keyword();
            else
                skipEntry(line_, "unexpected character");
        }
        finishEntry();
        return std::move(file_);
    }

private:
    enum class Field { None, Context, Source, Plural, Translation };

    bool atEnd() const { return position_ >= text_.size(); }

    // Moves to the next token; a "#," comment that names "fuzzy" flags the next entry. False at
    // the end of the text.
    bool skipBlanksAndComments()
    {
        while (!atEnd()) {
            const char c = text_[position_];
            if (c == '#') {
                const size_t end = std::min(text_.find('\n', position_), text_.size());
                if (text_.compare(position_, 2, "#,") == 0 &&
                    text_.substr(position_, end - position_).find("fuzzy") != std::string::npos)
                    fuzzyPending_ = true;
                position_ = end;
            } else if (platform::IsAsciiSpace(c)) {
                if (c == '\n')
                    ++line_;
                ++position_;
            } else {
                return true;
            }
        }
        return false;
    }

    void keyword()
    {
        const size_t start = position_, line = line_;
        while (!atEnd() && IsKeywordCharacter(text_[position_]))
            ++position_;
        const std::string word = text_.substr(start, position_ - start);
        std::string *target = nullptr;
        skipping_ = false;
        if (word == "msgctxt" || (word == "msgid" && field_ != Field::Context)) {
            finishEntry();
            entry_ = PoEntry();
            entry_.line = line;
            entry_.fuzzy = fuzzyPending_;
            entry_.hasContext = word == "msgctxt";
            fuzzyPending_ = false;
            field_ = entry_.hasContext ? Field::Context : Field::Source;
            target = entry_.hasContext ? &entry_.context : &entry_.source;
        } else if (word == "msgid") {
            field_ = Field::Source;
            target = &entry_.source;
        } else if (word == "msgid_plural" && field_ == Field::Source) {
            field_ = Field::Plural;
        } else if (word == "msgstr" && field_ == Field::Source) {
            field_ = Field::Translation;
            target = &entry_.translation;
        } else if (word.compare(0, 7, "msgstr[") == 0 &&
                   (field_ == Field::Plural || field_ == Field::Translation)) {
            field_ = Field::Translation;
            target = word == "msgstr[0]" ? &entry_.translation : nullptr;
        } else {
            return skipEntry(line, "unexpected keyword \"" + word + "\"");
        }
        if (!skipBlanksAndComments() || text_[position_] != '"')
            return skipEntry(line, word + " without a string");
        std::string discarded;
        while (skipBlanksAndComments() && text_[position_] == '"') {
            if (!readString(target != nullptr ? *target : discarded))
                return skipEntry(line_, "string not closed on its line");
        }
    }

    // Reads one "..." and appends its bytes, escapes resolved. False when the line ends first.
    bool readString(std::string &out)
    {
        for (++position_; !atEnd() && text_[position_] != '\n'; ++position_) {
            const char c = text_[position_];
            if (c == '"') {
                ++position_;
                return true;
            }
            if (c != '\\') {
                out += c;
            } else if (!readEscape(out)) {
                return false;
            }
        }
        return false;
    }

    // At a backslash: appends the byte it stands for, leaving position_ on its last character.
    bool readEscape(std::string &out)
    {
        if (++position_ >= text_.size())
            return false;
        static const std::string kSimple = "ntrabfv\\\"'?", kValues = "\n\t\r\a\b\f\v\\\"'?";
        const char c = text_[position_];
        const size_t simple = kSimple.find(c);
        if (simple != std::string::npos) {
            out += kValues[simple];
            return true;
        }
        const bool hex = c == 'x';
        const std::string digits = hex ? "0123456789abcdefABCDEF" : "01234567";
        const size_t first = position_ + (hex ? 1 : 0), maxDigits = hex ? 2 : 3;
        size_t count = 0;
        while (count < maxDigits && first + count < text_.size() &&
               digits.find(text_[first + count]) != std::string::npos)
            ++count;
        if (count == 0)
            return false;
        out += static_cast<char>(
            std::strtoul(text_.substr(first, count).c_str(), nullptr, hex ? 16 : 8));
        position_ = first + count - 1;
        return true;
    }

    // A string where no keyword wants one; those that follow a problem are part of it.
    void strayString()
    {
        std::string discarded;
        if (!skipping_)
            skipEntry(line_, "string without a keyword");
        else if (!readString(discarded))
            position_ = std::min(text_.find('\n', position_), text_.size());
    }

    // Records a problem and drops the entry it is in; reading goes on at the next keyword.
    void skipEntry(size_t line, const std::string &message)
    {
        fail(line, message);
        field_ = Field::None;
        skipping_ = true;
        while (!atEnd() && text_[position_] != '\n')
            ++position_;
    }

    void fail(size_t line, const std::string &message)
    {
        if (file_.problems.size() < kMaxProblems)
            file_.problems.push_back({line, message});
    }

    void finishEntry()
    {
        if (field_ == Field::Context || field_ == Field::Source || field_ == Field::Plural)
            fail(entry_.line, "entry without msgstr");
        if (field_ == Field::Translation)
            file_.entries.push_back(std::move(entry_));
        field_ = Field::None;
    }

    const std::string &text_;
    size_t position_ = 0;
    size_t line_ = 1;
    bool fuzzyPending_ = false;
    bool skipping_ = false; // after a problem, until the next keyword
    Field field_ = Field::None;
    PoEntry entry_;
    PoFile file_;
};

} // namespace

PoFile ReadPo(const std::string &bytes)
{
    return Reader(bytes).read();
}

} // namespace translation
