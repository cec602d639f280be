// Fuzz target: whatever expat accepts as well-formed (without DOCTYPE) our parser
// accepts with the rule-file options, with the same elements, attributes and text.
#include <cstdio>
#include <cstdlib>

#include "tests/xml/expat_compare.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::optional<std::string> difference = xmldiff::Compare(data, size);
    if (difference && !difference->empty()) {
        fprintf(stderr, "%s\n", difference->c_str());
        abort();
    }
    return 0;
}
