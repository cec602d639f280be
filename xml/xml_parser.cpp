// The parse: encoding, declaration, content, DOCTYPE and entities.
// Every read goes through a [p, e) pair checked before the access; content nesting
// is kept on an explicit stack, so the C++ stack depth does not follow the document.
#include <algorithm>
#include <new>
#include <unordered_set>
#include <vector>

#include "xml/xml.h"
#include "xml/xml_chars.h"
#include "xml/xml_internal.h"

using xmlchars::Format;
using xmlchars::IsNameChar;
using xmlchars::IsNameStart;
using xmlchars::IsSpace;
using xmlchars::StartsWith;

namespace {

using Msg = const char16_t*;

constexpr Msg kNoMemory = u"Can't allocate memory.";
constexpr Msg kTooFewBytes = u"Too few bytes to parse.";
constexpr Msg kAllWhiteSpace = u"Document is all white space (Rule 1).";
constexpr Msg kFirstNotLess = u"First non-space character is not '<' (Rule 1).";
constexpr Msg kDeclNotLower = u"XML Declaration is not lower case (Rule 23).";
constexpr Msg kNoDeclaration = u"Can't find beginning-of-XML tag (<?xml) regardless of case.";
constexpr Msg kNoDeclEnd = u"Can't find the end of the end of the beginning-of-XML tag (?>).";
constexpr Msg kNoRoot = u"Internal error : m_XML is NULL.";
constexpr Msg kOneElement = u"There can be only one element (Rule 1).";

constexpr Msg kLaterDeclNotLower = u"The xml declaration must be lower case (Rule 23).";
constexpr Msg kOneProlog = u"There can be only one prolog (Rule 1).";
constexpr Msg kNoRoomDecl = u"Not enough room left to parse (Rule 23).";
constexpr Msg kNoRoomSDDecl = u"Not enough room left to parse SDDecl (Rule 32).";
constexpr Msg kExtraAfterSDDecl = u"Extra characters after SDDecl (Rule 23).";

constexpr Msg kNoMoreBytes = u"There are no more bytes to parse. We ran out of bytes before we rand out of XML.";
constexpr Msg kUnknownType = u"Type of element is unknown. Could not parse element data.";
constexpr Msg kTooDeep = u"Internal error: Could not create new element.";
constexpr Msg kPremature = u"Premature end of data.";
constexpr Msg kNoTerminator = u"Could not find terminator. Premature end of data encountered.";
constexpr Msg kAbortedElement = u"Parsing was aborted by Callback function.";
constexpr Msg kAborted = u"Parsing aborted by Callback function.";
constexpr Msg kIllFormedRef = u"Ill-formed entity reference in text section (Rule 68).";
constexpr Msg kBadRef = u"Bad entity reference in text section (Rule %lu).";
constexpr Msg kExternalRef = u"Unsupported (non-standalone) External Reference to ";
constexpr Msg kTooMuchExpansion = u"Ran out of memory allocating for a tricky element.";
constexpr Msg kTrickyElement = u"Can't parse tricky element (Rule 69).";

constexpr Msg kMissingTerminatingGt = u"Ill-formed DOCTYPE child, missing terminating > (Rule 28).";

// Wording of one pseudo-attribute of the XML declaration.
struct PseudoMessages {
    Msg truncated, missingEq, missingValue, badDelimiter, noMatch, empty;
};

constexpr PseudoMessages kVersionMessages = {
    u"Truncated VersionInfo (Rule 24).",
    u"Ill-formed VersionInfo missing = character (Rule 24).",
    u"Ill-formed VersionInfo, missing VersionNum (Rule 24).",
    u"Illegal VersionNum delimiter, must be a single or double quote (Rule 24).",
    u"VersionNum missing matching delimiter (Rule 24).",
    u"Empty VersionNum not allowed (Rule 26)."};
constexpr PseudoMessages kEncodingMessages = {
    u"Truncated EncodingDecl (Rule 80).",
    u"Ill-formed EncodingDecl missing = character (Rule 80).",
    u"Ill-formed EncodingDecl, missing EncName (Rule 80).",
    u"Illegal EncName delimiter, must be a single or double quote (Rule 80).",
    u"EncName missing matching delimiter (Rule 80).",
    u"Empty EncName not allowed (Rule 81)."};
constexpr PseudoMessages kStandaloneMessages = {
    u"Truncated SDDecl (Rule 32).",
    u"Ill-formed SDDecl missing = character (Rule 32).",
    u"Ill-formed SDDecl, missing data (Rule 32).",
    u"Illegal SDDecl delimiter, must be a single or double quote (Rule 32).",
    u"SDDecl missing matching delimiter (Rule 32).",
    u"Empty SDDecl not allowed (Rule 32)."};

bool IsQuote(char16_t c) { return c == u'"' || c == u'\''; }

const char16_t* SkipSpace(const char16_t* p, const char16_t* e) {
    while (p < e && IsSpace(*p)) ++p;
    return p;
}

const char16_t* SkipNameChars(const char16_t* p, const char16_t* e) {
    while (p < e && IsNameChar(*p)) ++p;
    return p;
}

// First occurrence of c in [p, e), or e.
const char16_t* Find(const char16_t* p, const char16_t* e, char16_t c) {
    while (p < e && *p != c) ++p;
    return p;
}

// First occurrence of the ASCII literal in [p, e), or e.
const char16_t* Find(const char16_t* p, const char16_t* e, std::string_view literal) {
    const char16_t first = static_cast<unsigned char>(literal[0]);
    for (; p < e; ++p) {
        p = Find(p, e, first);
        if (p == e) break;
        if (StartsWith(p, e, literal)) return p;
    }
    return e;
}

// Whether element already has an attribute called name. Short lists are searched;
// long ones go through seen, so a tag with a great many attributes stays linear.
bool IsRepeated(const XmlNode& element, std::u16string_view name, std::unordered_set<std::u16string>& seen) {
    constexpr std::size_t kScanLimit = 16;
    if (element.AttributeCount() < kScanLimit) return element.FindAttribute(name) != nullptr;
    if (seen.empty())
        for (std::size_t i = 0; i < element.AttributeCount(); ++i) seen.insert(element.Attribute(i)->name);
    return !seen.insert(std::u16string(name)).second;
}

bool IsAllSpace(const char16_t* p, const char16_t* e) { return SkipSpace(p, e) == e; }

std::u16string_view View(const char16_t* p, const char16_t* e) {
    return std::u16string_view(p, static_cast<std::size_t>(e - p));
}

bool IsPredefinedReference(std::u16string_view r) {
    return r == u"&amp;" || r == u"&apos;" || r == u"&gt;" || r == u"&lt;" || r == u"&quot;";
}

bool EqualsNoCase(std::u16string_view text, std::string_view ascii) {
    if (text.size() != ascii.size()) return false;
    return xmlchars::StartsWithNoCase(text.data(), text.data() + text.size(), ascii);
}

}  // namespace

