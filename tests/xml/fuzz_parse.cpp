// Fuzz target: any bytes parsed with the default options, and followed by a zero unit
// with the rule-file settings; every node of the result is read and checked.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "xml/xml.h"

namespace {

void Check(bool condition) {
    if (!condition) abort();
}

void WalkAndCheck(const XmlDocument& doc, bool parsed) {
    std::u16string tag, message;
    uint32_t column = 0, line = 0;
    Check(doc.GetParseError(tag, column, line, message) == !parsed);
    Check(message.empty() == parsed);
    std::vector<const XmlNode*> pending{doc.Root()};
    for (std::size_t nodes = 1; !pending.empty(); ++nodes) {
        const XmlNode* node = pending.back();
        pending.pop_back();
        Check(node->Type() <= XmlType::Declaration);
        if (node->Type() == XmlType::Element && nodes < 64) (void)node->Text();
        for (std::size_t i = 0; i < node->AttributeCount(); ++i) (void)node->AttributeText(i);
        (void)node->Escape(node->Value());
        std::size_t pos;
        XmlNode* child;
        for (node->GetFirstChild(pos); node->GetNextChild(pos, child); pending.push_back(child))
            Check(child->Parent() == node);
    }
    (void)doc.Root()->Text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    XmlDocument plain;
    WalkAndCheck(plain, plain.Parse(data, size));
    std::vector<uint8_t> terminated(data, data + size);
    terminated.insert(terminated.end(), {0, 0});
    XmlDocument rules;
    rules.ApplyRuleFileSettings();
    WalkAndCheck(rules, rules.Parse(terminated.data(), terminated.size()));
    return 0;
}
