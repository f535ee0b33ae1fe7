// Arbitrary text and charsets through the sniffer's three functions and the translation converter:
// nothing may crash, the sniffer's texts are always valid UTF-8, and so are the converter's
// whenever its target is UTF-8; the converter throws for an encoding it does not know, and only
// then.

#include "charset.h"
#include "sniffer.h"
#include "translation.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <system_error>

static const char *const kCharsets[] = {
    "UTF-8", "UTF-8//IGNORE", "utf8//TRANSLIT", "ISO-8859-15", "ISO-8859-15//IGNORE",
    "ISO-8859-5//TRANSLIT", "UTF-16", "UTF-16LE", "UTF-32BE", "UCS-2", "CP1252", "SHIFT_JIS",
    "ISO-2022-JP", "UTF-7", "NO-SUCH"};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const char *from = in.PickValueInArray(kCharsets), *to = in.PickValueInArray(kCharsets);
    const std::string text = in.ConsumeRemainingBytesAsString();
    for (int function = 0; function < 3; ++function) {
        char *result = nullptr;
        const int status = function == 0   ? SNF_Convert(text.data(), text.size(), from, &result)
                           : function == 1 ? SNF_ConvertUTF(text.data(), text.size(), &result)
                                           : SNF_AutoConvert(text.data(), text.size(), &result);
        if ((status == 1) != (result != nullptr))
            std::abort();
        if (result && !charset::IsValidUtf8(result, std::strlen(result)))
            std::abort();
        std::free(result);
    }
    const bool known = std::strcmp(from, "NO-SUCH") != 0 && std::strcmp(to, "NO-SUCH") != 0;
    std::string out;
    try {
        out = EncodingConverter().convertTo(to).convertFrom(from).convert(text).second;
    } catch (const std::system_error &) {
        // Only an encoding iconv does not know is refused: the text is never passed through.
        if (known)
            std::abort();
        return 0;
    }
    if (!known || (charset::IsUtf8Name(to) && !charset::IsValidUtf8(out.data(), out.size())))
        std::abort();
    return 0;
}
