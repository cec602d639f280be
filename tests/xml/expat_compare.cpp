#include "tests/xml/expat_compare.h"

#include <expat.h>

#include <string_view>
#include <vector>

#include "xml/xml.h"
#include "xml/xml_internal.h"

namespace xmldiff {

namespace {

bool IsXmlSpace(char32_t c) { return c == 0x20 || c == 0x09 || c == 0x0A || c == 0x0D; }

template <typename Text>
bool AllSpace(const Text& text) {
    for (auto c : text)
        if (!IsXmlSpace(static_cast<char32_t>(c))) return false;
    return true;
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// Length-prefixed pieces, so no content can imitate structure.
void Put(std::string& out, char kind, std::string_view text) {
    out.push_back(kind);
    out += std::to_string(text.size());
    out.push_back(':');
    out.append(text);
}

// Builds the canonical form from expat's events. A run of character data between
// two other events is one text item, as a text node is one node in our tree.
struct ExpatState {
    std::string out;
    std::string run;
    bool inCData = false;
    int depth = 0;
    bool doctype = false;
    bool emptyVersion = false;

    void Flush() {
        if (!inCData && !run.empty() && depth > 0 && !AllSpace(run)) Put(out, 'T', run);
        run.clear();
    }
};

void XMLCALL OnStart(void* user, const XML_Char* name, const XML_Char** attributes) {
    auto* s = static_cast<ExpatState*>(user);
    s->Flush();
    Put(s->out, 'E', name);
    for (const XML_Char** a = attributes; a[0]; a += 2) {
        Put(s->out, 'A', a[0]);
        Put(s->out, 'V', a[1]);
    }
    s->out.push_back('(');
    ++s->depth;
}

void XMLCALL OnEnd(void* user, const XML_Char*) {
    auto* s = static_cast<ExpatState*>(user);
    s->Flush();
    s->out.push_back(')');
    --s->depth;
}

void XMLCALL OnText(void* user, const XML_Char* text, int length) {
    static_cast<ExpatState*>(user)->run.append(text, static_cast<std::size_t>(length));
}

void XMLCALL OnComment(void* user, const XML_Char*) { static_cast<ExpatState*>(user)->Flush(); }

void XMLCALL OnInstruction(void* user, const XML_Char*, const XML_Char*) { static_cast<ExpatState*>(user)->Flush(); }

void XMLCALL OnCDataStart(void* user) {
    auto* s = static_cast<ExpatState*>(user);
    s->Flush();
    s->inCData = true;
}

void XMLCALL OnCDataEnd(void* user) {
    auto* s = static_cast<ExpatState*>(user);
    Put(s->out, 'C', s->run);
    s->run.clear();
    s->inCData = false;
}

void XMLCALL OnDoctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<ExpatState*>(user)->doctype = true;
}

void XMLCALL OnXmlDecl(void* user, const XML_Char* version, const XML_Char*, int) {
    if (version && !*version) static_cast<ExpatState*>(user)->emptyVersion = true;
}

void Canonical(const XmlNode& element, std::string& out) {
    Put(out, 'E', ToUtf8(element.Name()));
    for (std::size_t i = 0; i < element.AttributeCount(); ++i) {
        Put(out, 'A', ToUtf8(element.Attribute(i)->name));
        Put(out, 'V', ToUtf8(element.AttributeText(i)));
    }
    out.push_back('(');
    for (std::size_t i = 0; i < element.ChildCount(); ++i) {
        const XmlNode& child = *element.Child(i);
        switch (child.Type()) {
        case XmlType::Element: Canonical(child, out); break;
        case XmlType::Text: {
            std::u16string text = child.Text();
            if (!AllSpace(text)) Put(out, 'T', ToUtf8(text));
            break;
        }
        case XmlType::CData: Put(out, 'C', ToUtf8(child.Value())); break;
        default: break;
        }
    }
    out.push_back(')');
}

}  // namespace

Outcome ParseWithExpat(const unsigned char* data, std::size_t size, Encoding encoding) {
    const char* name = encoding == Encoding::Utf8 ? "UTF-8" : encoding == Encoding::Utf16LE ? "UTF-16LE" : "UTF-16BE";
    XML_Parser parser = XML_ParserCreate(name);
    ExpatState state;
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser, OnText);
    XML_SetCommentHandler(parser, OnComment);
    XML_SetProcessingInstructionHandler(parser, OnInstruction);
    XML_SetCdataSectionHandler(parser, OnCDataStart, OnCDataEnd);
    XML_SetStartDoctypeDeclHandler(parser, OnDoctype);
    XML_SetXmlDeclHandler(parser, OnXmlDecl);
    Outcome outcome;
    outcome.accepted =
        XML_Parse(parser, reinterpret_cast<const char*>(data), static_cast<int>(size), XML_TRUE) == XML_STATUS_OK;
    if (!outcome.accepted) outcome.error = XML_ErrorString(XML_GetErrorCode(parser));
    XML_ParserFree(parser);
    outcome.doctype = state.doctype;
    outcome.emptyVersion = state.emptyVersion;
    outcome.canonical = std::move(state.out);
    return outcome;
}

Outcome ParseWithOurs(const unsigned char* data, std::size_t size, uint32_t options) {
    XmlDocument doc;
    doc.SetOptions(options);
    Outcome outcome;
    outcome.accepted = doc.Parse(data, size);
    if (!outcome.accepted) {
        outcome.error = ToUtf8(doc.ErrorMessage());
        return outcome;
    }
    for (std::size_t i = 0; i < doc.Root()->ChildCount(); ++i) {
        const XmlNode& node = *doc.Root()->Child(i);
        if (node.Type() == XmlType::Element) Canonical(node, outcome.canonical);
        if (node.Type() == XmlType::Declaration && node.Name() == u"DOCTYPE") outcome.doctype = true;
    }
    return outcome;
}

bool DetectedEncoding(const unsigned char* data, std::size_t size, Encoding& encoding) {
    if (size < 4) return false;
    xmlinternal::Detection detection = xmlinternal::DetectEncoding(data, size);
    if (detection.error) return false;
    switch (detection.encoding) {
    case xmlinternal::Encoding::EightBit: encoding = Encoding::Utf8; return true;
    case xmlinternal::Encoding::Utf16LE: encoding = Encoding::Utf16LE; return true;
    case xmlinternal::Encoding::Utf16BE: encoding = Encoding::Utf16BE; return true;
    default: return false;
    }
}

bool HasBrokenSurrogates(const unsigned char* data, std::size_t size, Encoding encoding) {
    if (encoding == Encoding::Utf8) return false;
    const bool big = encoding == Encoding::Utf16BE;
    bool expectLow = false;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        unsigned unit = big ? (data[i] << 8 | data[i + 1]) : (data[i] | data[i + 1] << 8);
        bool high = unit >= 0xD800 && unit <= 0xDBFF;
        bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (expectLow != low) return true;
        expectLow = high;
    }
    return expectLow;
}

}  // namespace xmldiff
