// Fuzz target: any bytes parsed with the default options, then followed by a zero unit
// with the rule-file settings in the same document; every node of the result is read.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "xml/xml.h"

static void WalkAndCheck(const XmlDocument& doc, bool parsed) {
    std::u16string tag, message;
    uint32_t column = 0, line = 0;
    if (doc.GetParseError(tag, column, line, message) == parsed || message.empty() != parsed) abort();
    std::vector<const XmlNode*> pending{doc.Root()};
    while (!pending.empty()) {
        const XmlNode* node = pending.back();
        pending.pop_back();
        for (std::size_t i = 0; i < node->AttributeCount(); ++i) (void)node->AttributeText(i);
        std::size_t pos;
        XmlNode* child;
        for (node->GetFirstChild(pos); node->GetNextChild(pos, child); pending.push_back(child))
            if (child->Parent() != node) abort();
    }
    (void)doc.Root()->Text();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    XmlDocument doc;
    WalkAndCheck(doc, doc.Parse(data, size));
    std::vector<uint8_t> terminated(data, data + size);
    terminated.insert(terminated.end(), {0, 0});
    doc.ApplyRuleFileSettings();
    WalkAndCheck(doc, doc.Parse(terminated.data(), terminated.size()));
    return 0;
}
