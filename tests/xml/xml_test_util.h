// Helpers shared by the parser tests: byte buffers in each encoding and a parse
// that keeps its document and error together.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml.h"

namespace xmltest {

using Bytes = std::vector<unsigned char>;

inline Bytes Utf8(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline Bytes Utf16LE(std::u16string_view text, bool bom = false, bool terminator = false) {
    Bytes out;
    if (bom) out = {0xFF, 0xFE};
    for (char16_t c : text) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
    if (terminator) out.insert(out.end(), {0, 0});
    return out;
}

inline Bytes Utf16BE(std::u16string_view text, bool bom = false) {
    Bytes out;
    if (bom) out = {0xFE, 0xFF};
    for (char16_t c : text) {
        out.push_back(static_cast<unsigned char>(c >> 8));
        out.push_back(static_cast<unsigned char>(c & 0xFF));
    }
    return out;
}

// order names the significance of each byte of a unit, as "1234" (big-endian).
inline Bytes Utf32(std::u16string_view ascii, std::string_view order) {
    Bytes out;
    for (char16_t c : ascii) {
        uint32_t v = c;
        for (char digit : order) out.push_back(static_cast<unsigned char>(v >> (8 * (4 - (digit - '0')))));
    }
    return out;
}

inline std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[12];
            snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

// Inverse of Narrow for ASCII text.
inline std::u16string FromNarrow(std::string_view text) { return std::u16string(text.begin(), text.end()); }

struct Result {
    std::unique_ptr<XmlDocument> doc = std::make_unique<XmlDocument>();
    bool ok = false;
    std::string message;  // narrow copy of the error message, for readable expectations
    std::string tag;
    uint32_t column = 0;
    uint32_t line = 0;

    const XmlNode& root() const { return *doc->Root(); }
    // The i-th child of the root, then its j-th child, and so on.
    const XmlNode* at(std::initializer_list<std::size_t> path) const {
        const XmlNode* node = doc->Root();
        for (std::size_t i : path) {
            if (!node) return nullptr;
            node = node->Child(i);
        }
        return node;
    }
};

inline Result ParseBytes(const Bytes& bytes, uint32_t options = XmlDocument::kDefaultOptions) {
    Result r;
    r.doc->SetOptions(options);
    r.ok = r.doc->Parse(bytes.data(), bytes.size());
    std::u16string tag, message;
    bool error = r.doc->GetParseError(tag, r.column, r.line, message);
    if (error == r.ok) r.message = "<error flag disagrees with the result>";
    else r.message = Narrow(message);
    r.tag = Narrow(tag);
    return r;
}

inline Result Parse(std::string_view text, uint32_t options = XmlDocument::kDefaultOptions) {
    return ParseBytes(Utf8(text), options);
}

// The rule reader's way: UTF-16LE with its terminating zero unit and the rule-file settings.
inline Result ParseRuleFile(std::u16string_view text) {
    Result r;
    r.doc->ApplyRuleFileSettings();
    Bytes bytes = Utf16LE(text, false, true);
    r.ok = r.doc->Parse(bytes.data(), bytes.size());
    std::u16string tag, message;
    r.doc->GetParseError(tag, r.column, r.line, message);
    r.message = Narrow(message);
    r.tag = Narrow(tag);
    return r;
}

}  // namespace xmltest
