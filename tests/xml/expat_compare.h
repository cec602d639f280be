// The differential check: a document expat accepts (without DOCTYPE) our parser accepts
// with the rule-file options, with the same elements, attributes and character data.
#pragma once

#include <expat.h>

#include <codecvt>
#include <locale>
#include <optional>

#include "tests/xml/xml_test_util.h"
#include "xml/xml.h"
#include "xml/xml_internal.h"

namespace xmldiff {

// Decodes well-formed UTF-8 (expat's output, the tests' documents).
inline std::u16string FromUtf8(std::string_view s) {
    return std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t>().from_bytes(s.data(), s.data() + s.size());
}

inline bool AllSpace(std::u16string_view text) { return text.find_first_not_of(u" \t\r\n") == text.npos; }

// Length-prefixed, so no content can imitate structure.
inline std::u16string& Put(std::u16string& out, char16_t kind, std::u16string_view text) {
    return out.append(1, kind).append(FromUtf8(std::to_string(text.size()))).append(u":").append(text);
}

// The canonical form from expat's events: a run of character data between two other
// events is one text item, as a text node is one node in our tree.
struct Expat {
    std::u16string out;
    std::string run;
    bool inCData = false, dtd = false;

    // Outside elements there is only white space, which neither side keeps.
    static Expat& Flush(void* user) {
        Expat& s = *static_cast<Expat*>(user);
        const std::u16string text = FromUtf8(s.run);
        if (s.inCData || !AllSpace(text)) Put(s.out, s.inCData ? u'C' : u'T', text);
        s.run.clear();
        return s;
    }
    static void Start(void* user, const XML_Char* name, const XML_Char** attributes) {
        std::u16string& out = Put(Flush(user).out, u'E', FromUtf8(name));
        for (const XML_Char** a = attributes; a[0]; a += 2) Put(Put(out, u'A', FromUtf8(a[0])), u'V', FromUtf8(a[1]));
        out += u'(';
    }
    static void End(void* user, const XML_Char*) { Flush(user).out += u')'; }
    static void Chars(void* user, const XML_Char* text, int length) {
        static_cast<Expat*>(user)->run.append(text, static_cast<std::size_t>(length));
    }
    static void Doctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) { Flush(user).dtd = true; }
    static void CDataEdge(void* user) {
        Expat& s = Flush(user);
        s.inCData = !s.inCData;
    }
};

// Our tree in the same form.
inline void Canonical(const XmlNode& parent, std::u16string& out) {
    for (std::size_t i = 0; i < parent.ChildCount(); ++i) {
        const XmlNode& child = *parent.Child(i);
        if (child.Type() == XmlType::Text && !AllSpace(child.Text())) Put(out, u'T', child.Text());
        if (child.Type() == XmlType::CData) Put(out, u'C', child.Value());
        if (child.Type() != XmlType::Element) continue;
        Put(out, u'E', child.Name());
        for (std::size_t a = 0; a < child.AttributeCount(); ++a)
            Put(Put(out, u'A', child.Attribute(a)->name), u'V', child.AttributeText(a));
        Canonical(child, out += u'(');
        out += u')';
    }
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
    Expat expat;
    XML_SetUserData(parser, &expat);
    XML_SetElementHandler(parser, Expat::Start, Expat::End);
    XML_SetCdataSectionHandler(parser, Expat::CDataEdge, Expat::CDataEdge);
    XML_SetCharacterDataHandler(parser, Expat::Chars);
    XML_SetCommentHandler(parser, [](void* u, const XML_Char*) { Expat::Flush(u); });
    XML_SetProcessingInstructionHandler(parser, [](void* u, const XML_Char*, const XML_Char*) { Expat::Flush(u); });
    XML_SetStartDoctypeDeclHandler(parser, Expat::Doctype);
    const bool accepted =
        XML_Parse(parser, reinterpret_cast<const char*>(data), static_cast<int>(size), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!accepted || expat.dtd) return std::nullopt;
    XmlDocument doc;
    doc.SetOptions(kXmlRuleFileOptions);
    if (!doc.Parse(data, size)) {
        std::string error = xmltest::Narrow(doc.ErrorMessage());
        if (error.starts_with("Internal error: Could not create") || error.starts_with("Empty VersionNum"))
            return std::nullopt;
        return "expat accepts, we refuse: " + error;
    }
    std::u16string ours;
    Canonical(*doc.Root(), ours);
    if (ours == expat.out) return "";
    return "trees differ\nexpat: " + xmltest::Narrow(expat.out) + "\nours:  " + xmltest::Narrow(ours);
}

}  // namespace xmldiff
