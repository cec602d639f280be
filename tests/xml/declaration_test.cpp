// The XML declaration: where it must be, its case, and each pseudo-attribute.
#include <gtest/gtest.h>

#include "tests/xml/xml_test_util.h"

namespace {

using namespace xmltest;

std::string Decl(std::string_view inside) { return "<?xml" + std::string(inside) + "?><a/>"; }

TEST(Declaration, RecordedOnTheRootAndTheDocument) {
    Result r = Parse("<?xml version=\"1.0\" encoding='UTF-8' standalone=\"no\" ?>\n<a/>");
    ASSERT_TRUE(r.ok) << r.message;
    const XmlNode& root = r.root();
    EXPECT_EQ(root.Type(), XmlType::ProcessingInstruction);
    EXPECT_EQ(root.Name(), u"xml");
    ASSERT_EQ(root.AttributeCount(), 3u);
    EXPECT_EQ(root.Attribute(0)->name, u"version");
    EXPECT_EQ(root.Attribute(1)->name, u"encoding");
    EXPECT_EQ(*root.FindAttribute(u"standalone"), u"no");
    EXPECT_EQ(r.doc->Version(), u"1.0");
    EXPECT_EQ(r.doc->Encoding(), u"UTF-8");
    EXPECT_FALSE(r.doc->Standalone());
    EXPECT_EQ(r.at({0})->Name(), u"a");
}

TEST(Declaration, SpacesAroundEqualsAndSingleQuotes) {
    Result r = Parse(Decl(" version = '1.0'  standalone\t=\t'yes'"));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(r.doc->Standalone());
}

TEST(Declaration, NotLowerCaseIsRefusedUnlessAllowed) {
    EXPECT_EQ(Parse("<?XML version='1.0'?><a/>").message,
              "XML Declaration is not lower case (Rule 23).");
    EXPECT_EQ(Parse("<?xMl version='1.0'?><a/>", 0x10).message, "XML Declaration is not lower case (Rule 23).");
    Result allowed = Parse("<?XML version='1.0'?><a/>", 0x11);
    EXPECT_TRUE(allowed.ok) << allowed.message;
}

TEST(Declaration, RequiredWithoutOption0x10) {
    EXPECT_EQ(Parse("<a/>", 0).message, "Can't find beginning-of-XML tag (<?xml) regardless of case.");
    EXPECT_TRUE(Parse("<?xml version='1.0'?><a/>", 0).ok);
}

TEST(Declaration, MissingEnd) {
    EXPECT_EQ(Parse("<?xml version='1.0'><a/>").message,
              "Can't find the end of the end of the beginning-of-XML tag (?>).");
}

TEST(Declaration, ATargetThatMerelyStartsWithXmlIsAnInstruction) {
    Result r = Parse("<?xml-stylesheet href='s.css'?><a/>", 0x10);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.doc->Version(), u"1.0");  // the default declaration
    EXPECT_EQ(r.at({0})->Name(), u"xml-stylesheet");
    EXPECT_EQ(r.at({0})->Value(), u"href='s.css'");
    EXPECT_EQ(Parse("<?xml-stylesheet href='s.css'?><a/>", 0).message,
              "Can't find beginning-of-XML tag (<?xml) regardless of case.");
}

TEST(Declaration, LaterDeclarationsAreRefused) {
    EXPECT_EQ(Parse("<?xml version='1.0'?><a/><?xml version='1.0'?>").message, "There can be only one prolog (Rule 1).");
    EXPECT_EQ(Parse("<a><?XmL x?></a>").message, "The xml declaration must be lower case (Rule 23).");
}