class XmlParser {
public:
    XmlParser(XmlDocument& document, const std::u16string& text)
        : doc_(document),
          options_(document.options_),
          begin_(text.data()),
          end_(text.data() + text.size()),
          lineCursor_(begin_),
          lineStart_(begin_) {
        budget_ = std::clamp(text.size() * XmlDocument::kExpansionFactor, XmlDocument::kMinExpansion,
                             XmlDocument::kMaxExpansion);
    }

    bool Run();

private:
    // Error and position bookkeeping.
    bool Fail(std::u16string message, std::u16string_view tag, const char16_t* at);
    void Locate(const char16_t* at, uint32_t& column, uint32_t& line);
    XmlNode* NewChild(XmlNode* parent, uint32_t type, const char16_t* at, std::u16string name = {});
    bool Notify(XmlNode* node, const char16_t* at);
    bool Spend(std::size_t units, std::u16string_view tag, const char16_t* at);

    // Document level.
    bool IsDeclarationStart(const char16_t* p) const;
    bool ParseDeclaration(const char16_t* p, const char16_t* e);
    bool ParsePseudo(const char16_t*& p, const char16_t* e, const PseudoMessages& messages,
                     std::u16string_view& value);
    bool CheckSingleElement();

    // Content.
    bool ParseContent(const char16_t* p);
    bool ParseText(const char16_t*& p, XmlNode* parent);
    bool CheckTextReferences(const char16_t* p, const char16_t* e, std::u16string_view tag);
    bool ParseStartTag(const char16_t*& p, XmlNode* parent, XmlNode*& element, bool& empty);
    bool ParseComment(const char16_t*& p, const char16_t* e, XmlNode* parent);
    bool ParseCData(const char16_t*& p, XmlNode* parent);
    bool ParseProcessingInstruction(const char16_t*& p, const char16_t* e, XmlNode* parent);

    // DOCTYPE and entities.
    bool ParseDoctype(const char16_t*& p, XmlNode* parent);
    bool ParseExternalId(const char16_t*& p, const char16_t* e, std::u16string_view tag);
    bool ParseSubset(const char16_t*& p, const char16_t* e, XmlNode* doctype, std::size_t nesting);
    bool ParseMarkupDeclaration(const char16_t*& p, const char16_t* e, XmlNode* doctype);
    bool ParseEntityDeclaration(const char16_t*& p, const char16_t* e, XmlNode* parent);
    bool ParseLiteral(const char16_t*& p, const char16_t* e, bool pubid);
    bool ExpandEntityValue(const char16_t* p, const char16_t* e, std::u16string& out);

    XmlDocument& doc_;
    const uint32_t options_;
    const char16_t* const begin_;
    const char16_t* const end_;

    // Line counting moves forward with the parse: each character is counted once.
    const char16_t* lineCursor_;
    const char16_t* lineStart_;
    uint32_t lineNumber_ = 1;

    // While parameter entity text is parsed, positions are those of the reference.
    std::size_t entityNesting_ = 0;
    const char16_t* anchor_ = nullptr;

    std::size_t budget_ = 0;
    std::size_t spent_ = 0;
};

// ---- bookkeeping -------------------------------------------------------------

void XmlParser::Locate(const char16_t* at, uint32_t& column, uint32_t& line) {
    if (entityNesting_ > 0) at = anchor_;
    if (at < lineCursor_) {
        lineCursor_ = begin_;
        lineStart_ = begin_;
        lineNumber_ = 1;
    }
    for (; lineCursor_ < at; ++lineCursor_) {
        if (*lineCursor_ == u'\n') {
            ++lineNumber_;
            lineStart_ = lineCursor_ + 1;
        }
    }
    line = lineNumber_;
    column = static_cast<uint32_t>(at - lineStart_) + 1;
}

bool XmlParser::Fail(std::u16string message, std::u16string_view tag, const char16_t* at) {
    uint32_t column = 0, line = 0;
    Locate(at, column, line);
    doc_.SetError(std::move(message), std::u16string(tag), column, line);
    return false;
}

XmlNode* XmlParser::NewChild(XmlNode* parent, uint32_t type, const char16_t* at, std::u16string name) {
    XmlNode::Owned node(new (doc_.pool_.Allocate()) XmlNode(&doc_, type, std::move(name)));
    node->pooled_ = true;
    node->parent_ = parent;
    Locate(at, node->position_, node->line_);
    parent->children_.push_back(std::move(node));
    return parent->children_.back().get();
}

