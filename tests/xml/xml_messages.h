// Every failure of the parser, as a document that produces it. The rows are the unit
// tests' error table and, with the texts documents in a table cannot reach, the set of
// fixed messages the fuzz targets accept.
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

namespace xmltest {

using namespace std::string_view_literals;

struct ErrorRow {
    std::string_view document;  // bytes, so a row can hold zeros and byte order marks
    const char* message;
    uint32_t options = 0x12;
    const char* tag = nullptr;  // checked when given, as are line and column when not 0
    uint32_t line = 0, column = 0;
};

inline const ErrorRow kErrorRows[] = {
    {"<a>"sv, "Too few bytes to parse."},
    {"\xFE<\0a"sv, "Second character of Byte Order Mark is invalid for UTF-16 Big Endian (Appendix F)."},
    {"\xFF<a\0"sv, "Second character of Byte Order Mark is invalid for UTF-16 Little Endian (Appendix F)."},
    {"abc<a/>"sv, "Can't determine Character Encoding (Appendix F)."},
    {"\xFF\xFE \0\n\0\t\0\r\0"sv, "Document is all white space (Rule 1)."},
    {"\xFF\xFE \0r\0u\0l\0e\0s\0"sv, "First non-space character is not '<' (Rule 1)."},
    {"<?XML version='1.0'?><a/>"sv, "XML Declaration is not lower case (Rule 23).", 0x10, "xml"},
    {"<?xml-stylesheet href='s.css'?><a/>"sv, "Can't find beginning-of-XML tag (<?xml) regardless of case.", 0},
    {"<?xml version='1.0'><a/>"sv, "Can't find the end of the end of the beginning-of-XML tag (?>).", 0x12, "xml"},
    {"<?xml version='1.0'?><a/>\n<!--x--><b/>"sv, "There can be only one element (Rule 1).", 0x30, "b", 2, 9},
    {"<?xml version='1.0'?><a/><?xml version='1.0'?>"sv, "There can be only one prolog (Rule 1)."},
    {"<a><?XmL x?></a>"sv, "The xml declaration must be lower case (Rule 23)."},
    // The declaration's pseudo-attributes, each failure naming the tag "xml".
    {"<?xml?><a/>"sv, "Not enough room left to parse (Rule 23).", 0x12, "xml"},
    {"<?xml encoding='x'?><a/>"sv, "Missing VersionInfo data (Rule 23).", 0x12, "xml"},
    {"<?xml Version='1.0'?><a/>"sv, "The VersionInfo must be lower case (Rule 23).", 0x12, "xml"},
    {"<?xml version?><a/>"sv, "Truncated VersionInfo (Rule 24).", 0x12, "xml"},
    {"<?xml version '1.0'?><a/>"sv, "Ill-formed VersionInfo missing = character (Rule 24).", 0x12, "xml"},
    {"<?xml version= ?><a/>"sv, "Ill-formed VersionInfo, missing VersionNum (Rule 24).", 0x12, "xml"},
    {"<?xml version=1.0?><a/>"sv, "Illegal VersionNum delimiter, must be a single or double quote (Rule 24).", 0x12, "xml"},
    {"<?xml version=\"1.0'?><a/>"sv, "VersionNum missing matching delimiter (Rule 24).", 0x12, "xml"},
    {"<?xml version=''?><a/>"sv, "Empty VersionNum not allowed (Rule 26).", 0x12, "xml"},
    {"<?xml version='1 0'?><a/>"sv, "Character 2 (decimal 32) of the \"version\" attribute is illegal (Rule 26).", 0x12, "xml"},
    {"<?xml version='1.0' foo?><a/>"sv, "Not enough room left to parse SDDecl (Rule 32).", 0x12, "xml"},
    {"<?xml version='1.0' encoding?><a/>"sv, "Truncated EncodingDecl (Rule 80).", 0x12, "xml"},
    {"<?xml version='1.0' encoding 'x'?><a/>"sv, "Ill-formed EncodingDecl missing = character (Rule 80).", 0x12, "xml"},
    {"<?xml version='1.0' encoding=?><a/>"sv, "Ill-formed EncodingDecl, missing EncName (Rule 80).", 0x12, "xml"},
    {"<?xml version='1.0' encoding=utf8?><a/>"sv, "Illegal EncName delimiter, must be a single or double quote (Rule 80)."},
    {"<?xml version='1.0' encoding='utf8?><a/>"sv, "EncName missing matching delimiter (Rule 80).", 0x12, "xml"},
    {"<?xml version='1.0' encoding=''?><a/>"sv, "Empty EncName not allowed (Rule 81).", 0x12, "xml"},
    {"<?xml version='1.0' encoding='8bit'?><a/>"sv, "Illegal first character in EncName (Rule 81).", 0x12, "xml"},
    {"<?xml version='1.0' encoding='utf 8'?><a/>"sv, "Character 4 is illegal in EncName of \"utf 8\" (Rule 81).", 0x12, "xml"},
    {"<?xml version='1.0' standalone?><a/>"sv, "Truncated SDDecl (Rule 32).", 0x12, "xml"},
    {"<?xml version='1.0' standalone 'yes'?><a/>"sv, "Ill-formed SDDecl missing = character (Rule 32).", 0x12, "xml"},
    {"<?xml version='1.0' standalone=?><a/>"sv, "Ill-formed SDDecl, missing data (Rule 32).", 0x12, "xml"},
    {"<?xml version='1.0' standalone=yes?><a/>"sv, "Illegal SDDecl delimiter, must be a single or double quote (Rule 32)."},
    {"<?xml version='1.0' standalone='yes?><a/>"sv, "SDDecl missing matching delimiter (Rule 32).", 0x12, "xml"},
    {"<?xml version='1.0' standalone=''?><a/>"sv, "Empty SDDecl not allowed (Rule 32).", 0x12, "xml"},
    {"<?xml version='1.0' standalone='YES'?><a/>"sv,
     "Illegal value for SDDecl, it must me lower case \"yes\" or \"no\" (Rule 32).", 0x12, "xml"},
    {"<?xml version='1.0' standalone='no' encoding='utf-8'?><a/>"sv, "Extra characters after SDDecl (Rule 23).", 0x12, "xml"},
    // Tags, attributes, comments, CDATA sections and processing instructions.
    {"<a><></a>"sv, "Tag is empty."},
    {"<a></></a>"sv, "EmptyTag."},
    {"<a></a"sv, "Premature end of data."},
    {"<a><1b/></a>"sv, "First character of element name is not legal (Rule 5)."},
    {"<a><b\"c/></a>"sv, "Character 2 of element named \"b\"c\" is invalid (Rule 999192)."},
    {"<a><bc"sv, "Could not find terminator. Premature end of data encountered.", 0x12, "bc"},
    {"<a><b/ ></a>"sv, "Not yet documented error 2785."},
    {"<a><b x='1' -y='2'/></a>"sv, "Not yet documented error 2804."},
    {"<a><b ='2'/></a>"sv, "Empty attribute not allowed (Rule 10)."},
    {"<a><b x '1'/></a>"sv, "Attribute must have '=' between the name and the value (Rule 41)."},
    {"<a><b x=1/></a>"sv, "Attribute values must begin with a \" or a ' (Rule 10)."},
    {"<a><b x=\"1/></a>"sv, "Attribute missing matching \" (Rule 10)."},
    {"<a><b x='1/></a>"sv, "Attribute missing matching ' (Rule 10)."},
    {"<a></a x='1'>"sv, "Attributes not allowed in end tag (Rule 42)."},
    {"<a/></a>"sv, "Not yet documented error 2726."},
    {"<a><b>"sv, "There are no more bytes to parse. We ran out of bytes before we rand out of XML."},
    {"<a><!ENTITY e 'x'></a>"sv, "Type of element is unknown. Could not parse element data."},
    {"<a/><?"sv, "META tag is too short."},
    {"<a>\n<b>\n  </c></a>"sv, "Overlapping tags detected. Found \"c\" but needed to find \"b\".", 0x12, "b", 3, 3},
    {"<rules>\n<LOG>x</log>"sv, "Overlapping tags detected. Found \"log\" but needed to find \"LOG\".", 0x1A, "LOG", 2},
    {"<a>\r\n\r\n<b x='1' x='2'/></a>"sv, "Attributes must be unique (Rule 40). An attribute named \"x\" was repeated.",
     0x12, "b", 3},
    {"<a v='1<2'/>"sv, "Attribute values cannot contain a '<' (Rule 41). Offending attribute is named named \"v\""},
    {"<a w='&#;'/>"sv, "Attribute values cannot contain a '&' (Rule 41). Offending attribute is named named \"w\""},
    {"<a><b>R &amp D</b></a>"sv, "Ill-formed entity reference in text section (Rule 68).", 0x12, "b"},
    {"<a>&nbsp;</a>"sv, "Bad entity reference in text section (Rule 68)."},
    {"<a>&#xD800;</a>"sv, "Bad entity reference in text section (Rule 66)."},
    {"<a>&#X41;</a>"sv, "Bad entity reference in text section (Rule 66)."},
    {"<a><!-- x -</a>"sv, "Comment is missing the -- terminator (Rule 15)."},
    {"<a><!-- x --"sv, "Comment is missing the --> terminator (Rule 15)."},
    {"<a><!-- x ---></a>"sv, "Comment contains illegal double dashes (Rule 15)."},
    {"<a><![CDA"sv, "Ill formed CDATA section."},
    {"<a><![CDATX[x]]></a>"sv, "Ill formed CDATA section (Rule 19)."},
    {"<a><![CDATA[x]]</a>"sv, "Bad CDATA section (Rule 20)."},
    {"<a><?" "?></a>"sv, "The processing instruction cannot be empty (Rule 16)."},
    {"<a><? x?></a>"sv, "Illegal first character in processing instruction (Rule 16->5)."},
    {"<a><?x y></a>"sv, "Processing instruction is not terminated with ?> (Rule 16)"},
    // DOCTYPE and entity declarations.
    {"<!DOCTYPE"sv, "DOCTYPE Section, not enough room to parse Name (Rule 28)."},
    {"<!DOCTYPE 1r><r/>"sv, "DOCTYPE Section, illegal first character of Name (Rule 5)."},
    {"<!DOCTYPE r\"><r/>"sv, "Illegal DOCTYPE name terminator (Rule 28)."},
    {"<!DOCTYPE r\xC2\xA0><r/>"sv, "Illegal DOCTYPE name character (Rule 28)."},
    {"<!DOCTYPEr><r/>"sv, "Impossible character in DOCTYPE declaration (Rule 28)."},
    {"<!DOCTYPE r"sv, "No more room (Rule 28)."},
    {"<!DOCTYPE r "sv, "No room after continuation point (Rule 28)."},
    {"<!DOCTYPE r SYS"sv, "No more room to parse SYSTEM or PUBLIC (Rule 75)."},
    {"<!DOCTYPE r OTHER 'x'><r/>"sv, "DOCTYPE ExternalID is not SYSTEM or PUBLIC (Rule 75)."},
    {"<!DOCTYPE r SYSTEM "sv, "Not enough room to quote a string (Rule 11)."},
    {"<!DOCTYPE r SYSTEM x><r/>"sv, "String not properly quoted (Rule 11)."},
    {"<!DOCTYPE r SYSTEM 'x><r/>"sv, "Mismatched quotes (Rule 11)."},
    {"<!DOCTYPE r PUBLIC 'a{b' 'c'><r/>"sv, "Illegal PubidChar (Rule 13)."},
    {"<!DOCTYPE r PUBLIC 'ab'"sv, "No more room to quote a string (Rule 11)."},
    {"<!DOCTYPE r PUBLIC 'ab''c'><r/>"sv, "PUBLIS SystemLiteral not properly quoted (Rule 11)."},
    {"<!DOCTYPE r PUBLIC 'ab' "sv, "No more room to parse a quoted string (Rule 11)."},
    {"<!DOCTYPE r PUBLIC 'ab' c><r/>"sv, "PUBLIC SystemLiteral not properly quoted (Rule 11)."},
    {"<!DOCTYPE r SYSTEM 'x' y><r/>"sv, "Illegal character at contiuation point (Rule 28)."},
    {"<!DOCTYPE r []"sv, "No room after closing ] (Rule 28)."},
    {"<!DOCTYPE r [] x><r/>"sv, "Missing closing > (Rule 28)."},
    {"<!DOCTYPE r [ x ]><r/>"sv, "Ill-formed DOCTYPE child, missing < (Rule 29)."},
    {"<!DOCTYPE r [ %p ]><r/>"sv, "DOCTYPE PEReference is missing terminating semi-colon (Rule 69)."},
    {"<!DOCTYPE r [<!ENTITY % p ''> %p; ]><r/>"sv, "No entity database.", 0x10},
    {"<!DOCTYPE r [ %p; ]><r/>"sv, "Can't resolve DOCTYPE PEReference (Rule 69)."},
    {"<!DOCTYPE r [<!ENTITY % p '&#37;q;'> %p; ]><r/>"sv, "Can't resolve embedded DOCTYPE PEReference (Rule 69)."},
    // '&#37;' becomes '%' in the replacement text: the entity names itself until the nesting bound.
    {"<!DOCTYPE r [<!ENTITY % a '&#37;a;'> %a;]><r/>"sv, "Can't parse tricky element (Rule 69)."},
    {"<!DOCTYPE r [ <!FOO> ]><r/>"sv, "Error 2490 (Rule 28)."},
    {"<!DOCTYPE r [ <!ENTITY e 'x' ]><r/>"sv, "Ill-formed DOCTYPE child, missing terminating > (Rule 28)."},
    {"<!DOCTYPE r [ <!ELEMENT r ANY>"sv, "DOCTYPE Section did not parse."},
    {"<!DOCTYPE r [<!ENTITYe 'x'>]><r/>"sv, "Ill formed ENTITY section (Rule 71)."},
    {"<!DOCTYPE r [<!ENTITY 1 'x'>]><r/>"sv, "Ill formed ENTITY section[2] (Rule 71)."},
    {"<!DOCTYPE r [<!ENTITY e'x'>]><r/>"sv, "Ill formed ENTITY section[4] (Rule 71)."},
    {"<!DOCTYPE r [<!ENTITY e x>]><r/>"sv, "Ill formed ENTITY section (Rule 75)."},
    {"<!DOCTYPE r [<!ENTITY e SYSTEM>]><r/>"sv, "Ill formed ENTITY section[2] (Rule 75)."},
    {"<!DOCTYPE r [<!ENTITY e PUBLIC 'a{'>]><r/>"sv, "Ill formed ENTITY (PUBLIC) section (Rule 75)."},
    {"<!DOCTYPE r [<!ENTITY e PUBLIC 'a' >]><r/>"sv, "Ill formed ENTITY (PUBLIC) section[2] (Rule 75)."},
    {"<!DOCTYPE r [<!ENTITY e \"x>]><r/>"sv, "ENTITY value missing closing double quote (Rule 9)."},
    {"<!DOCTYPE r [<!ENTITY e \"x\"\">]><r/>"sv, "ENTITY value has extra double quote (Rule 9)."},
    {"<!DOCTYPE r [<!ENTITY e 'x>]><r/>"sv, "ENTITY value missing closing single quote (Rule 9)."},
    {"<!DOCTYPE r [<!ENTITY e 'x' '>]><r/>"sv, "ENTITY value has extra single quote (Rule 9)."},
    {"<!DOCTYPE r [<!ENTITY e 'a & b'>]><r/>"sv, "ENTITY value contains & but is not used in an entity reference (Rule 9)."},
    {"<!DOCTYPE r [<!ENTITY e '100%'>]><r/>"sv, "ENTITY value contains % but is not used in a character reference (Rule 9)."},
    // Declared entities: unknown without 0x02, external ones never read.
    {"<!DOCTYPE r [<!ENTITY e 'E'>]><r>&e;</r>"sv, "Bad entity reference in text section (Rule 68).", 0x10, "r"},
    {"<!DOCTYPE r [<!ENTITY ext SYSTEM 'file:///etc/passwd'>]><r>&ext;</r>"sv,
     "Unsupported (non-standalone) External Reference to &ext;"},
    {"<!DOCTYPE r [<!ENTITY % ext PUBLIC '-//A//B' 'b.dtd'> %ext;]><r/>"sv,
     "Unsupported (non-standalone) External Reference to %ext;"},
};

// Failures a short document cannot show: memory, nesting and expansion bounds, callbacks.
inline constexpr std::u16string_view kOtherMessages[] = {
    u"Can't allocate memory.",
    u"Internal error : m_XML is NULL.",
    u"Internal error adding ENTITY",
    u"Internal error: Could not create new element.",
    u"Ran out of memory allocating for a tricky element.",
    u"Parsing was aborted by Callback function.",
    u"Parsing aborted by Callback function.",
};

// A message without its numbers and the text between its first and last double quote,
// so that each formatted message has the shape of its row.
inline std::u16string Shape(std::u16string_view text) {
    std::u16string out;
    const std::size_t first = text.find(u'"'), last = text.rfind(u'"');
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((i <= first || i >= last) && (text[i] < u'0' || text[i] > u'9')) out += text[i];
    return out;
}

inline bool IsFixedMessage(std::u16string_view text) {
    static const std::set<std::u16string> shapes = [] {
        std::set<std::u16string> out(std::begin(kOtherMessages), std::end(kOtherMessages));
        for (const ErrorRow& row : kErrorRows)
            out.insert(Shape(std::u16string(row.message, row.message + std::strlen(row.message))));
        return out;
    }();
    return text.starts_with(u"Unsupported (non-standalone) External Reference to ") || shapes.count(Shape(text));
}

}  // namespace xmltest