TEST(Declaration, FailureLeavesTheDefaultDeclaration) {
    Result r = Parse("<?xml version='1.0' encoding='latin1'?><a></b>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.root().ChildCount(), 0u);
    EXPECT_EQ(*r.root().FindAttribute(u"version"), u"1.0");
    EXPECT_EQ(*r.root().FindAttribute(u"standalone"), u"yes");
    EXPECT_EQ(r.root().FindAttribute(u"encoding"), nullptr);
}

struct Case {
    const char* inside;
    const char* message;
};

class DeclarationMessages : public testing::TestWithParam<Case> {};

TEST_P(DeclarationMessages, Produced) {
    Result r = Parse(Decl(GetParam().inside));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, GetParam().message);
    EXPECT_EQ(r.tag, "xml");
}

INSTANTIATE_TEST_SUITE_P(
    Version, DeclarationMessages,
    testing::Values(
        Case{"", "Not enough room left to parse (Rule 23)."},
        Case{" ", "Not enough room left to parse (Rule 23)."},
        Case{" encoding='x'", "Missing VersionInfo data (Rule 23)."},
        Case{" Version='1.0'", "The VersionInfo must be lower case (Rule 23)."},
        Case{" version", "Truncated VersionInfo (Rule 24)."},
        Case{" version '1.0'", "Ill-formed VersionInfo missing = character (Rule 24)."},
        Case{" version= ", "Ill-formed VersionInfo, missing VersionNum (Rule 24)."},
        Case{" version=1.0", "Illegal VersionNum delimiter, must be a single or double quote (Rule 24)."},
        Case{" version='1.0", "VersionNum missing matching delimiter (Rule 24)."},
        Case{" version=\"1.0'", "VersionNum missing matching delimiter (Rule 24)."},
        Case{" version=''", "Empty VersionNum not allowed (Rule 26)."},
        Case{" version='1 0'", "Character 2 (decimal 32) of the \"version\" attribute is illegal (Rule 26)."},
        Case{" version='1.0' foo", "Not enough room left to parse SDDecl (Rule 32)."}));

INSTANTIATE_TEST_SUITE_P(
    Encoding, DeclarationMessages,
    testing::Values(
        Case{" version='1.0' encoding", "Truncated EncodingDecl (Rule 80)."},
        Case{" version='1.0' encoding 'x'", "Ill-formed EncodingDecl missing = character (Rule 80)."},
        Case{" version='1.0' encoding=", "Ill-formed EncodingDecl, missing EncName (Rule 80)."},
        Case{" version='1.0' encoding=utf8", "Illegal EncName delimiter, must be a single or double quote (Rule 80)."},
        Case{" version='1.0' encoding='utf8", "EncName missing matching delimiter (Rule 80)."},
        Case{" version='1.0' encoding=''", "Empty EncName not allowed (Rule 81)."},
        Case{" version='1.0' encoding='8bit'", "Illegal first character in EncName (Rule 81)."},
        Case{" version='1.0' encoding='utf 8'", "Character 4 is illegal in EncName of \"utf 8\" (Rule 81)."}));

INSTANTIATE_TEST_SUITE_P(
    Standalone, DeclarationMessages,
    testing::Values(
        Case{" version='1.0' standalone", "Truncated SDDecl (Rule 32)."},
        Case{" version='1.0' standalone 'yes'", "Ill-formed SDDecl missing = character (Rule 32)."},
        Case{" version='1.0' standalone=", "Ill-formed SDDecl, missing data (Rule 32)."},
        Case{" version='1.0' standalone=yes", "Illegal SDDecl delimiter, must be a single or double quote (Rule 32)."},
        Case{" version='1.0' standalone='yes", "SDDecl missing matching delimiter (Rule 32)."},
        Case{" version='1.0' standalone=''", "Empty SDDecl not allowed (Rule 32)."},
        Case{" version='1.0' standalone='YES'", "Illegal value for SDDecl, it must me lower case \"yes\" or \"no\" (Rule 32)."},
        Case{" version='1.0' standalone='no' x", "Extra characters after SDDecl (Rule 23)."},
        Case{" version='1.0' standalone='no' encoding='utf-8'", "Extra characters after SDDecl (Rule 23)."},
        Case{" version='1.0' something='else'", "Extra characters after SDDecl (Rule 23)."}));

}  // namespace
