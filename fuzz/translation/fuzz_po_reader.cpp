// Arbitrary bytes as a catalogue: the PO reader must get through anything, with at most its few
// problems reported. (What the service then converts is fuzzed with the converter in fuzz/sniffer.)

#include "po_reader.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    if (translation::ReadPo(bytes).problems.size() > 10)
        std::abort();
    return 0;
}
