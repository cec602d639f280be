// Collections, their enumerators, and the wide-string helpers.
#include <gtest/gtest.h>

#include "collector/error_state.h"
#include "collector/strings.h"
#include "module/collection.h"
#include "tests/harness/dispatch.h"
#include "wmi/processes.h"

using namespace brisel;
using namespace brisel::test;

namespace {

ItemCollection::Items MakeItems(std::initializer_list<const wchar_t*> names) {
  ItemCollection::Items items;
  for (const wchar_t* n : names) {
    ComPtr<ProcessItem> p;
    EXPECT_EQ(ProcessItem::CreateItem(&p), S_OK);
    p->name = n;
    items.emplace_back(static_cast<IDispatch*>(static_cast<IProcess*>(p.Get())));
  }
  return items;
}

std::wstring NameOf(const VARIANT& v) {
  if (V_VT(&v) != VT_DISPATCH) return L"<not an object>";
  ComPtr<IProcess> p;
  if (FAILED(V_DISPATCH(&v)->QueryInterface(IID_IProcess, p.PutVoid()))) return L"<no IProcess>";
  Bstr name;
  p->get_Name(name.Put());
  return std::wstring(name.View());
}

TEST(Collection, ItemIsOneBasedWithDistinctErrors) {
  ItemCollection c;
  c.Replace(MakeItems({L"a", L"b"}));
  LONG count = 0;
  ASSERT_EQ(c.Count(&count), S_OK);
  EXPECT_EQ(count, 2);
  Variant v;
  ASSERT_EQ(c.Item(1, v.Put()), S_OK);
  EXPECT_EQ(NameOf(v.Get()), L"a");
  ASSERT_EQ(c.Item(2, v.Put()), S_OK);
  EXPECT_EQ(NameOf(v.Get()), L"b");
  EXPECT_EQ(c.Item(0, v.Put()), E_INVALIDARG);
  EXPECT_EQ(c.Item(-1, v.Put()), E_INVALIDARG);
  EXPECT_EQ(c.Item(3, v.Put()), E_FAIL);
  EXPECT_EQ(c.Item(1, nullptr), E_POINTER);
  EXPECT_EQ(c.Count(nullptr), E_POINTER);
  EXPECT_EQ(c.NewEnum(nullptr), E_POINTER);
}

TEST(Collection, EnumeratorKeepsItsBatchWhenTheCollectionIsReplaced) {
  ItemCollection c;
  c.Replace(MakeItems({L"old1", L"old2", L"old3"}));
  ComPtr<IUnknown> unk;
  ASSERT_EQ(c.NewEnum(unk.Put()), S_OK);
  ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(unk.As(&e), S_OK);
  c.Replace(MakeItems({L"new"}));
  VARIANT out[4];
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(4, out, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 3u);
  EXPECT_EQ(NameOf(out[0]), L"old1");
  EXPECT_EQ(NameOf(out[2]), L"old3");
  for (ULONG i = 0; i < fetched; ++i) VariantClear(&out[i]);
  LONG count = 0;
  c.Count(&count);
  EXPECT_EQ(count, 1);
}

TEST(Collection, EnumeratorSkipResetAndClone) {
  ItemCollection c;
  c.Replace(MakeItems({L"a", L"b", L"c"}));
  ComPtr<IUnknown> unk;
  ASSERT_EQ(c.NewEnum(unk.Put()), S_OK);
  ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(unk.As(&e), S_OK);
  EXPECT_EQ(e->Skip(1), S_OK);
  ComPtr<IEnumVARIANT> clone;
  ASSERT_EQ(e->Clone(clone.Put()), S_OK);
  Variant v;
  ULONG fetched = 0;
  ASSERT_EQ(clone->Next(1, v.Put(), &fetched), S_OK);
  EXPECT_EQ(NameOf(v.Get()), L"b") << "a clone starts where its original stands";
  EXPECT_EQ(e->Skip(5), S_FALSE);
  EXPECT_EQ(e->Next(1, v.Put(), &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(e->Reset(), S_OK);
  ASSERT_EQ(e->Next(1, v.Put(), nullptr), S_OK);
  EXPECT_EQ(NameOf(v.Get()), L"a");
  VARIANT two[2];
  EXPECT_EQ(e->Next(2, two, nullptr), E_INVALIDARG) << "more than one item needs a count";
}

TEST(Collection, ReplacingWhileReadersIterateFromOtherThreads) {
  auto c = std::make_shared<ItemCollection>();
  c->Replace(MakeItems({L"x"}));
  std::atomic<bool> done{false};
  std::atomic<long> reads{0};
  auto reader = [&] {
    ComScope com;
    while (!done) {
      LONG count = 0;
      c->Count(&count);
      for (LONG i = 1; i <= count; ++i) {
        Variant v;
        // The batch may change between Count and Item: an index above the new Count fails cleanly.
        HRESULT hr = c->Item(i, v.Put());
        if (hr == S_OK) ASSERT_FALSE(NameOf(v.Get()).empty());
        else ASSERT_EQ(hr, E_FAIL);
      }
      ++reads;
    }
  };
  std::thread r1(reader), r2(reader);
  for (int i = 0; i < 300 || reads < 200; ++i) c->Replace(i % 2 ? MakeItems({L"a", L"b", L"c"}) : MakeItems({}));
  done = true;
  r1.join();
  r2.join();
  EXPECT_GE(reads.load(), 200);
}

TEST(Strings, FormatUsesWideStringsAndBoundsItsResult) {
  std::wstring out = L"kept";
  ASSERT_TRUE(FormatW(&out, L"%s=%d", L"value", 42));
  EXPECT_EQ(out, L"value=42");
  std::wstring big(100000, L'x');
  ASSERT_TRUE(FormatW(&out, L"[%s]", big.c_str()));
  EXPECT_EQ(out.size(), big.size() + 2);
  EXPECT_EQ(Trim(L" \t\r\nabc d\r\n "), L"abc d");
  EXPECT_EQ(Trim(L" \t "), L"");
}

TEST(ErrorStateTest, SystemCodesBecomeTheirText) {
  ErrorState e;
  EXPECT_FALSE(e.Status());
  e.SetErrorFromSystemCode(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(e.ErrorCode(), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(e.ErrorMessage().empty());
  e.SetErrorMessage(static_cast<const wchar_t*>(nullptr));
  EXPECT_EQ(e.ErrorMessage(), L"");
}

}  // namespace