bool XmlParser::Notify(XmlNode* node, const char16_t* at) {
    if (!doc_.callback_ || doc_.callback_(*node)) return true;
    return Fail(node->type_ == XmlType::Element ? kAbortedElement : kAborted, node->name_, at);
}

bool XmlParser::Spend(std::size_t units, std::u16string_view tag, const char16_t* at) {
    if (units > budget_ - spent_) return Fail(kTooMuchExpansion, tag, at);
    spent_ += units;
    return true;
}

// ---- document ----------------------------------------------------------------

bool XmlParser::IsDeclarationStart(const char16_t* p) const {
    // "<?xml-stylesheet" and the like are processing instructions, not the declaration.
    return xmlchars::StartsWithNoCase(p, end_, "<?xml") && (end_ - p == 5 || !IsNameChar(p[5]));
}

bool XmlParser::Run() {
    const char16_t* p = SkipSpace(begin_, end_);
    if (p == end_) return Fail(kAllWhiteSpace, {}, p);
    if (!IsDeclarationStart(p)) {
        if (*p != u'<') return Fail(kFirstNotLess, {}, p);
        if (!(options_ & XmlOption::DeclarationOptional)) return Fail(kNoDeclaration, {}, p);
        doc_.SetDefaultDeclaration();
        if (!ParseContent(p)) return false;
        return CheckSingleElement();
    }
    if (!StartsWith(p, end_, "<?xml") && !(options_ & XmlOption::AnyCaseDeclaration))
        return Fail(kDeclNotLower, u"xml", p);
    const char16_t* close = Find(p + 5, end_, "?>");
    if (close == end_) return Fail(kNoDeclEnd, u"xml", p);
    if (!doc_.root_) return Fail(kNoRoot, {}, p);
    {
        uint32_t column = 0, line = 0;
        Locate(p, column, line);
        doc_.root_->SetPositions(column, line);
    }
    if (!ParseDeclaration(p + 5, close) || !ParseContent(close + 2)) {
        // The error stays; the tree goes back to the plain default declaration.
        doc_.SetDefaultDeclaration();
        return false;
    }
    return CheckSingleElement();
}

bool XmlParser::CheckSingleElement() {
    if (!(options_ & XmlOption::SingleElement)) return true;
    bool seen = false;
    for (const auto& child : doc_.root_->children_) {
        if (child->type_ != XmlType::Element) continue;
        if (seen) {
            doc_.SetError(kOneElement, child->name_, child->position_, child->line_);
            return false;
        }
        seen = true;
    }
    return true;
}

bool XmlParser::ParsePseudo(const char16_t*& p, const char16_t* e, const PseudoMessages& m,
                            std::u16string_view& value) {
    const char16_t* q = SkipSpace(p, e);
    if (q == e) return Fail(m.truncated, u"xml", q);
    if (*q != u'=') return Fail(m.missingEq, u"xml", q);
    q = SkipSpace(q + 1, e);
    if (q == e) return Fail(m.missingValue, u"xml", q);
    if (!IsQuote(*q)) return Fail(m.badDelimiter, u"xml", q);
    const char16_t* start = q + 1;
    const char16_t* close = Find(start, e, *q);
    if (close == e) return Fail(m.noMatch, u"xml", q);
    if (close == start) return Fail(m.empty, u"xml", q);
    value = View(start, close);
    p = close + 1;
    return true;
}

// [p, e) lies between "<?xml" and "?>".
bool XmlParser::ParseDeclaration(const char16_t* p, const char16_t* e) {
    XmlNode& root = *doc_.root_;
    root.type_ = XmlType::ProcessingInstruction;
    root.name_ = u"xml";
    const char16_t* q = SkipSpace(p, e);
    if (q == e) return Fail(kNoRoomDecl, u"xml", q);
    if (!xmlchars::StartsWithNoCase(q, e, "version")) return Fail(u"Missing VersionInfo data (Rule 23).", u"xml", q);
    if (!StartsWith(q, e, "version")) return Fail(u"The VersionInfo must be lower case (Rule 23).", u"xml", q);
    q += 7;
    std::u16string_view version;
    if (!ParsePseudo(q, e, kVersionMessages, version)) return false;
    for (std::size_t i = 0; i < version.size(); ++i) {
        char16_t c = version[i];
        if (!(xmlchars::IsAsciiLetter(c) || xmlchars::IsDigit(c) || c == u'_' || c == u'.' || c == u':' ||
              c == u'-'))
            return Fail(Format(u"Character %d (decimal %d) of the \"version\" attribute is illegal (Rule 26).",
                               {static_cast<int>(i + 1), static_cast<int>(c)}),
                        u"xml", q);
    }
    root.attributes_.push_back(XmlAttribute{u"version", std::u16string(version)});
    doc_.version_ = std::u16string(version);

    bool haveEncoding = false, haveStandalone = false;
    for (;;) {
        const char16_t* before = q;
        q = SkipSpace(q, e);
        if (q == e) break;
        const bool separated = q != before;
        if (separated && !haveEncoding && !haveStandalone && StartsWith(q, e, "encoding")) {
            q += 8;
            std::u16string_view name;
            if (!ParsePseudo(q, e, kEncodingMessages, name)) return false;
            if (!xmlchars::IsAsciiLetter(name[0])) return Fail(u"Illegal first character in EncName (Rule 81).", u"xml", q);
            for (std::size_t i = 1; i < name.size(); ++i) {
                char16_t c = name[i];
                if (!(xmlchars::IsAsciiLetter(c) || xmlchars::IsDigit(c) || c == u'.' || c == u'_' || c == u'-'))
                    return Fail(Format(u"Character %d is illegal in EncName of \"%s\" (Rule 81).",
                                       {static_cast<int>(i + 1), name}),
                                u"xml", q);
            }
            root.attributes_.push_back(XmlAttribute{u"encoding", std::u16string(name)});
            doc_.encoding_ = std::u16string(name);
            haveEncoding = true;
        } else if (separated && !haveStandalone && StartsWith(q, e, "standalone")) {
            q += 10;
            std::u16string_view value;
            if (!ParsePseudo(q, e, kStandaloneMessages, value)) return false;
            if (value != u"yes" && value != u"no")
                return Fail(u"Illegal value for SDDecl, it must me lower case \"yes\" or \"no\" (Rule 32).", u"xml", q);
            root.attributes_.push_back(XmlAttribute{u"standalone", std::u16string(value)});
            doc_.standalone_ = value == u"yes";
            haveStandalone = true;
        } else if (haveStandalone || e - q >= 10) {
            return Fail(kExtraAfterSDDecl, u"xml", q);
        } else {
            return Fail(kNoRoomSDDecl, u"xml", q);
        }
    }
    return true;
}

