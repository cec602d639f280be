// Filter keys, list storage and matching of trap fields.
#include <gtest/gtest.h>

#include <clocale>

#include "snmp/trap_filter.h"
#include "snmp/trap_source.h"

using namespace brisel;

namespace {

TrapRecord Trap(const wchar_t* community = L"public", const wchar_t* agent = L"10.0.0.1", LONG generic = 6,
                LONG specific = 1) {
  TrapRecord r;
  r.Community = community;
  r.AgentAddress = agent;
  r.TransportAddress = L"192.168.1.5";
  r.Identification = L".1.3.6.1.4.1.9";
  r.Generic = generic;
  r.Specific = specific;
  return r;
}

bool Passes(const CSnmpEventSinkFilter& f, const TrapRecord& r) { return !f.Filter(r); }

TEST(SnmpFilter, EmptyFilterLetsEveryTrapPass) {
  CSnmpEventSinkFilter f;
  EXPECT_TRUE(Passes(f, Trap()));
  EXPECT_TRUE(Passes(f, TrapRecord()));
}

TEST(SnmpFilter, CommunityIgnoresCaseByDefault) {
  CSnmpEventSinkFilter f;
  EXPECT_EQ(f.SetFilter(L"COMMUNITY", L"public"), 0);
  EXPECT_TRUE(Passes(f, Trap(L"public")));
  EXPECT_TRUE(Passes(f, Trap(L"PUBLIC")));
  EXPECT_TRUE(Passes(f, Trap(L"Public")));
  EXPECT_FALSE(Passes(f, Trap(L"private")));
  EXPECT_FALSE(Passes(f, Trap(L"publ"))) << "no prefix match";
  EXPECT_FALSE(Passes(f, Trap(L""))) << "an empty field matches no list";
}

TEST(SnmpFilter, CaseSensitiveOnlyTurnedOffByUpperCaseFalse) {
  CSnmpEventSinkFilter f;
  f.SetFilter(L"COMMUNITY", L"public");
  EXPECT_EQ(f.SetFilter(L"CASE SENSITIVE", L"false"), 0);
  EXPECT_TRUE(f.CaseSensitive());
  EXPECT_FALSE(Passes(f, Trap(L"PUBLIC")));
  EXPECT_TRUE(Passes(f, Trap(L"public")));
  f.SetFilter(L"CASE SENSITIVE", L"FALSE");
  EXPECT_FALSE(f.CaseSensitive());
  EXPECT_TRUE(Passes(f, Trap(L"PUBLIC")));
  f.SetFilter(L"CASE SENSITIVE", L"TRUE:x,");
  EXPECT_TRUE(f.CaseSensitive()) << "set from the raw value";
}

TEST(SnmpFilter, UpperCasingFollowsTheCodePage) {
  std::setlocale(LC_ALL, ".ACP");
  CSnmpEventSinkFilter f;
  f.SetFilter(L"COMMUNITY", L"caf\u00e9");
  EXPECT_TRUE(Passes(f, Trap(L"CAF\u00c9")));
  std::setlocale(LC_ALL, "C");
}

TEST(SnmpFilter, ExcludeOnlyAgentAddress) {
  CSnmpEventSinkFilter f;
  EXPECT_EQ(f.SetFilter(L"AGENT ADDRESS", L":10.0.0.1"), 0);
  EXPECT_FALSE(Passes(f, Trap(L"public", L"10.0.0.1")));
  EXPECT_TRUE(Passes(f, Trap(L"public", L"10.0.0.2")));
  EXPECT_TRUE(Passes(f, Trap(L"public", L"10.0.0.11")));
}

TEST(SnmpFilter, GenericAndSpecificNumbersIncludeThenExclude) {
  CSnmpEventSinkFilter f;
  f.SetFilter(L"GENERIC", L"6");
  EXPECT_TRUE(Passes(f, Trap(L"public", L"10.0.0.1", 6)));
  EXPECT_FALSE(Passes(f, Trap(L"public", L"10.0.0.1", 0)));
  f.SetFilter(L"SPECIFIC", L"1,2:2");
  EXPECT_TRUE(Passes(f, Trap(L"public", L"10.0.0.1", 6, 1)));
  EXPECT_FALSE(Passes(f, Trap(L"public", L"10.0.0.1", 6, 2)));
  EXPECT_FALSE(Passes(f, Trap(L"public", L"10.0.0.1", 6, 3)));
  f.SetFilter(L"SPECIFIC", L"-1");
  EXPECT_TRUE(Passes(f, Trap(L"public", L"10.0.0.1", 6, -1))) << "negative numbers as %d text";
}

TEST(SnmpFilter, IdentificationMatchesExactlyWithItsLeadingDot) {
  CSnmpEventSinkFilter f;
  f.SetFilter(L"IDENTIFICATION", L".1.3.6.1.4.1.9");
  TrapRecord r = Trap();
  EXPECT_TRUE(Passes(f, r));
  r.Identification = L".1.3.6.1.4.1.9.1";
  EXPECT_FALSE(Passes(f, r));
  f.SetFilter(L"IDENTIFICATION", L"1.3.6.1.4.1.9");
  r.Identification = L".1.3.6.1.4.1.9";
  EXPECT_FALSE(Passes(f, r));
}

TEST(SnmpFilter, TransportAddressInclude) {
  CSnmpEventSinkFilter f;
  f.SetFilter(L"TRANSPORT ADDRESS", L"192.168.1.5,192.168.1.6");
  TrapRecord r = Trap();
  EXPECT_TRUE(Passes(f, r));
  r.TransportAddress = L"192.168.1.7";
  EXPECT_FALSE(Passes(f, r));
}

TEST(SnmpFilter, BlanksAreKeptInItems) {
  CSnmpEventSinkFilter f;
  f.SetFilter(L"COMMUNITY", L"public, private");
  EXPECT_TRUE(Passes(f, Trap(L"public")));
  EXPECT_FALSE(Passes(f, Trap(L"private")));
  EXPECT_TRUE(Passes(f, Trap(L" private")));
}

TEST(SnmpFilter, DelimiterAppliesToListsStoredAfterIt) {
  CSnmpEventSinkFilter f;
  f.SetFilter(L"COMMUNITY", L"a,b");
  EXPECT_EQ(f.SetFilter(L"DELIMITER", L";x"), 0);
  EXPECT_EQ(f.Delimiter(), L';');
  // The list stored before, "a,b,", holds no ';': it has no item left.
  EXPECT_FALSE(Passes(f, Trap(L"a")));
  EXPECT_FALSE(Passes(f, Trap(L"b")));
  f.SetFilter(L"COMMUNITY", L"a;b");
  EXPECT_TRUE(Passes(f, Trap(L"a")));
  EXPECT_TRUE(Passes(f, Trap(L"b")));
  EXPECT_FALSE(Passes(f, Trap(L"a;b")));
}

TEST(SnmpFilter, SeparatorSplitsAtItsFirstOccurrenceOnly) {
  CSnmpEventSinkFilter f;
  EXPECT_EQ(f.SetFilter(L"SEPERATOR", L"|"), 0);
  EXPECT_EQ(f.Separator(), L'|');
  f.SetFilter(L"COMMUNITY", L"|a|b");
  EXPECT_TRUE(Passes(f, Trap(L"a")));
  EXPECT_FALSE(Passes(f, Trap(L"a|b"))) << "exclude list holds a|b as one item";
  EXPECT_TRUE(Passes(f, Trap(L"b")));
  // The colon is ordinary text now.
  f.SetFilter(L"AGENT ADDRESS", L"x:y");
  EXPECT_TRUE(Passes(f, Trap(L"b", L"x:y")));
}

TEST(SnmpFilter, KeysAreExactUpperCaseWords) {
  CSnmpEventSinkFilter f;
  EXPECT_EQ(f.SetFilter(L"community", L"public"), 1);
  EXPECT_EQ(f.SetFilter(L"SEPARATOR", L"|"), 1) << "only the listed spelling";
  EXPECT_EQ(f.SetFilter(L"COMMUNITY ", L"public"), 1);
  EXPECT_EQ(f.Separator(), L':');
  EXPECT_TRUE(Passes(f, Trap(L"private"))) << "an unrecognised key changes nothing";
  EXPECT_EQ(f.SetFilter(L"NO SUCH KEY", L""), 0) << "an empty value is accepted before the key is looked at";
}

TEST(SnmpFilter, ReplacingAndEmptyingLists) {
  CSnmpEventSinkFilter f;
  f.SetFilter(L"COMMUNITY", L"public:private");
  EXPECT_FALSE(Passes(f, Trap(L"private")));
  EXPECT_FALSE(Passes(f, Trap(L"other")));
  f.SetFilter(L"COMMUNITY", L"public,private");
  EXPECT_TRUE(Passes(f, Trap(L"private"))) << "the earlier exclude list is gone";
  EXPECT_EQ(f.SetFilter(L"COMMUNITY", L""), 0);
  EXPECT_FALSE(Passes(f, Trap(L"other"))) << "an empty value leaves the lists";
  f.SetFilter(L"COMMUNITY", L":");
  EXPECT_TRUE(Passes(f, Trap(L"other"))) << "the separator alone empties both lists";
}

TEST(SnmpFilter, FilterHelperWalksDelimitedItems) {
  CSnmpEventSinkFilter f;
  EXPECT_TRUE(f.FilterHelper(L"a,bb,", L"bb", L','));
  EXPECT_FALSE(f.FilterHelper(L"a,bb", L"bb", L',')) << "text after the last delimiter is no item";
  EXPECT_FALSE(f.FilterHelper(L"a,bb,", L"b", L','));
  EXPECT_FALSE(f.FilterHelper(L",", L"", L','));
  EXPECT_TRUE(f.FilterHelper(L"A,", L"a", L','));
}

TEST(SnmpFilter, AllIncludeListsMustMatch) {
  CSnmpEventSinkFilter f;
  f.SetFilter(L"COMMUNITY", L"public");
  f.SetFilter(L"AGENT ADDRESS", L"10.0.0.1");
  EXPECT_TRUE(Passes(f, Trap(L"public", L"10.0.0.1")));
  EXPECT_FALSE(Passes(f, Trap(L"public", L"10.0.0.2")));
  EXPECT_FALSE(Passes(f, Trap(L"private", L"10.0.0.1")));
}

}  // namespace
