// Fuzz target: whatever expat accepts as well-formed (without DOCTYPE) our parser
// accepts with the rule-file options, with the same elements, attributes and text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/xml/expat_compare.h"
#include "xml/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    xmldiff::Encoding encoding;
    if (!xmldiff::DetectedEncoding(data, size, encoding)) return 0;
    if (xmldiff::HasBrokenSurrogates(data, size, encoding)) return 0;
    xmldiff::Outcome expat = xmldiff::ParseWithExpat(data, size, encoding);
    if (!expat.accepted || expat.doctype || expat.emptyVersion) return 0;
    xmldiff::Outcome ours = xmldiff::ParseWithOurs(data, size, kXmlRuleFileOptions);
    if (!ours.accepted) {
        // Nesting beyond our bound is refused by design.
        if (ours.error == "Internal error: Could not create new element.") return 0;
        fprintf(stderr, "expat accepts, we refuse: %s\n", ours.error.c_str());
        abort();
    }
    if (ours.canonical != expat.canonical) {
        fprintf(stderr, "trees differ\nexpat: %s\nours:  %s\n", expat.canonical.c_str(), ours.canonical.c_str());
        abort();
    }
    return 0;
}