// ---- content -----------------------------------------------------------------

// Top-level nodes become children of the root; elements open and close on a stack.
bool XmlParser::ParseContent(const char16_t* p) {
    const char16_t* const e = end_;
    XmlNode* const root = doc_.root_.get();
    std::vector<XmlNode*> open;
    XmlNode* parent = root;
    while (p < e) {
        if (*p != u'<') {
            if (!ParseText(p, parent)) return false;
            continue;
        }
        std::u16string_view tag = open.empty() ? std::u16string_view() : std::u16string_view(parent->name_);
        if (e - p < 2) return Fail(kPremature, tag, p);
        const char16_t c = p[1];
        if (c == u'?') {
            if (!ParseProcessingInstruction(p, e, parent)) return false;
        } else if (c == u'!') {
            if (e - p < 4) return Fail(u"META tag is too short.", tag, p);
            bool ok;
            if (StartsWith(p, e, "<!--"))
                ok = ParseComment(p, e, parent);
            else if (StartsWith(p, e, "<!["))
                ok = ParseCData(p, parent);
            else if (open.empty() && StartsWith(p, e, "<!DOCTYPE"))
                ok = ParseDoctype(p, parent);
            else if (open.empty() && StartsWith(p, e, "<!ENTITY"))
                ok = ParseEntityDeclaration(p, e, parent);
            else
                return Fail(kUnknownType, tag, p);
            if (!ok) return false;
        } else if (c == u'/') {
            const char16_t* q = p + 2;
            if (q < e && *q == u'>') return Fail(u"EmptyTag.", tag, p);
            const char16_t* nameEnd = SkipNameChars(q, e);
            std::u16string_view name = View(q, nameEnd);
            q = SkipSpace(nameEnd, e);
            if (q == e) return Fail(kPremature, name, p);
            if (*q != u'>') return Fail(u"Attributes not allowed in end tag (Rule 42).", name, q);
            if (open.empty()) return Fail(u"Not yet documented error 2726.", name, p);
            if (name != parent->name_)
                return Fail(Format(u"Overlapping tags detected. Found \"%s\" but needed to find \"%s\".",
                                   {name, parent->name_}),
                            parent->name_, p);
            XmlNode* closed = parent;
            open.pop_back();
            parent = open.empty() ? root : open.back();
            p = q + 1;
            if (!Notify(closed, p)) return false;
        } else {
            if (open.size() >= XmlDocument::kMaxDepth) return Fail(kTooDeep, tag, p);
            XmlNode* element = nullptr;
            bool empty = false;
            if (!ParseStartTag(p, parent, element, empty)) return false;
            if (empty) {
                if (!Notify(element, p)) return false;
            } else {
                open.push_back(element);
                parent = element;
            }
        }
    }
    if (!open.empty()) return Fail(kNoMoreBytes, parent->name_, e);
    return true;
}

bool XmlParser::ParseText(const char16_t*& p, XmlNode* parent) {
    const char16_t* start = p;
    const char16_t* stop = Find(p, end_, u'<');
    p = stop;
    const bool keepWhiteSpace =
        (options_ & XmlOption::KeepWhiteSpaceText) && !(options_ & XmlOption::DropWhiteSpaceText);
    if (!keepWhiteSpace && IsAllSpace(start, stop)) return true;
    std::u16string_view tag = parent == doc_.root_.get() ? std::u16string_view() : std::u16string_view(parent->name_);
    if (!CheckTextReferences(start, stop, tag)) return false;
    XmlNode* node = NewChild(parent, XmlType::Text, start);
    node->value_.assign(start, stop);
    return Notify(node, stop);
}

// Each '&' must reach a ';' and name a reference the document knows.
bool XmlParser::CheckTextReferences(const char16_t* p, const char16_t* e, std::u16string_view tag) {
    for (const char16_t* amp = Find(p, e, u'&'); amp < e; amp = Find(amp + 1, e, u'&')) {
        const char16_t* semi = Find(amp + 1, e, u';');
        if (semi == e) return Fail(kIllFormedRef, tag, amp);
        std::u16string_view reference = View(amp, semi + 1);
        if (reference.size() > 1 && reference[1] == u'#') {
            if (xmlchars::CharReferenceValue(reference.substr(1, reference.size() - 2)) == 0)
                return Fail(Format(kBadRef, {66}), tag, amp);
        } else if (!IsPredefinedReference(reference)) {
            const XmlEntity* entity =
                (options_ & XmlOption::ResolveEntities) ? doc_.FindEntity(reference) : nullptr;
            if (!entity) return Fail(Format(kBadRef, {68}), tag, amp);
            if (entity->external) return Fail(kExternalRef + std::u16string(reference), tag, amp);
            if (!Spend(entity->text.size(), tag, amp)) return false;
        }
        amp = semi;
    }
    return true;
}

