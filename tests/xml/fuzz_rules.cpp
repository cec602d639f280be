// Fuzz target: any bytes followed by a zero unit, parsed with the rule-file settings.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/xml/fuzz_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> buffer(data, data + size);
    buffer.push_back(0);
    buffer.push_back(0);
    XmlDocument doc;
    doc.ApplyRuleFileSettings();
    bool parsed = doc.Parse(buffer.data(), buffer.size());
    xmltest::WalkAndCheck(doc, parsed);
    return 0;
}
