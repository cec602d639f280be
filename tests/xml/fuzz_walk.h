// What the fuzz targets do with a parsed document: read it the way callers do and
// check the invariants every parse must keep.
#pragma once

#include <cstdlib>
#include <vector>

#include "tests/xml/xml_messages.h"
#include "xml/xml.h"

namespace xmltest {

inline void Check(bool condition) {
    if (!condition) abort();
}

// Walks every node without recursion, reading names, values, text and attributes.
inline void WalkAndCheck(const XmlDocument& doc, bool parsed) {
    std::u16string tag, message;
    uint32_t column = 0, line = 0;
    Check(doc.GetParseError(tag, column, line, message) == !parsed);
    if (!parsed) Check(IsFixedMessage(message));
    const XmlNode* root = doc.Root();
    Check(root != nullptr);
    std::vector<const XmlNode*> pending{root};
    std::size_t nodes = 0;
    while (!pending.empty()) {
        const XmlNode* node = pending.back();
        pending.pop_back();
        ++nodes;
        Check(node->Type() <= XmlType::Declaration);
        if (node->Type() == XmlType::Element && nodes < 64) (void)node->Text();
        for (std::size_t i = 0; i < node->AttributeCount(); ++i) (void)node->AttributeText(i);
        (void)node->Escape(node->Value());
        std::size_t pos;
        XmlNode* child;
        if (node->GetFirstChild(pos))
            while (node->GetNextChild(pos, child)) {
                Check(child->Parent() == node);
                pending.push_back(child);
            }
    }
    (void)root->Text();
}

}  // namespace xmltest
