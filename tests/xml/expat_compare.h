// The differential check: a document expat accepts (without DOCTYPE) our parser accepts
// with the rule-file options, with the same elements, attributes and character data.
#pragma once

#include <expat.h>

#include <codecvt>
#include <locale>
#include <optional>
#include <string>

#include "tests/xml/xml_test_util.h"
#include "xml/xml_internal.h"

namespace xmldiff {

// Decodes well-formed UTF-8 (expat's output, the tests' documents).
inline std::u16string FromUtf8(std::string_view s) {
    return std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t>().from_bytes(s.data(), s.data() + s.size());
}

inline bool AllSpace(std::u16string_view text) { return text.find_first_not_of(u" \t\r\n") == text.npos; }

// Length-prefixed, so no content can imitate structure.
inline std::u16string& Put(std::u16string& out, char16_t kind, std::u16string_view text) {
    out += kind;
    for (char digit : std::to_string(text.size())) out += static_cast<char16_t>(digit);
    return out.append(u":").append(text);
}

// The canonical form from expat's events: a run of character data between two other
// events is one text item, as a text node is one node in our tree.
struct ExpatState {
    std::u16string out;
    std::string run;
    bool inCData = false, doctype = false, emptyVersion = false;
    int depth = 0;

    void Flush() {
        std::u16string text = FromUtf8(run);
        if (inCData) Put(out, u'C', text);
        if (!inCData && depth > 0 && !AllSpace(text)) Put(out, u'T', text);
        run.clear();
    }
};

inline ExpatState& State(void* user) { return *static_cast<ExpatState*>(user); }

inline void Canonical(const XmlNode& element, std::u16string& out) {
    Put(out, u'E', element.Name());
    for (std::size_t i = 0; i < element.AttributeCount(); ++i)
        Put(Put(out, u'A', element.Attribute(i)->name), u'V', element.AttributeText(i));
    out += u'(';
    for (std::size_t i = 0; i < element.ChildCount(); ++i) {
        const XmlNode& child = *element.Child(i);
        if (child.Type() == XmlType::Element) Canonical(child, out);
        if (child.Type() == XmlType::Text && !AllSpace(child.Text())) Put(out, u'T', child.Text());
        if (child.Type() == XmlType::CData) Put(out, u'C', child.Value());
    }
    out += u')';
}

// A surrogate without its partner makes no document; expat pairs a high one with anything.
inline bool HasBrokenSurrogates(const unsigned char* data, std::size_t size, bool bigEndian) {
    bool expectLow = false;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        unsigned unit = bigEndian ? (data[i] << 8 | data[i + 1]) : (data[i] | data[i + 1] << 8);
        if (expectLow != (unit >= 0xDC00 && unit <= 0xDFFF)) return true;
        expectLow = unit >= 0xD800 && unit <= 0xDBFF;
    }
    return expectLow;
}

// How our tree differs from expat's ("" when it does not), or nothing when not compared:
// 32-bit or undeterminable encodings, broken surrogates, what expat refuses, and what we
// refuse by design (DOCTYPE, version="", nesting beyond our bound).
inline std::optional<std::string> Compare(const unsigned char* data, std::size_t size) {
    using xmlinternal::Encoding;
    if (size < 4) return std::nullopt;
    xmlinternal::Detection detection = xmlinternal::DetectEncoding(data, size);
    if (detection.error || detection.encoding > Encoding::Utf16BE) return std::nullopt;
    const bool big = detection.encoding == Encoding::Utf16BE, eightBit = detection.encoding == Encoding::EightBit;
    if (!eightBit && HasBrokenSurrogates(data, size, big)) return std::nullopt;
    XML_Parser parser = XML_ParserCreate(eightBit ? "UTF-8" : big ? "UTF-16BE" : "UTF-16LE");
    ExpatState expat;
    XML_SetUserData(parser, &expat);
    XML_SetElementHandler(
        parser,
        [](void* user, const XML_Char* name, const XML_Char** attributes) {
            ExpatState& s = State(user);
            s.Flush();
            Put(s.out, u'E', FromUtf8(name));
            for (const XML_Char** a = attributes; a[0]; a += 2) Put(Put(s.out, u'A', FromUtf8(a[0])), u'V', FromUtf8(a[1]));
            s.out += u'(';
            ++s.depth;
        },
        [](void* user, const XML_Char*) {
            State(user).Flush();
            State(user).out += u')';
            --State(user).depth;
        });
    XML_SetCharacterDataHandler(parser, [](void* user, const XML_Char* text, int length) {
        State(user).run.append(text, static_cast<std::size_t>(length));
    });
    XML_SetCommentHandler(parser, [](void* user, const XML_Char*) { State(user).Flush(); });
    XML_SetProcessingInstructionHandler(parser,
                                        [](void* user, const XML_Char*, const XML_Char*) { State(user).Flush(); });
    auto cdataEdge = [](void* user) {
        State(user).Flush();
        State(user).inCData = !State(user).inCData;
    };
    XML_SetCdataSectionHandler(parser, cdataEdge, cdataEdge);
    XML_SetStartDoctypeDeclHandler(parser, [](void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        State(user).doctype = true;
    });
    XML_SetXmlDeclHandler(parser, [](void* user, const XML_Char* version, const XML_Char*, int) {
        State(user).emptyVersion |= version && !*version;
    });
    const bool accepted =
        XML_Parse(parser, reinterpret_cast<const char*>(data), static_cast<int>(size), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!accepted || expat.doctype || expat.emptyVersion) return std::nullopt;
    XmlDocument doc;
    doc.SetOptions(kXmlRuleFileOptions);
    if (!doc.Parse(data, size)) {
        std::string error = xmltest::Narrow(doc.ErrorMessage());
        if (error == "Internal error: Could not create new element.") return std::nullopt;
        return "expat accepts, we refuse: " + error;
    }
    std::u16string ours;
    for (std::size_t i = 0; i < doc.Root()->ChildCount(); ++i)
        if (doc.Root()->Child(i)->Type() == XmlType::Element) Canonical(*doc.Root()->Child(i), ours);
    if (ours == expat.out) return "";
    return "trees differ\nexpat: " + xmltest::Narrow(expat.out) + "\nours:  " + xmltest::Narrow(ours);
}

}  // namespace xmldiff
