// Encoding detection, decoding and message formatting.
#include <string>

#include "xml/xml_chars.h"
#include "xml/xml_internal.h"

namespace xmlchars {

uint32_t CharReferenceValue(std::u16string_view body) {
    if (body.size() < 2 || body[0] != u'#') return 0;
    std::size_t i = 1;
    uint32_t base = 10;
    if (body[1] == u'x') {
        base = 16;
        i = 2;
    }
    if (i >= body.size()) return 0;
    uint32_t value = 0;
    for (; i < body.size(); ++i) {
        char16_t c = body[i];
        uint32_t digit;
        if (IsDigit(c))
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return 0;
        value = value * base + digit;
        if (value > 0x10FFFF) return 0;
    }
    bool legal = value == 0x9 || value == 0xA || value == 0xD || (value >= 0x20 && value <= 0xD7FF) ||
                 (value >= 0xE000 && value <= 0xFFFD) || (value >= 0x10000 && value <= 0x10FFFF);
    return legal ? value : 0;
}

std::u16string Format(std::u16string_view pattern, std::initializer_list<FormatArg> args) {
    std::u16string out;
    auto arg = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != u'%' || arg == args.end()) {
            out.push_back(pattern[i]);
            continue;
        }
        std::size_t conversion = i + 1;
        if (conversion < pattern.size() && pattern[conversion] == u'l') ++conversion;
        if (conversion >= pattern.size() || (pattern[conversion] != u's' && pattern[conversion] != u'd' && pattern[conversion] != u'u')) {
            out.push_back(pattern[i]);
            continue;
        }
        if (arg->isText) {
            out.append(arg->text);
        } else {
            out += Widen(std::to_string(arg->number));
        }
        ++arg;
        i = conversion;
    }
    return out;
}

}  // namespace xmlchars

namespace xmlinternal {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsSpaceByte(unsigned char b) { return b == 0x20 || b == 0x09 || b == 0x0A || b == 0x0D; }

// Windows-1252 code points for bytes 0x80..0x9F.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

// Each decoder writes into out from index 0 and returns how many units it wrote;
// out holds at least as many units as there are input bytes.
std::size_t DecodeUtf8(const unsigned char* b, std::size_t n, char16_t* out) {
    std::size_t w = 0;
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = b[i];
        if (c < 0x80) {
            out[w++] = c;
            ++i;
            continue;
        }
        uint32_t cp;
        std::size_t len;
        uint32_t min;
        if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F; len = 2; min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0F; len = 3; min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07; len = 4; min = 0x10000;
        } else {
            out[w++] = kReplacement;
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k < len; ++k) {
            if (i + k >= n || (b[i + k] & 0xC0) != 0x80) break;
            cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out[w++] = kReplacement;
            i += k;  // skip the well-formed prefix only
            continue;
        }
        // Two units come from four bytes: the output never overtakes the input.
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out[w++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            out[w++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out[w++] = static_cast<char16_t>(cp);
        }
        i += len;
    }
    return w;
}

std::size_t DecodeEightBit(uint32_t codePage, const unsigned char* b, std::size_t n, char16_t* out) {
    if (codePage == 65001) return DecodeUtf8(b, n, out);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = b[i];
        if (c < 0x80)
            out[i] = c;
        else if (codePage == 20127)
            out[i] = kReplacement;
        else if (codePage == 28591 || c >= 0xA0)
            out[i] = c;
        else
            out[i] = kCp1252High[c - 0x80];
    }
    return n;
}

std::size_t DecodeUtf16(bool bigEndian, const unsigned char* b, std::size_t n, char16_t* out) {
    std::size_t units = n / 2;
    if (bigEndian) {
        for (std::size_t i = 0; i < units; ++i) out[i] = static_cast<char16_t>((b[2 * i] << 8) | b[2 * i + 1]);
    } else {
        for (std::size_t i = 0; i < units; ++i) out[i] = static_cast<char16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    }
    return units;
}

// order[k] is the significance (0 = most significant) of byte k of each unit.
std::size_t DecodeUtf32(const int (&order)[4], const unsigned char* b, std::size_t n, char16_t* out) {
    std::size_t w = 0;
    for (std::size_t i = 0; i + 3 < n; i += 4) {
        uint32_t cp = 0;
        for (int k = 0; k < 4; ++k) cp |= uint32_t(b[i + k]) << (8 * (3 - order[k]));
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out[w++] = kReplacement;
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out[w++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            out[w++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out[w++] = static_cast<char16_t>(cp);
        }
    }
    return w;
}

}  // namespace

