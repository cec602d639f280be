// The parser's fixed failure texts, for checking that every failure carries one.
#pragma once

#include <string_view>

namespace xmltest {

inline constexpr std::u16string_view kFixedMessages[] = {
    u"Can't allocate memory.",
    u"Too few bytes to parse.",
    u"Second character of Byte Order Mark is invalid for UTF-16 Big Endian (Appendix F).",
    u"Second character of Byte Order Mark is invalid for UTF-16 Little Endian (Appendix F).",
    u"Can't determine Character Encoding (Appendix F).",
    u"Document is all white space (Rule 1).",
    u"First non-space character is not '<' (Rule 1).",
    u"XML Declaration is not lower case (Rule 23).",
    u"Can't find beginning-of-XML tag (<?xml) regardless of case.",
    u"Can't find the end of the end of the beginning-of-XML tag (?>).",
    u"Internal error : m_XML is NULL.",
    u"There can be only one element (Rule 1).",
    u"The xml declaration must be lower case (Rule 23).",
    u"There can be only one prolog (Rule 1).",
    u"Missing VersionInfo data (Rule 23).",
    u"The VersionInfo must be lower case (Rule 23).",
    u"Truncated VersionInfo (Rule 24).",
    u"Ill-formed VersionInfo missing = character (Rule 24).",
    u"Ill-formed VersionInfo, missing VersionNum (Rule 24).",
    u"Illegal VersionNum delimiter, must be a single or double quote (Rule 24).",
    u"VersionNum missing matching delimiter (Rule 24).",
    u"Empty VersionNum not allowed (Rule 26).",
    u"Character %d (decimal %d) of the \"version\" attribute is illegal (Rule 26).",
    u"Not enough room left to parse (Rule 23).",
    u"Truncated EncodingDecl (Rule 80).",
    u"Ill-formed EncodingDecl missing = character (Rule 80).",
    u"Ill-formed EncodingDecl, missing EncName (Rule 80).",
    u"Illegal EncName delimiter, must be a single or double quote (Rule 80).",
    u"EncName missing matching delimiter (Rule 80).",
    u"Empty EncName not allowed (Rule 81).",
    u"Illegal first character in EncName (Rule 81).",
    u"Character %d is illegal in EncName of \"%s\" (Rule 81).",
    u"Not enough room left to parse SDDecl (Rule 32).",
    u"Truncated SDDecl (Rule 32).",
    u"Ill-formed SDDecl missing = character (Rule 32).",
    u"Ill-formed SDDecl, missing data (Rule 32).",
    u"Illegal SDDecl delimiter, must be a single or double quote (Rule 32).",
    u"SDDecl missing matching delimiter (Rule 32).",
    u"Empty SDDecl not allowed (Rule 32).",
    u"Illegal value for SDDecl, it must me lower case \"yes\" or \"no\" (Rule 32).",
    u"Extra characters after SDDecl (Rule 23).",
    u"Tag is empty.",
    u"EmptyTag.",
    u"META tag is too short.",
    u"The processing instruction cannot be empty (Rule 16).",
    u"Illegal first character in processing instruction (Rule 16->5).",
    u"Processing instruction is not terminated with ?> (Rule 16)",
    u"Comment is missing the --> terminator (Rule 15).",
    u"Comment is missing the -- terminator (Rule 15).",
    u"Comment contains illegal double dashes (Rule 15).",
    u"Ill formed CDATA section.",
    u"Ill formed CDATA section (Rule 19).",
    u"Bad CDATA section (Rule 20).",
    u"Ill formed ENTITY section (Rule 71).",
    u"Ill formed ENTITY section[2] (Rule 71).",
    u"Ill formed ENTITY section[4] (Rule 71).",
    u"Ill formed ENTITY section (Rule 75).",
    u"Ill formed ENTITY section[2] (Rule 75).",
    u"Ill formed ENTITY (PUBLIC) section (Rule 75).",
    u"Ill formed ENTITY (PUBLIC) section[2] (Rule 75).",
    u"ENTITY value missing closing double quote (Rule 9).",
    u"ENTITY value has extra double quote (Rule 9).",
    u"ENTITY value missing closing single quote (Rule 9).",
    u"ENTITY value has extra single quote (Rule 9).",
    u"ENTITY value contains & but is not used in an entity reference (Rule 9).",
    u"ENTITY value contains % but is not used in a character reference (Rule 9).",
    u"Internal error adding ENTITY",
    u"First character of element name is not legal (Rule 5).",
    u"Character %lu of element named \"%s\" is invalid (Rule 999192).",
    u"Attribute must have '=' between the name and the value (Rule 41).",
    u"Attribute values must begin with a \" or a ' (Rule 10).",
    u"Attribute missing matching \" (Rule 10).",
    u"Attribute missing matching ' (Rule 10).",
    u"Empty attribute not allowed (Rule 10).",
    u"Attributes not allowed in end tag (Rule 42).",
    u"Not yet documented error 2726.",
    u"Not yet documented error 2785.",
    u"Not yet documented error 2804.",
    u"Attributes must be unique (Rule 40). An attribute named \"%s\" was repeated.",
    u"Attribute values cannot contain a '<' (Rule 41). Offending attribute is named named \"%s\"",
    u"Attribute values cannot contain a '&' (Rule 41). Offending attribute is named named \"%s\"",
    u"DOCTYPE Section, not enough room to parse Name (Rule 28).",
    u"DOCTYPE Section, illegal first character of Name (Rule 5).",
    u"Illegal DOCTYPE name terminator (Rule 28).",
    u"Illegal DOCTYPE name character (Rule 28).",
    u"Impossible character in DOCTYPE declaration (Rule 28).",
    u"No more room to parse SYSTEM or PUBLIC (Rule 75).",
    u"DOCTYPE ExternalID is not SYSTEM or PUBLIC (Rule 75).",
    u"Not enough room to quote a string (Rule 11).",
    u"String not properly quoted (Rule 11).",
    u"Mismatched quotes (Rule 11).",
    u"Illegal PubidChar (Rule 13).",
    u"No more room to quote a string (Rule 11).",
    u"PUBLIC SystemLiteral not properly quoted (Rule 11).",
    u"No more room (Rule 28).",
    u"No more room to parse a quoted string (Rule 11).",
    u"PUBLIS SystemLiteral not properly quoted (Rule 11).",
    u"Illegal character at contiuation point (Rule 28).",
    u"No room after continuation point (Rule 28).",
    u"No room after closing ] (Rule 28).",
    u"Missing closing > (Rule 28).",
    u"Ill-formed DOCTYPE child, missing < (Rule 29).",
    u"DOCTYPE PEReference is missing terminating semi-colon (Rule 69).",
    u"No entity database.",
    u"Can't resolve DOCTYPE PEReference (Rule 69).",
    u"Can't resolve embedded DOCTYPE PEReference (Rule 69).",
    u"Ran out of memory allocating for a tricky element.",
    u"Can't parse tricky element (Rule 69).",
    u"Unsupported (non-standalone) External Reference to %s",
    u"Error 2490 (Rule 28).",
    u"Ill-formed DOCTYPE child, missing terminating > (Rule 28).",
    u"DOCTYPE Section did not parse.",
    u"There are no more bytes to parse. We ran out of bytes before we rand out of XML.",
    u"Type of element is unknown. Could not parse element data.",
    u"Internal error: Could not create new element.",
    u"Premature end of data.",
    u"Overlapping tags detected. Found \"%s\" but needed to find \"%s\".",
    u"Parsing was aborted by Callback function.",
    u"Ill-formed entity reference in text section (Rule 68).",
    u"Bad entity reference in text section (Rule %lu).",
    u"Could not find terminator. Premature end of data encountered.",
    u"Parsing aborted by Callback function.",
};

// Whether text is pattern with each %s filled by any text and each %d / %lu by digits.
inline bool MatchesPattern(std::u16string_view text, std::u16string_view pattern) {
    if (pattern.empty()) return text.empty();
    if (pattern.substr(0, 2) == u"%s") {
        for (std::size_t skip = 0; skip <= text.size(); ++skip)
            if (MatchesPattern(text.substr(skip), pattern.substr(2))) return true;
        return false;
    }
    std::size_t conversion = pattern.substr(0, 2) == u"%d" ? 2 : pattern.substr(0, 3) == u"%lu" ? 3 : 0;
    if (conversion) {
        std::size_t digits = 0;
        while (digits < text.size() && text[digits] >= u'0' && text[digits] <= u'9') ++digits;
        if (digits == 0) return false;
        return MatchesPattern(text.substr(digits), pattern.substr(conversion));
    }
    return !text.empty() && text[0] == pattern[0] && MatchesPattern(text.substr(1), pattern.substr(1));
}

inline bool IsFixedMessage(std::u16string_view text) {
    for (std::u16string_view pattern : kFixedMessages)
        if (MatchesPattern(text, pattern)) return true;
    return false;
}

}  // namespace xmltest
