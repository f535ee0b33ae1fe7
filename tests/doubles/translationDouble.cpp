// Translation double: programmable texts and conversions, and one ordered list of every call.

#include "doubles.h"

#include "translation.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace translationDouble {

State state;

std::vector<std::string> Events(const std::string &prefix)
{
    std::vector<std::string> found;
    std::copy_if(state.events.begin(), state.events.end(), std::back_inserter(found),
                 [&](const std::string &event) { return event.rfind(prefix, 0) == 0; });
    return found;
}

std::string Hex(const std::string &text)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : text)
        hex += std::string{kDigits[byte >> 4], kDigits[byte & 0x0f]};
    return hex;
}

} // namespace translationDouble

using translationDouble::state;

namespace {

void Event(const std::string &event, const char *member = nullptr)
{
    state.events.push_back(event);
    if (member && state.throwIn == member)
        throw std::runtime_error(std::string("translation double: ") + member + " throws");
}

} // namespace

extern "C" int Trans_Init(void)
{
    Event("Trans_Init()");
    ++state.initCalls;
    return state.initResult;
}

extern "C" int Trans_TranslateString(const char *language, unsigned int stringId, const char **text)
{
    static std::map<unsigned, std::string> texts; // kept, so the texts handed out stay valid
    Event(std::string("Trans_TranslateString(") + (language ? language : "NULL") + ", " +
          std::to_string(stringId) + ")");
    *text = nullptr;
    if (state.translationErrors.count(stringId))
        return state.translationErrors[stringId];
    *text = (texts[stringId] = "T" + std::to_string(stringId)).c_str();
    return TRANS_OK;
}

extern "C" int Trans_ConvertUTF8StringToHex(char *out, const char *text, int maxBytes)
{
    Event(std::string("Trans_ConvertUTF8StringToHex(") + (text ? text : "NULL") + ", " +
          std::to_string(maxBytes) + ")");
    if (!out || !text || maxBytes < 1)
        return -1;
    if (state.hexResults.count(text))
        return state.hexResults[text];
    std::string hex = translationDouble::Hex(text).substr(0, (maxBytes - 1) / 2 * 2);
    hex.copy(out, hex.size());
    out[hex.size()] = '\0';
    return static_cast<int>(hex.size());
}

Translater::Translater(const std::string &language) : encoding_(state.printEncoding)
{
    Event("Translater(" + language + ")", "Translater");
    ++state.liveObjects;
}

Translater::~Translater() { Event("~Translater()"); --state.liveObjects; }

std::string Translater::printEncoding() const
{ return Event("printEncoding()", "printEncoding"), encoding_; }

EncodingConverter::EncodingConverter() { Event("EncodingConverter()"); ++state.liveObjects; }

EncodingConverter::~EncodingConverter() { Event("~EncodingConverter()"); --state.liveObjects; }

EncodingConverter &EncodingConverter::convertTo(const std::string &encoding)
{ return Event("convertTo(" + encoding + ")", "convertTo"), to_ = encoding, *this; }

EncodingConverter &EncodingConverter::convertFrom(const std::string &encoding)
{ return Event("convertFrom(" + encoding + ")", "convertFrom"), from_ = encoding, *this; }

EncodingConverter::ConversionResults EncodingConverter::convert(const std::string &text)
{
    Event("convert(" + text + ")", "convert");
    return ConversionResults(from_, state.conversion ? state.conversion(text) : text);
}