Detection DetectEncoding(const unsigned char* b, std::size_t count) {
    Detection d;
    if (count < 4) {
        d.error = u"Too few bytes to parse.";
        return d;
    }
    const unsigned char b0 = b[0], b1 = b[1], b2 = b[2], b3 = b[3];
    if (b0 == 0xFE) {
        if (b1 == 0xFF) {
            d.encoding = Encoding::Utf16BE;
            d.skip = 2;
        } else {
            d.error = u"Second character of Byte Order Mark is invalid for UTF-16 Big Endian (Appendix F).";
        }
        return d;
    }
    if (b0 == 0xFF) {
        if (b1 == 0xFE) {
            d.encoding = Encoding::Utf16LE;
            d.skip = 2;
        } else {
            d.error = u"Second character of Byte Order Mark is invalid for UTF-16 Little Endian (Appendix F).";
        }
        return d;
    }
    if (b0 == 0xEF && b1 == 0xBB && b2 == 0xBF) {
        d.skip = 3;
        return d;
    }
    // Without a byte order mark the document starts with '<' or with white space;
    // where the zero bytes stand gives the unit size and byte order.
    auto starts = [](unsigned char c) { return c == 0x3C || IsSpaceByte(c); };
    if (starts(b0)) {
        if (b1 != 0) return d;  // 8-bit
        d.encoding = (b2 == 0 && b3 == 0) ? Encoding::Utf32_4321 : Encoding::Utf16LE;
        return d;
    }
    if (b0 == 0 && starts(b1)) {
        d.encoding = (b2 == 0 && b3 == 0) ? Encoding::Utf32_3412 : Encoding::Utf16BE;
        return d;
    }
    if (b0 == 0 && b1 == 0 && b2 == 0 && starts(b3)) {
        d.encoding = Encoding::Utf32_1234;
        return d;
    }
    if (b0 == 0 && b1 == 0 && starts(b2) && b3 == 0) {
        d.encoding = Encoding::Utf32_2143;
        return d;
    }
    d.error = u"Can't determine Character Encoding (Appendix F).";
    return d;
}

void Decode(Encoding encoding, uint32_t codePage, const unsigned char* bytes, std::size_t count,
            std::u16string& out) {
    // No encoding yields more units than there are bytes.
    out.resize(count);
    static constexpr int k1234[4] = {0, 1, 2, 3};
    static constexpr int k4321[4] = {3, 2, 1, 0};
    static constexpr int k2143[4] = {1, 0, 3, 2};
    static constexpr int k3412[4] = {2, 3, 0, 1};
    char16_t* o = out.data();
    std::size_t units = 0;
    switch (encoding) {
    case Encoding::EightBit: units = DecodeEightBit(codePage, bytes, count, o); break;
    case Encoding::Utf16LE: units = DecodeUtf16(false, bytes, count, o); break;
    case Encoding::Utf16BE: units = DecodeUtf16(true, bytes, count, o); break;
    case Encoding::Utf32_1234: units = DecodeUtf32(k1234, bytes, count, o); break;
    case Encoding::Utf32_4321: units = DecodeUtf32(k4321, bytes, count, o); break;
    case Encoding::Utf32_2143: units = DecodeUtf32(k2143, bytes, count, o); break;
    case Encoding::Utf32_3412: units = DecodeUtf32(k3412, bytes, count, o); break;
    }
    out.resize(units);
    // The document ends at its terminating zero unit.
    std::size_t zero = out.find(char16_t(0));
    if (zero != std::u16string::npos) out.resize(zero);
    // Line ends become single line feeds, as XML processors hand them on.
    if (out.find(u'\r') != std::u16string::npos) {
        std::size_t w = 0;
        for (std::size_t r = 0; r < out.size(); ++r) {
            char16_t c = out[r];
            if (c == u'\r') {
                c = u'\n';
                if (r + 1 < out.size() && out[r + 1] == u'\n') ++r;
            }
            out[w++] = c;
        }
        out.resize(w);
    }
}

}  // namespace xmlinternal
