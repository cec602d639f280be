// Internals shared by the parser, the tree and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class XmlNode;

namespace xmlinternal {

enum class Encoding { EightBit, Utf16LE, Utf16BE, Utf32_1234, Utf32_4321, Utf32_2143, Utf32_3412 };

struct Detection {
    Encoding encoding = Encoding::EightBit;
    std::size_t skip = 0;          // bytes of byte order mark
    const char16_t* error = nullptr;  // fixed message when the encoding cannot be chosen
};

// Chooses the encoding from the first four bytes (count >= 4).
Detection DetectEncoding(const unsigned char* bytes, std::size_t count);

// Decodes bytes into UTF-16, stopping at the first zero unit, with line ends
// normalised to line feeds. Incomplete trailing units are dropped; malformed
// sequences become U+FFFD.
void Decode(Encoding encoding, uint32_t codePage, const unsigned char* bytes, std::size_t count,
            std::u16string& out);

// Length of the reference that starts at the '&' at p ("&name;", "&#nn;", "&#xhh;"),
// or 0 when none starts there.
std::size_t ReferenceLength(const char16_t* p, const char16_t* e);

// Message refusing the attribute for node, or empty when it may be added.
std::u16string CheckAttribute(const XmlNode& node, std::u16string_view name, std::u16string_view value);
std::u16string RepeatedAttributeMessage(std::u16string_view name);
// The value checks alone: '<' and a '&' that starts no reference.
std::u16string CheckAttributeValue(std::u16string_view name, std::u16string_view value);

}  // namespace xmlinternal
