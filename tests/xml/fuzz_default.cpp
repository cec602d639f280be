// Fuzz target: any bytes, parsed with the default options.
#include <cstddef>
#include <cstdint>

#include "tests/xml/fuzz_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    XmlDocument doc;
    bool parsed = doc.Parse(data, size);
    xmltest::WalkAndCheck(doc, parsed);
    return 0;
}
