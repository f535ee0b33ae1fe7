/*
 * translationDouble.h - control of the translation service's test double.
 *
 * Every call into the service, the C functions and the members of Translater and
 * EncodingConverter alike, is appended to one event list, so that a test can check the order of
 * construction, use and destruction around a conversion:
 *
 *     "Trans_Init()"
 *     "Trans_TranslateString(fr, 20200)"
 *     "Trans_ConvertUTF8StringToHex(Subject, 511)"
 *     "EncodingConverter()"             "~EncodingConverter()"
 *     "Translater(fr)"                  "~Translater()"
 *     "printEncoding()"                 (answers PrintEncoding(), default "ISO-8859-15")
 *     "convertTo(ISO-8859-15)"          "convertFrom(UTF-8)"
 *     "convert(Subject)"                (answers the conversion, default unchanged text)
 */
#ifndef TESTS_DOUBLES_TRANSLATIONDOUBLE_H
#define TESTS_DOUBLES_TRANSLATIONDOUBLE_H

#include <functional>
#include <string>
#include <vector>

namespace translationDouble {

// Back to the defaults below; forgets the events.
void Reset();

const std::vector<std::string> &Events();
// Events whose text starts with `prefix`, e.g. "Trans_ConvertUTF8StringToHex(".
std::vector<std::string> EventsStartingWith(const std::string &prefix);

// Trans_Init answers `result` (default 0).
void SetInitResult(int result);
int InitCalls();

// Trans_TranslateString: the text of a string id (default "T<id>", e.g. "T20200"), or the
// error `error` for one id.
void SetTranslation(unsigned stringId, const std::string &text);
void FailTranslation(unsigned stringId, int error);

// Trans_ConvertUTF8StringToHex works like the service's: lowercase hex of the bytes, cut to the
// whole bytes that fit maxBytes with the NUL, result the number of digits. FailHexOnCall(n)
// makes the n-th call from now (1 = the next) answer `result` and write nothing; FailHexFor
// makes every call for that text fail.
void FailHexOnCall(int n, int result = -1);
void FailHexFor(const std::string &text, int result = -1);
int HexCalls();

// The converter side.
void SetPrintEncoding(const std::string &encoding);
// The conversion that convert() applies (default: the text unchanged).
void SetConversion(std::function<std::string(const std::string &)> conversion);
// Makes one member throw std::runtime_error: "Translater", "printEncoding", "convertTo",
// "convertFrom" or "convert" (empty: none).
void ThrowIn(const std::string &member);
// Translater and EncodingConverter objects alive now.
int LiveObjects();

// Lowercase hex of the bytes of `text`, as this double and the service write it.
std::string Hex(const std::string &text);

} // namespace translationDouble

#endif
