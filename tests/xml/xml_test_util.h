// Documents as byte strings in each encoding, and readable texts of UTF-16.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace xmltest {

// Each unit as bytes named by their significance: "21" is UTF-16LE, "12" UTF-16BE,
// "1234" UTF-32BE (of text below U+10000).
inline std::string Encode(std::u16string_view text, std::string_view order) {
    std::string out;
    for (char16_t c : text)
        for (char digit : order) out += static_cast<char>(uint32_t{c} >> (8 * (order.size() - (digit - '0'))));
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

}  // namespace xmltest
