// Character data: the white-space pass, references, CDATA, comments and
// processing instructions, and what the text of a node is.
#include <gtest/gtest.h>

#include "tests/xml/xml_test_util.h"

namespace {

using namespace xmltest;

const char* kSpaced = "<a>\n  <b>x</b>\n  <c> </c>\n</a>";

TEST(WhiteSpaceText, DroppedWithDefaultAndRuleFileOptions) {
    for (uint32_t options : {XmlDocument::kDefaultOptions, kXmlRuleFileOptions}) {
        Result r = Parse(kSpaced, options);
        ASSERT_TRUE(r.ok) << r.message;
        const XmlNode* a = r.at({0});
        ASSERT_EQ(a->ChildCount(), 2u);
        EXPECT_EQ(a->Child(0)->ChildCount(), 1u);
        EXPECT_EQ(a->Child(1)->ChildCount(), 0u);
    }
}

TEST(WhiteSpaceText, KeptWith0x80UnlessAlso0x08) {
    Result kept = Parse(kSpaced, 0x90);
    ASSERT_TRUE(kept.ok) << kept.message;
    EXPECT_EQ(kept.at({0})->ChildCount(), 5u);
    EXPECT_EQ(kept.at({0, 0})->Type(), XmlType::Text);
    EXPECT_EQ(kept.at({0, 0})->Value(), u"\n  ");
    EXPECT_EQ(kept.at({0, 3})->ChildCount(), 1u);
    Result dropped = Parse(kSpaced, 0x98);
    ASSERT_TRUE(dropped.ok) << dropped.message;
    EXPECT_EQ(dropped.at({0})->ChildCount(), 2u);
}

TEST(WhiteSpaceText, TextAroundIsKeptWhole) {
    Result r = Parse("<a>  x  </a>");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.at({0})->Text(), u"  x  ");
}

TEST(References, PredefinedBetweenWords) {
    Result r = Parse("<a>fish &amp; chips &lt;&gt;&apos;&quot;</a>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0})->Text(), u"fish & chips <>'\"");
    EXPECT_EQ(r.at({0, 0})->Value(), u"fish &amp; chips &lt;&gt;&apos;&quot;");
}

TEST(References, CharacterReferences) {
    Result r = Parse("<a>&#65;&#x42;&#x1F600;</a>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0})->Text(), u"AB\U0001F600");
}

TEST(References, AmpersandWithoutSemicolon) {
    Result r = Parse("<a><b>R &amp D</b></a>");
    EXPECT_EQ(r.message, "Ill-formed entity reference in text section (Rule 68).");
    EXPECT_EQ(r.tag, "b");
}

TEST(References, UnknownReferences) {
    EXPECT_EQ(Parse("<a>&nbsp;</a>").message, "Bad entity reference in text section (Rule 68).");
    EXPECT_EQ(Parse("<a>a & b;</a>").message, "Bad entity reference in text section (Rule 68).");
    EXPECT_EQ(Parse("<a>&#0;</a>").message, "Bad entity reference in text section (Rule 66).");
    EXPECT_EQ(Parse("<a>&#xD800;</a>").message, "Bad entity reference in text section (Rule 66).");
    EXPECT_EQ(Parse("<a>&#X41;</a>").message, "Bad entity reference in text section (Rule 66).");
}

TEST(References, CheckedEvenInKeptWhiteSpace) {
    EXPECT_TRUE(Parse("<a> &#32; </a>", 0x10).ok);
    EXPECT_TRUE(Parse("<a>  </a>", 0x90).ok);
}

TEST(NodeText, AllCharacterDataInsideInDocumentOrder) {
    Result r = Parse("<a>1<b>2<c>3</c>4</b><!--no--><?pi no?><![CDATA[5&amp;]]>6</a>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0})->Text(), u"1234" u"5&amp;" u"6");
    EXPECT_EQ(r.at({0, 1})->Text(), u"234");
    EXPECT_EQ(r.root().Text(), r.at({0})->Text());
}

TEST(NodeText, RawValueWhenAReferenceIsUnknown) {
    XmlDocument doc;
    XmlNode* text = doc.Root()->AddChild(std::make_unique<XmlNode>(&doc, XmlType::Text));
    text->SetValue(u"a&amp;b&nope;c");
    EXPECT_EQ(text->Text(), u"a&amp;b&nope;c");
    text->SetValue(u"a&amp;b&lt;c");
    EXPECT_EQ(text->Text(), u"a&b<c");
    text->SetValue(u"a&amp;b&lt");
    EXPECT_EQ(text->Text(), u"a&amp;b&lt");
}

TEST(CData, KeptVerbatim) {
    Result r = Parse("<a><![CDATA[<b>&x;</b> ]] ]]></a>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0, 0})->Type(), XmlType::CData);
    EXPECT_EQ(r.at({0, 0})->Value(), u"<b>&x;</b> ]] ");
    Result blank = Parse("<a><![CDATA[ ]]></a>");
    ASSERT_TRUE(blank.ok);
    EXPECT_EQ(blank.at({0})->ChildCount(), 1u);
}

TEST(Comments, ContentAndPlace) {
    Result r = Parse("<!-- top --><a><!----><!-- - x - --></a>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0})->Type(), XmlType::Comment);
    EXPECT_EQ(r.at({0})->Value(), u" top ");
    EXPECT_EQ(r.at({1, 0})->Value(), u"");
    EXPECT_EQ(r.at({1, 1})->Value(), u" - x - ");
}

TEST(ProcessingInstructions, TargetAndData) {
    Result r = Parse("<a><?do  it now ?><?go?></a>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0, 0})->Type(), XmlType::ProcessingInstruction);
    EXPECT_EQ(r.at({0, 0})->Name(), u"do");
    EXPECT_EQ(r.at({0, 0})->Value(), u"it now ");
    EXPECT_EQ(r.at({0, 1})->Name(), u"go");
    EXPECT_EQ(r.at({0, 1})->Value(), u"");
}

struct Case {
    const char* document;
    const char* message;
};

class MarkupMessages : public testing::TestWithParam<Case> {};

TEST_P(MarkupMessages, Produced) {
    Result r = Parse(GetParam().document);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, GetParam().message) << GetParam().document;
}

INSTANTIATE_TEST_SUITE_P(
    CommentsCDataInstructions, MarkupMessages,
    testing::Values(
        Case{"<a><!-- x -</a>", "Comment is missing the -- terminator (Rule 15)."},
        Case{"<a><!-- x --", "Comment is missing the --> terminator (Rule 15)."},
        Case{"<a><!-- x -- y --></a>", "Comment contains illegal double dashes (Rule 15)."},
        Case{"<a><!-- x ---></a>", "Comment contains illegal double dashes (Rule 15)."},
        Case{"<a><![CDA", "Ill formed CDATA section."},
        Case{"<a><![CDATX[x]]></a>", "Ill formed CDATA section (Rule 19)."},
        Case{"<a><![CDATA[x]]</a>", "Bad CDATA section (Rule 20)."},
        Case{"<a><?" "?></a>", "The processing instruction cannot be empty (Rule 16)."},
        Case{"<a><? x?></a>", "Illegal first character in processing instruction (Rule 16->5)."},
        Case{"<a><?x y></a>", "Processing instruction is not terminated with ?> (Rule 16)"},
        Case{"<a><?x/y?></a>", "Processing instruction is not terminated with ?> (Rule 16)"}));

}  // namespace
