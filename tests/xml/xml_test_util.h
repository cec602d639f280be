// Byte buffers in each encoding, a parse that keeps its document and error together, and
// a one-line picture of a tree.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml.h"

namespace xmltest {

using Bytes = std::vector<unsigned char>;

inline Bytes Utf8(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Each unit as bytes named by their significance: "21" is UTF-16LE, "12" UTF-16BE,
// "1234" UTF-32BE (of text below U+10000).
inline Bytes Encode(std::u16string_view text, std::string_view order) {
    Bytes out;
    for (char16_t c : text)
        for (char digit : order)
            out.push_back(static_cast<unsigned char>(uint32_t{c} >> (8 * (order.size() - (digit - '0')))));
    return out;
}

inline std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        char buf[12];
        snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
        out += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(buf);
    }
    return out;
}

// Each node as a type letter (P instruction, C comment, D CDATA, E element, T text,
// X declaration), its name, 'value' (of leaves), {attributes as name=raw, then =>text
// when that differs} and [children].
inline std::string Dump(const XmlNode& node) {
    std::string out(1, "UPCDETX"[node.Type()]);
    out += Narrow(node.Name());
    if (!node.Value().empty() && !node.ChildCount()) out.append("'").append(Narrow(node.Value())).append("'");
    for (std::size_t i = 0; i < node.AttributeCount(); ++i) {
        out.append(i ? " " : "{").append(Narrow(node.Attribute(i)->name)).append("=").append(Narrow(node.Attribute(i)->value));
        if (node.AttributeText(i) != node.Attribute(i)->value) out.append("=>").append(Narrow(node.AttributeText(i)));
        if (i + 1 == node.AttributeCount()) out += "}";
    }
    for (std::size_t i = 0; i < node.ChildCount(); ++i) out.append(i ? " " : "[").append(Dump(*node.Child(i)));
    return node.ChildCount() ? out + "]" : out;
}

struct Result {
    std::unique_ptr<XmlDocument> doc = std::make_unique<XmlDocument>();
    bool ok = false;
    std::string message, tag;  // narrow, for readable expectations
    uint32_t column = 0, line = 0;

    const XmlNode& root() const { return *doc->Root(); }
};

inline Result ParseBytes(const Bytes& bytes, uint32_t options = XmlDocument::kDefaultOptions) {
    Result r;
    r.doc->SetOptions(options);
    r.ok = r.doc->Parse(bytes.data(), bytes.size());
    std::u16string tag, message;
    bool error = r.doc->GetParseError(tag, r.column, r.line, message);
    r.message = error == r.ok ? "<error flag disagrees with the result>" : Narrow(message);
    r.tag = Narrow(tag);
    return r;
}

inline bool ParseInto(XmlDocument& doc, std::string_view text) { return doc.Parse(text.data(), text.size()); }

inline Result Parse(std::string_view text, uint32_t options = XmlDocument::kDefaultOptions) {
    return ParseBytes(Utf8(text), options);
}

}  // namespace xmltest
