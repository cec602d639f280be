// Encoding detection and decoding: which bytes give which text.
#include <gtest/gtest.h>

#include "tests/xml/xml_test_util.h"

namespace {

using namespace xmltest;

const char16_t* kDoc = u"<?xml version=\"1.0\"?><a b=\"x\">t\u00e9xt</a>";

void ExpectDoc(const Result& r) {
    ASSERT_TRUE(r.ok) << r.message;
    const XmlNode* a = r.at({0});
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Name(), u"a");
    EXPECT_EQ(a->Text(), u"t\u00e9xt");
    ASSERT_NE(a->FindAttribute(u"b"), nullptr);
    EXPECT_EQ(*a->FindAttribute(u"b"), u"x");
}

TEST(EncodingDetection, ThreeBytesAreTooFew) {
    Result r = ParseBytes(Utf8("<a>"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "Too few bytes to parse.");
    EXPECT_EQ(ParseBytes({}).message, "Too few bytes to parse.");
}

TEST(EncodingDetection, BrokenByteOrderMarks) {
    EXPECT_EQ(ParseBytes({0xFE, 0x3C, 0, 0x61}).message,
              "Second character of Byte Order Mark is invalid for UTF-16 Big Endian (Appendix F).");
    EXPECT_EQ(ParseBytes({0xFF, 0x3C, 0x61, 0}).message,
              "Second character of Byte Order Mark is invalid for UTF-16 Little Endian (Appendix F).");
}

TEST(EncodingDetection, UndeterminableStart) {
    EXPECT_EQ(Parse("abc<a/>").message, "Can't determine Character Encoding (Appendix F).");
    EXPECT_EQ(ParseBytes({0, 0, 0, 0x61}).message, "Can't determine Character Encoding (Appendix F).");
}

TEST(EncodingDetection, Utf8WithAndWithoutByteOrderMark) {
    std::string doc = "<?xml version=\"1.0\"?><a b=\"x\">t\xC3\xA9xt</a>";
    ExpectDoc(Parse(doc));
    ExpectDoc(Parse("\xEF\xBB\xBF" + doc));
}

TEST(EncodingDetection, Utf16LittleEndian) {
    ExpectDoc(ParseBytes(Utf16LE(kDoc, true)));
    // Without a byte order mark, starting "<?xml": 3C 00 3F 00.
    Bytes bytes = Utf16LE(kDoc);
    ASSERT_EQ(bytes[0], 0x3C);
    ASSERT_EQ(bytes[2], 0x3F);
    ExpectDoc(ParseBytes(bytes));
    ExpectDoc(ParseBytes(Utf16LE(std::u16string(u" \r\n\t") + kDoc)));
}

TEST(EncodingDetection, Utf16LittleEndianWithoutDeclaration) {
    // What the rule reader hands over: no declaration, first byte '<', second zero.
    Result r = ParseRuleFile(u"<rules><x>v\u20ac</x></rules>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0, 0})->Text(), u"v\u20ac");
}

TEST(EncodingDetection, Utf16BigEndian) {
    ExpectDoc(ParseBytes(Utf16BE(kDoc, true)));
    ExpectDoc(ParseBytes(Utf16BE(kDoc)));
    ExpectDoc(ParseBytes(Utf16BE(std::u16string(u"\n ") + kDoc)));
}

TEST(EncodingDetection, Utf32AllByteOrders) {
    for (const char* order : {"1234", "4321", "2143", "3412"}) {
        SCOPED_TRACE(order);
        Result r = ParseBytes(Utf32(u"<a>xyz</a>", order));
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(r.at({0})->Text(), u"xyz");
        Result spaced = ParseBytes(Utf32(u" <a>q</a>", order));
        ASSERT_TRUE(spaced.ok) << spaced.message;
        EXPECT_EQ(spaced.at({0})->Text(), u"q");
    }
}

TEST(EncodingDetection, WhiteSpaceFirstWithEightBitText) {
    Result r = Parse("  \n<a>x</a>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0})->Text(), u"x");
}

TEST(Decoding, TerminatingZeroUnitEndsTheDocument) {
    Bytes bytes = Utf16LE(u"<a>x</a>", false, true);
    Bytes tail = Utf16LE(u"<b>junk");
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    Result r = ParseBytes(bytes, kXmlRuleFileOptions);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.root().ChildCount(), 1u);
}

TEST(Decoding, OddTrailingByteIsIgnored) {
    Bytes bytes = Utf16LE(u"<a>x</a>");
    bytes.push_back('<');
    Result r = ParseBytes(bytes);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0})->Text(), u"x");
}

TEST(Decoding, MalformedUtf8BecomesReplacementCharacters) {
    Result r = Parse("<a>\xC3(\xF0\x9F\x98\x80\xFF</a>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0})->Text(), u"\uFFFD(\U0001F600\uFFFD");
    // A sequence cut off by the end of the buffer.
    Result cut = Parse("<a/>\xE2\x82");
    ASSERT_TRUE(cut.ok) << cut.message;
}

TEST(Decoding, EightBitCodePages) {
    Bytes bytes = Utf8("<a>\x80\xE9</a>");
    XmlDocument windows;
    windows.SetCodePage(1252);
    ASSERT_TRUE(windows.Parse(bytes.data(), bytes.size()));
    EXPECT_EQ(windows.Root()->Child(0)->Text(), u"\u20ac\u00e9");
    XmlDocument latin1;
    latin1.SetCodePage(28591);
    ASSERT_TRUE(latin1.Parse(bytes.data(), bytes.size()));
    EXPECT_EQ(latin1.Root()->Child(0)->Text(), u"\u0080\u00e9");
}

TEST(Decoding, LineEndsBecomeLineFeeds) {
    Result r = Parse("<a>1\r\n2\r3\n</a>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0})->Text(), u"1\n2\n3\n");
    Result lines = Parse("<a>\r\n\r\n<b x='1' x='2'/></a>");
    EXPECT_EQ(lines.line, 3u);
}

}  // namespace
