// The differential check against expat: both parsers reduce a document to the
// same canonical form of element names, nesting, attributes and character data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace xmldiff {

struct Outcome {
    bool accepted = false;
    bool doctype = false;       // the document has a DOCTYPE (not compared)
    bool emptyVersion = false;  // expat's reading of version="" (refused by design)
    std::string canonical;      // UTF-8, unambiguous
    std::string error;
};

// Text encodings both sides are told to use.
enum class Encoding { Utf8, Utf16LE, Utf16BE };

Outcome ParseWithExpat(const unsigned char* data, std::size_t size, Encoding encoding);
Outcome ParseWithOurs(const unsigned char* data, std::size_t size, uint32_t options);

// The encoding our detection picks, or false for the forms expat is not told about
// (32-bit, undeterminable).
bool DetectedEncoding(const unsigned char* data, std::size_t size, Encoding& encoding);

// Whether UTF-16 input holds a surrogate without its partner. Such text is not a
// document; expat takes a high surrogate with any following unit as a pair.
bool HasBrokenSurrogates(const unsigned char* data, std::size_t size, Encoding encoding);

}  // namespace xmldiff