bool XmlParser::ParseStartTag(const char16_t*& p, XmlNode* parent, XmlNode*& element, bool& empty) {
    const char16_t* const e = end_;
    std::u16string_view parentTag =
        parent == doc_.root_.get() ? std::u16string_view() : std::u16string_view(parent->name_);
    const char16_t* q = p + 1;
    if (*q == u'>') return Fail(u"Tag is empty.", parentTag, p);
    if (!IsNameStart(*q)) return Fail(u"First character of element name is not legal (Rule 5).", parentTag, q);
    const char16_t* nameStart = q;
    while (q < e && !IsSpace(*q) && *q != u'/' && *q != u'>') ++q;
    std::u16string_view name = View(nameStart, q);
    for (std::size_t i = 1; i < name.size(); ++i)
        if (!IsNameChar(name[i]))
            return Fail(Format(u"Character %lu of element named \"%s\" is invalid (Rule 999192).",
                               {static_cast<unsigned long>(i + 1), name}),
                        name, nameStart + i);
    element = NewChild(parent, XmlType::Element, p, std::u16string(name));
    std::u16string_view tag = element->name_;
    std::unordered_set<std::u16string> seen;  // copies: the attribute array moves as it grows
    for (;;) {
        q = SkipSpace(q, e);
        if (q == e) return Fail(kNoTerminator, tag, q);
        if (*q == u'>') {
            empty = false;
            p = q + 1;
            return true;
        }
        if (*q == u'/') {
            if (q + 1 == e) return Fail(kNoTerminator, tag, q);
            if (q[1] != u'>') return Fail(u"Not yet documented error 2785.", tag, q);
            empty = true;
            p = q + 2;
            return true;
        }
        if (*q == u'=') return Fail(u"Empty attribute not allowed (Rule 10).", tag, q);
        if (!IsNameStart(*q)) return Fail(u"Not yet documented error 2804.", tag, q);
        const char16_t* attrStart = q;
        q = SkipNameChars(q, e);
        std::u16string_view attrName = View(attrStart, q);
        q = SkipSpace(q, e);
        if (q == e || *q != u'=')
            return Fail(u"Attribute must have '=' between the name and the value (Rule 41).", tag, q);
        q = SkipSpace(q + 1, e);
        if (q == e || !IsQuote(*q)) return Fail(u"Attribute values must begin with a \" or a ' (Rule 10).", tag, q);
        const char16_t quote = *q;
        const char16_t* valueStart = q + 1;
        const char16_t* close = Find(valueStart, e, quote);
        if (close == e)
            return Fail(quote == u'"' ? u"Attribute missing matching \" (Rule 10)." : u"Attribute missing matching ' (Rule 10).",
                        tag, q);
        std::u16string_view value = View(valueStart, close);
        if (IsRepeated(*element, attrName, seen))
            return Fail(xmlinternal::RepeatedAttributeMessage(attrName), tag, attrStart);
        std::u16string refusal = xmlinternal::CheckAttributeValue(attrName, value);
        if (!refusal.empty()) return Fail(std::move(refusal), tag, attrStart);
        if (options_ & XmlOption::ResolveEntities) {
            // Declared entities expand when the value is read: count them now.
            for (const char16_t* amp = Find(valueStart, close, u'&'); amp < close; amp = Find(amp + 1, close, u'&')) {
                std::size_t length = xmlinternal::ReferenceLength(amp, close);
                const XmlEntity* entity = doc_.FindEntity(View(amp, amp + length));
                if (entity && !IsPredefinedReference(entity->reference) && !Spend(entity->text.size(), tag, amp))
                    return false;
            }
        }
        element->attributes_.push_back(XmlAttribute{std::u16string(attrName), std::u16string(value)});
        q = close + 1;
    }
}

bool XmlParser::ParseComment(const char16_t*& p, const char16_t* e, XmlNode* parent) {
    std::u16string_view tag = parent->type_ == XmlType::Element ? std::u16string_view(parent->name_) : std::u16string_view();
    const char16_t* start = p + 4;
    const char16_t* dashes = Find(start, e, "--");
    if (dashes == e) return Fail(u"Comment is missing the -- terminator (Rule 15).", tag, p);
    if (dashes + 2 == e) return Fail(u"Comment is missing the --> terminator (Rule 15).", tag, p);
    if (dashes[2] != u'>') return Fail(u"Comment contains illegal double dashes (Rule 15).", tag, dashes);
    XmlNode* node = NewChild(parent, XmlType::Comment, p);
    node->value_.assign(start, dashes);
    p = dashes + 3;
    return Notify(node, p);
}

bool XmlParser::ParseCData(const char16_t*& p, XmlNode* parent) {
    const char16_t* const e = end_;
    std::u16string_view tag = parent->type_ == XmlType::Element ? std::u16string_view(parent->name_) : std::u16string_view();
    if (!StartsWith(p, e, "<![CDATA[")) {
        if (e - p < 9) return Fail(u"Ill formed CDATA section.", tag, p);
        return Fail(u"Ill formed CDATA section (Rule 19).", tag, p);
    }
    const char16_t* start = p + 9;
    const char16_t* close = Find(start, e, "]]>");
    if (close == e) return Fail(u"Bad CDATA section (Rule 20).", tag, p);
    XmlNode* node = NewChild(parent, XmlType::CData, p);
    node->value_.assign(start, close);
    p = close + 3;
    return Notify(node, p);
}

