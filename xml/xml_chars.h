// Character classes and small text helpers shared by the parser and the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace xmlchars {

inline bool IsSpace(char16_t c) { return c == 0x20 || c == 0x09 || c == 0x0A || c == 0x0D; }

inline bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
inline bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
inline bool IsHexDigit(char16_t c) {
    return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Name start characters of XML 1.0; surrogate units count as the supplementary
// planes they encode.
// The Latin-1 letters ª, µ and º are accepted too, as other parsers accept them.
inline bool IsNameStart(char16_t c) {
    if (c < 0x80) return IsAsciiLetter(c) || c == u'_' || c == u':';
    return c == 0xAA || c == 0xB5 || c == 0xBA || (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || c == 0x200C || c == 0x200D ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xDFFF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD);
}

inline bool IsNameChar(char16_t c) {
    if (c < 0x80) return IsAsciiLetter(c) || IsDigit(c) || c == u'_' || c == u':' || c == u'-' || c == u'.';
    return IsNameStart(c) || c == 0xB7 || (c >= 0x300 && c <= 0x36F) || c == 0x203F || c == 0x2040;
}

inline bool IsPubidChar(char16_t c) {
    if (IsAsciiLetter(c) || IsDigit(c)) return true;
    switch (c) {
    case 0x20: case 0x0D: case 0x0A: case u'-': case u'\'': case u'(': case u')': case u'+':
    case u',': case u'.': case u'/': case u':': case u'=': case u'?': case u';': case u'!':
    case u'*': case u'#': case u'@': case u'$': case u'_': case u'%':
        return true;
    default:
        return false;
    }
}

inline char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

// Whether [p, e) starts with the ASCII literal lit.
inline bool StartsWith(const char16_t* p, const char16_t* e, std::string_view lit) {
    if (static_cast<std::size_t>(e - p) < lit.size()) return false;
    for (std::size_t i = 0; i < lit.size(); ++i)
        if (p[i] != static_cast<unsigned char>(lit[i])) return false;
    return true;
}

inline bool StartsWithNoCase(const char16_t* p, const char16_t* e, std::string_view lit) {
    if (static_cast<std::size_t>(e - p) < lit.size()) return false;
    for (std::size_t i = 0; i < lit.size(); ++i)
        if (AsciiLower(p[i]) != AsciiLower(static_cast<unsigned char>(lit[i]))) return false;
    return true;
}

inline std::u16string Widen(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char c : s) out.push_back(static_cast<unsigned char>(c));
    return out;
}

inline void AppendCodePoint(std::u16string& out, uint32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Value of a character reference body ("#65", "#x41"), or 0 when it is not one
// that names a legal XML character.
uint32_t CharReferenceValue(std::u16string_view body);

// Fills %s, %d and %lu of a fixed message in order. Arguments are text or numbers.
struct FormatArg {
    FormatArg(std::u16string_view t) : text(t), isText(true) {}
    FormatArg(const std::u16string& t) : text(t), isText(true) {}
    FormatArg(long long n) : number(n) {}
    FormatArg(int n) : number(n) {}
    FormatArg(unsigned n) : number(n) {}
    FormatArg(unsigned long n) : number(static_cast<long long>(n)) {}
    FormatArg(unsigned long long n) : number(static_cast<long long>(n)) {}
    std::u16string_view text;
    long long number = 0;
    bool isText = false;
};
std::u16string Format(std::u16string_view pattern, std::initializer_list<FormatArg> args);

}  // namespace xmlchars
