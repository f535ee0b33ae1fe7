// Translation double: programmable texts and conversions, and one ordered list of every call.

#include "translationDouble.h"

#include "translation.h"

#include <cstring>
#include <map>
#include <stdexcept>

namespace {

std::vector<std::string> events;
int initResult = 0;
int initCalls = 0;
std::map<unsigned, std::string> translations;
std::map<unsigned, int> translationErrors;
int hexCalls = 0;
int hexFailCall = 0; // absolute call number that fails, 0 = none
int hexFailResult = -1;
std::map<std::string, int> hexFailTexts;
std::string printEncodingName = "ISO-8859-15";
std::function<std::string(const std::string &)> conversion;
std::string throwingMember;
int liveObjects = 0;

void ThrowIfChosen(const char *member)
{
    if (throwingMember == member)
        throw std::runtime_error(std::string("translation double: ") + member + " throws");
}

} // namespace

extern "C" int Trans_Init(void)
{
    events.push_back("Trans_Init()");
    ++initCalls;
    return initResult;
}

extern "C" int Trans_TranslateString(const char *language, unsigned int stringId, const char **text)
{
    events.push_back(std::string("Trans_TranslateString(") + (language ? language : "NULL") +
                     ", " + std::to_string(stringId) + ")");
    if (!text)
        return TRANS_ERR_ARGUMENT;
    *text = nullptr;
    auto error = translationErrors.find(stringId);
    if (error != translationErrors.end())
        return error->second;
    auto found = translations.find(stringId);
    if (found == translations.end())
        found = translations.emplace(stringId, "T" + std::to_string(stringId)).first;
    *text = found->second.c_str();
    return TRANS_OK;
}

extern "C" int Trans_ConvertUTF8StringToHex(char *out, const char *text, int maxBytes)
{
    events.push_back(std::string("Trans_ConvertUTF8StringToHex(") + (text ? text : "NULL") + ", " +
                     std::to_string(maxBytes) + ")");
    ++hexCalls;
    if (hexCalls == hexFailCall)
        return hexFailResult;
    if (text) {
        auto failing = hexFailTexts.find(text);
        if (failing != hexFailTexts.end())
            return failing->second;
    }
    if (!out || !text || maxBytes < 1)
        return -1;
    size_t fitting = static_cast<size_t>(maxBytes - 1) / 2;
    size_t length = std::strlen(text);
    if (length > fitting)
        length = fitting;
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < length; ++i) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        out[2 * i] = digits[byte >> 4];
        out[2 * i + 1] = digits[byte & 0x0f];
    }
    out[2 * length] = '\0';
    return static_cast<int>(2 * length);
}

Translater::Translater(const std::string &language) : encoding_(printEncodingName)
{
    events.push_back("Translater(" + language + ")");
    ThrowIfChosen("Translater");
    ++liveObjects;
}

Translater::~Translater()
{
    events.push_back("~Translater()");
    --liveObjects;
}

std::string Translater::printEncoding() const
{
    events.push_back("printEncoding()");
    ThrowIfChosen("printEncoding");
    return encoding_;
}

EncodingConverter::EncodingConverter()
{
    events.push_back("EncodingConverter()");
    ++liveObjects;
}

EncodingConverter::~EncodingConverter()
{
    events.push_back("~EncodingConverter()");
    --liveObjects;
}

EncodingConverter &EncodingConverter::convertTo(const std::string &encoding)
{
    events.push_back("convertTo(" + encoding + ")");
    ThrowIfChosen("convertTo");
    to_ = encoding;
    return *this;
}

EncodingConverter &EncodingConverter::convertFrom(const std::string &encoding)
{
    events.push_back("convertFrom(" + encoding + ")");
    ThrowIfChosen("convertFrom");
    from_ = encoding;
    return *this;
}

EncodingConverter::ConversionResults EncodingConverter::convert(const std::string &text)
{
    events.push_back("convert(" + text + ")");
    ThrowIfChosen("convert");
    return ConversionResults(from_, conversion ? conversion(text) : text);
}

namespace translationDouble {

void Reset()
{
    events.clear();
    initResult = 0;
    initCalls = 0;
    translations.clear();
    translationErrors.clear();
    hexCalls = 0;
    hexFailCall = 0;
    hexFailResult = -1;
    hexFailTexts.clear();
    printEncodingName = "ISO-8859-15";
    conversion = nullptr;
    throwingMember.clear();
    liveObjects = 0;
}

const std::vector<std::string> &Events() { return events; }

std::vector<std::string> EventsStartingWith(const std::string &prefix)
{
    std::vector<std::string> found;
    for (const std::string &event : events)
        if (event.compare(0, prefix.size(), prefix) == 0)
            found.push_back(event);
    return found;
}

void SetInitResult(int result) { initResult = result; }
int InitCalls() { return initCalls; }

void SetTranslation(unsigned stringId, const std::string &text) { translations[stringId] = text; }
void FailTranslation(unsigned stringId, int error) { translationErrors[stringId] = error; }

void FailHexOnCall(int n, int result)
{
    hexFailCall = hexCalls + n;
    hexFailResult = result;
}

void FailHexFor(const std::string &text, int result) { hexFailTexts[text] = result; }
int HexCalls() { return hexCalls; }

void SetPrintEncoding(const std::string &encoding) { printEncodingName = encoding; }
void SetConversion(std::function<std::string(const std::string &)> function)
{
    conversion = std::move(function);
}
void ThrowIn(const std::string &member) { throwingMember = member; }
int LiveObjects() { return liveObjects; }

std::string Hex(const std::string &text)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : text) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0f];
    }
    return hex;
}

} // namespace translationDouble