bool XmlParser::ParseProcessingInstruction(const char16_t*& p, const char16_t* e, XmlNode* parent) {
    std::u16string_view tag = parent->type_ == XmlType::Element ? std::u16string_view(parent->name_) : std::u16string_view();
    const char16_t* q = p + 2;
    if (q == e) return Fail(u"META tag is too short.", tag, p);
    if (StartsWith(q, e, "?>")) return Fail(u"The processing instruction cannot be empty (Rule 16).", tag, p);
    if (!IsNameStart(*q)) return Fail(u"Illegal first character in processing instruction (Rule 16->5).", tag, q);
    const char16_t* targetEnd = SkipNameChars(q, e);
    std::u16string_view target = View(q, targetEnd);
    const char16_t* close = Find(targetEnd, e, "?>");
    if (close == e || (targetEnd != close && !IsSpace(*targetEnd)))
        return Fail(u"Processing instruction is not terminated with ?> (Rule 16)", target, p);
    if (target == u"xml") return Fail(kOneProlog, target, p);
    if (EqualsNoCase(target, "xml")) return Fail(kLaterDeclNotLower, target, p);
    XmlNode* node = NewChild(parent, XmlType::ProcessingInstruction, p, std::u16string(target));
    node->value_.assign(SkipSpace(targetEnd, close), close);
    p = close + 2;
    return Notify(node, p);
}

// ---- DOCTYPE -----------------------------------------------------------------

// A quoted literal at p: a PubidLiteral when pubid is set, else a SystemLiteral.
// False (without an error) when it is missing, unterminated or holds an illegal character.
bool XmlParser::ParseLiteral(const char16_t*& p, const char16_t* e, bool pubid) {
    if (p == e || !IsQuote(*p)) return false;
    const char16_t* close = Find(p + 1, e, *p);
    if (close == e) return false;
    if (pubid)
        for (const char16_t* c = p + 1; c < close; ++c)
            if (!xmlchars::IsPubidChar(*c)) return false;
    p = close + 1;
    return true;
}

bool XmlParser::ParseExternalId(const char16_t*& p, const char16_t* e, std::u16string_view tag) {
    const char16_t* q = p;
    const bool isPublic = StartsWith(q, e, "PUBLIC");
    q += 6;
    const char16_t* literal = SkipSpace(q, e);
    if (literal == e) return Fail(u"Not enough room to quote a string (Rule 11).", tag, literal);
    if (literal == q || !IsQuote(*literal)) return Fail(u"String not properly quoted (Rule 11).", tag, literal);
    const char16_t quote = *literal;
    const char16_t* close = Find(literal + 1, e, quote);
    if (close == e) return Fail(u"Mismatched quotes (Rule 11).", tag, literal);
    q = close + 1;
    if (isPublic) {
        for (const char16_t* c = literal + 1; c < close; ++c)
            if (!xmlchars::IsPubidChar(*c)) return Fail(u"Illegal PubidChar (Rule 13).", tag, c);
        if (q == e) return Fail(u"No more room to quote a string (Rule 11).", tag, q);
        if (!IsSpace(*q)) return Fail(u"PUBLIS SystemLiteral not properly quoted (Rule 11).", tag, q);
        q = SkipSpace(q, e);
        if (q == e) return Fail(u"No more room to parse a quoted string (Rule 11).", tag, q);
        if (!IsQuote(*q)) return Fail(u"PUBLIC SystemLiteral not properly quoted (Rule 11).", tag, q);
        close = Find(q + 1, e, *q);
        if (close == e) return Fail(u"No more room to parse a quoted string (Rule 11).", tag, q);
        q = close + 1;
    }
    p = q;
    return true;
}

bool XmlParser::ParseDoctype(const char16_t*& p, XmlNode* parent) {
    const char16_t* const e = end_;
    const char16_t* q = p + 9;
    if (q == e) return Fail(u"DOCTYPE Section, not enough room to parse Name (Rule 28).", u"DOCTYPE", q);
    if (!IsSpace(*q)) return Fail(u"Impossible character in DOCTYPE declaration (Rule 28).", u"DOCTYPE", q);
    q = SkipSpace(q, e);
    if (q == e) return Fail(u"DOCTYPE Section, not enough room to parse Name (Rule 28).", u"DOCTYPE", q);
    if (!IsNameStart(*q)) return Fail(u"DOCTYPE Section, illegal first character of Name (Rule 5).", u"DOCTYPE", q);
    q = SkipNameChars(q, e);
    if (q == e) return Fail(u"No more room (Rule 28).", u"DOCTYPE", q);
    if (!IsSpace(*q) && *q != u'[' && *q != u'>')
        return Fail(*q < 0x80 ? u"Illegal DOCTYPE name terminator (Rule 28)." : u"Illegal DOCTYPE name character (Rule 28).",
                    u"DOCTYPE", q);
    XmlNode* doctype = NewChild(parent, XmlType::Declaration, p, u"DOCTYPE");
    q = SkipSpace(q, e);
    if (q == e) return Fail(u"No room after continuation point (Rule 28).", u"DOCTYPE", q);
    if (*q != u'[' && *q != u'>') {
        if (!StartsWith(q, e, "SYSTEM") && !StartsWith(q, e, "PUBLIC")) {
            if (e - q < 6) return Fail(u"No more room to parse SYSTEM or PUBLIC (Rule 75).", u"DOCTYPE", q);
            return Fail(u"DOCTYPE ExternalID is not SYSTEM or PUBLIC (Rule 75).", u"DOCTYPE", q);
        }
        if (!ParseExternalId(q, e, u"DOCTYPE")) return false;
        q = SkipSpace(q, e);
        if (q == e) return Fail(u"No more room (Rule 28).", u"DOCTYPE", q);
        if (*q != u'[' && *q != u'>') return Fail(u"Illegal character at contiuation point (Rule 28).", u"DOCTYPE", q);
    }
    if (*q == u'[') {
        ++q;
        if (!ParseSubset(q, e, doctype, 0)) return false;
        ++q;  // the closing ']'
        q = SkipSpace(q, e);
        if (q == e) return Fail(u"No room after closing ] (Rule 28).", u"DOCTYPE", q);
        if (*q != u'>') return Fail(u"Missing closing > (Rule 28).", u"DOCTYPE", q);
    }
    doctype->value_.assign(SkipSpace(p + 9, q), q);
    p = q + 1;
    return Notify(doctype, p);
}

