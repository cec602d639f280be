// Entities: each document's table and the bound on what their expansion may cost.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/xml/xml_test_util.h"

namespace {

using namespace xmltest;

const char kTooMuch[] = "Ran out of memory allocating for a tricky element.";

TEST(Entities, TableIsResetForEachDocument) {
    XmlDocument doc;
    doc.SetOptions(kXmlRuleFileOptions);
    ASSERT_TRUE(ParseInto(doc, "<!DOCTYPE r [<!ENTITY e 'E'>]><r>&e;</r>"));
    ASSERT_EQ(doc.Entities().size(), 6u);
    EXPECT_TRUE(doc.Entities()[5].text == u"E" && doc.Entities()[5].reference == u"&e;");
    EXPECT_EQ(*doc.LookupEntity(u"&e;"), u"E");
    EXPECT_FALSE(ParseInto(doc, "<r>&e;</r>"));
    EXPECT_EQ(doc.LookupEntity(u"&e;"), nullptr);
    std::u16string table;
    for (const XmlEntity& entity : doc.Entities()) table += entity.text + entity.reference;
    EXPECT_EQ(table, u"&&amp;'&apos;>&gt;<&lt;\"&quot;");
}

// big declared with size units, then used in each of uses copies of use.
std::string UsesOfBig(std::size_t size, int uses, const std::string& use) {
    std::string doc = "<!DOCTYPE r [<!ENTITY big \"" + std::string(size, 'x') + "\">]><r>";
    for (int i = 0; i < uses; ++i) doc += use;
    return doc + "</r>";
}

TEST(Entities, ExpansionStopsExactlyAtTheBudget) {
    // A document under 41943 units has the least budget, 4 Mi units: 1024 uses of 4 Ki.
    for (const char* use : {"<v>&big;</v>", "<v a='&big;'/>"}) {
        Result full = Parse(UsesOfBig(4096, 1024, use), kXmlRuleFileOptions);
        ASSERT_TRUE(full.ok) << use << ": " << full.message;
        EXPECT_EQ(Parse(UsesOfBig(4096, 1025, use), kXmlRuleFileOptions).message, kTooMuch) << use;
    }
    EXPECT_EQ(Parse(UsesOfBig(4096, 1024, "<v>&big;</v>"), kXmlRuleFileOptions).root().Text().size(), 4096u * 1024u);
    // A larger one has 100 times its size: 100 uses of 60000 fit in a document of some 61000 units, 400 do not.
    EXPECT_TRUE(Parse(UsesOfBig(60000, 100, "<v>&big;</v>"), kXmlRuleFileOptions).ok);
    EXPECT_EQ(Parse(UsesOfBig(60000, 400, "<v>&big;</v>"), kXmlRuleFileOptions).message, kTooMuch);
}

TEST(Entities, BillionLaughsStopAtTheBudget) {
    std::string doc = "<!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    std::string previous = "lol";
    for (int i = 1; i <= 9; ++i) {
        std::string name = "lol" + std::to_string(i);
        doc += "<!ENTITY " + name + " \"";
        for (int k = 0; k < 10; ++k) doc += "&" + previous + ";";
        doc += "\">";
        previous = name;
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Parse(doc + "]><lolz>&lol9;</lolz>", kXmlRuleFileOptions).message, kTooMuch);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