// Declarations of an internal subset, or of the text of a parameter entity
// (nesting > 0). The subset ends at its ']', which p is left on.
bool XmlParser::ParseSubset(const char16_t*& p, const char16_t* e, XmlNode* doctype, std::size_t nesting) {
    for (;;) {
        p = SkipSpace(p, e);
        if (p == e) {
            if (nesting > 0) return true;
            return Fail(u"DOCTYPE Section did not parse.", u"DOCTYPE", p);
        }
        if (*p == u']') {
            if (nesting == 0) return true;
            return Fail(kTrickyElement, u"DOCTYPE", p);
        }
        if (*p == u'%') {
            if (!(options_ & XmlOption::ResolveEntities)) return Fail(u"No entity database.", u"DOCTYPE", p);
            const char16_t* nameEnd = SkipNameChars(p + 1, e);
            if (nameEnd == p + 1 || nameEnd == e || *nameEnd != u';')
                return Fail(u"DOCTYPE PEReference is missing terminating semi-colon (Rule 69).", u"DOCTYPE", p);
            std::u16string_view reference = View(p, nameEnd + 1);
            const XmlEntity* entity = doc_.FindEntity(reference);
            if (!entity)
                return Fail(nesting == 0 ? u"Can't resolve DOCTYPE PEReference (Rule 69)."
                                         : u"Can't resolve embedded DOCTYPE PEReference (Rule 69).",
                            u"DOCTYPE", p);
            if (entity->external) return Fail(kExternalRef + std::u16string(reference), u"DOCTYPE", p);
            if (nesting + 1 > XmlDocument::kMaxEntityNesting) return Fail(kTrickyElement, u"DOCTYPE", p);
            if (!Spend(entity->text.size(), u"DOCTYPE", p)) return false;
            // A copy: declarations inside may grow the entity table.
            const std::u16string body = entity->text;
            if (nesting == 0) anchor_ = p;
            ++entityNesting_;
            const char16_t* b = body.data();
            bool ok = ParseSubset(b, body.data() + body.size(), doctype, nesting + 1);
            --entityNesting_;
            if (!ok) return false;
            p = nameEnd + 1;
            continue;
        }
        if (*p != u'<') return Fail(u"Ill-formed DOCTYPE child, missing < (Rule 29).", u"DOCTYPE", p);
        bool ok;
        if (StartsWith(p, e, "<!--"))
            ok = ParseComment(p, e, doctype);
        else if (StartsWith(p, e, "<?"))
            ok = ParseProcessingInstruction(p, e, doctype);
        else if (StartsWith(p, e, "<!ENTITY"))
            ok = ParseEntityDeclaration(p, e, doctype);
        else if (StartsWith(p, e, "<!ELEMENT") || StartsWith(p, e, "<!ATTLIST") || StartsWith(p, e, "<!NOTATION"))
            ok = ParseMarkupDeclaration(p, e, doctype);
        else
            return Fail(u"Error 2490 (Rule 28).", u"DOCTYPE", p);
        if (!ok) return false;
    }
}

// ELEMENT, ATTLIST and NOTATION declarations are kept as they are written.
bool XmlParser::ParseMarkupDeclaration(const char16_t*& p, const char16_t* e, XmlNode* doctype) {
    const char16_t* keyword = p + 2;
    const char16_t* keywordEnd = keyword;
    while (keywordEnd < e && xmlchars::IsAsciiLetter(*keywordEnd)) ++keywordEnd;
    const char16_t* q = keywordEnd;
    while (q < e && *q != u'>') {
        if (IsQuote(*q)) {
            q = Find(q + 1, e, *q);
            if (q == e) break;
        }
        ++q;
    }
    if (q == e) return Fail(kMissingTerminatingGt, View(keyword, keywordEnd), p);
    XmlNode* node = NewChild(doctype, XmlType::Declaration, p, std::u16string(keyword, keywordEnd));
    node->value_.assign(SkipSpace(keywordEnd, q), q);
    p = q + 1;
    return Notify(node, p);
}

bool XmlParser::ParseEntityDeclaration(const char16_t*& p, const char16_t* e, XmlNode* parent) {
    constexpr std::u16string_view tag = u"ENTITY";
    const char16_t* q = p + 8;
    if (q == e || !IsSpace(*q)) return Fail(u"Ill formed ENTITY section (Rule 71).", tag, q);
    q = SkipSpace(q, e);
    bool parameter = false;
    if (q < e && *q == u'%') {
        parameter = true;
        ++q;
        if (q == e || !IsSpace(*q)) return Fail(u"Ill formed ENTITY section (Rule 71).", tag, q);
        q = SkipSpace(q, e);
    }
    if (q == e || !IsNameStart(*q)) return Fail(u"Ill formed ENTITY section[2] (Rule 71).", tag, q);
    const char16_t* nameStart = q;
    q = SkipNameChars(q, e);
    std::u16string_view name = View(nameStart, q);
    if (q == e || !IsSpace(*q)) return Fail(u"Ill formed ENTITY section[4] (Rule 71).", tag, q);
    q = SkipSpace(q, e);
    if (q == e) return Fail(u"Ill formed ENTITY section (Rule 75).", tag, q);

    std::u16string text;
    bool external = false;
    if (IsQuote(*q)) {
        const char16_t quote = *q;
        const bool dq = quote == u'"';
        const char16_t* valueStart = q + 1;
        const char16_t* close = Find(valueStart, e, quote);
        if (close == e)
            return Fail(dq ? u"ENTITY value missing closing double quote (Rule 9)."
                           : u"ENTITY value missing closing single quote (Rule 9).",
                        tag, q);
        q = SkipSpace(close + 1, e);
        if (q < e && *q == quote)
            return Fail(dq ? u"ENTITY value has extra double quote (Rule 9)." : u"ENTITY value has extra single quote (Rule 9).",
                        tag, q);
        if (!ExpandEntityValue(valueStart, close, text)) return false;
    } else if (StartsWith(q, e, "SYSTEM")) {
        q += 6;
        const char16_t* literal = SkipSpace(q, e);
        if (literal == q || !ParseLiteral(literal, e, false)) return Fail(u"Ill formed ENTITY section[2] (Rule 75).", tag, q);
        q = literal;
        external = true;
    } else if (StartsWith(q, e, "PUBLIC")) {
        q += 6;
        const char16_t* literal = SkipSpace(q, e);
        if (literal == q || !ParseLiteral(literal, e, true))
            return Fail(u"Ill formed ENTITY (PUBLIC) section (Rule 75).", tag, q);
        q = literal;
        literal = SkipSpace(q, e);
        if (literal == q || !ParseLiteral(literal, e, false))
            return Fail(u"Ill formed ENTITY (PUBLIC) section[2] (Rule 75).", tag, q);
        q = literal;
        external = true;
    } else {
        return Fail(u"Ill formed ENTITY section (Rule 75).", tag, q);
    }
    if (external) {
        // An unparsed entity names its notation.
        const char16_t* ndata = SkipSpace(q, e);
        if (!parameter && ndata != q && StartsWith(ndata, e, "NDATA")) {
            const char16_t* notation = SkipSpace(ndata + 5, e);
            if (notation != ndata + 5 && notation < e && IsNameStart(*notation)) q = SkipNameChars(notation, e);
        }
    }
    q = SkipSpace(q, e);
    if (q == e || *q != u'>') return Fail(kMissingTerminatingGt, tag, q);

    std::u16string reference;
    reference.reserve(name.size() + 2);
    reference.push_back(parameter ? u'%' : u'&');
    reference.append(name);
    reference.push_back(u';');
    // The first declaration of a name is binding; later ones are ignored.
    doc_.AddEntity(std::move(text), std::move(reference), external);
    XmlNode* node = NewChild(parent, XmlType::Declaration, p, std::u16string(tag));
    node->value_.assign(SkipSpace(p + 8, q), q);
    p = q + 1;
    return Notify(node, p);
}

// The replacement text of an entity value: character references and parameter
// entities are replaced, and so are general entities declared before (they would
// be replaced when the entity is used); others stay as written.
bool XmlParser::ExpandEntityValue(const char16_t* p, const char16_t* e, std::u16string& out) {
    constexpr std::u16string_view tag = u"ENTITY";
    out.reserve(static_cast<std::size_t>(e - p));
    while (p < e) {
        const char16_t c = *p;
        if (c == u'&') {
            std::size_t length = xmlinternal::ReferenceLength(p, e);
            if (length == 0)
                return Fail(u"ENTITY value contains & but is not used in an entity reference (Rule 9).", tag, p);
            std::u16string_view reference = View(p, p + length);
            if (reference[1] == u'#') {
                uint32_t cp = xmlchars::CharReferenceValue(reference.substr(1, length - 2));
                if (cp == 0)
                    return Fail(u"ENTITY value contains & but is not used in an entity reference (Rule 9).", tag, p);
                xmlchars::AppendCodePoint(out, cp);
            } else if (const std::u16string* text = doc_.LookupEntity(reference)) {
                if (!Spend(text->size(), tag, p)) return false;
                out += *text;
            } else {
                out.append(reference);
            }
            p += length;
        } else if (c == u'%') {
            const char16_t* nameEnd = p + 1 < e && IsNameStart(p[1]) ? SkipNameChars(p + 1, e) : p + 1;
            if (nameEnd == p + 1 || nameEnd == e || *nameEnd != u';')
                return Fail(u"ENTITY value contains % but is not used in a character reference (Rule 9).", tag, p);
            if (!(options_ & XmlOption::ResolveEntities)) return Fail(u"No entity database.", tag, p);
            std::u16string_view reference = View(p, nameEnd + 1);
            const XmlEntity* entity = doc_.FindEntity(reference);
            if (!entity) return Fail(u"Can't resolve embedded DOCTYPE PEReference (Rule 69).", tag, p);
            if (entity->external) return Fail(kExternalRef + std::u16string(reference), tag, p);
            if (!Spend(entity->text.size(), tag, p)) return false;
            out += entity->text;
            p = nameEnd + 1;
        } else {
            out.push_back(c);
            ++p;
        }
    }
    return true;
}

// ---- entry -------------------------------------------------------------------

bool XmlDocument::Parse(const void* bytes, std::size_t count) {
    ClearError();
    try {
        if (!root_) root_ = std::make_unique<XmlNode>(this, XmlType::ProcessingInstruction, u"xml");
        root_->RemoveAll();
        pool_.Reset();
        root_->value_.clear();
        root_->SetPositions(0, 0);
        encoding_.clear();
        version_.clear();
        standalone_ = true;
        ResetEntities();
        if (bytes == nullptr || count < 4) {
            SetError(kTooFewBytes);
            return false;
        }
        const auto* b = static_cast<const unsigned char*>(bytes);
        xmlinternal::Detection detection = xmlinternal::DetectEncoding(b, count);
        if (detection.error) {
            SetError(detection.error);
            return false;
        }
        std::u16string text;
        xmlinternal::Decode(detection.encoding, codePage_, b + detection.skip, count - detection.skip, text);
        XmlParser parser(*this, text);
        return parser.Run();
    } catch (const std::bad_alloc&) {
        SetError(kNoMemory);
        if (root_) root_->RemoveAll();
        return false;
    }
}
