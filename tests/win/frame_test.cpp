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
  ComPtr<IProcess> p;
  if (V_VT(&v) != VT_DISPATCH || FAILED(V_DISPATCH(&v)->QueryInterface(IID_IProcess, p.PutVoid()))) return L"<none>";
  Bstr name;
  p->get_Name(name.Put());
  return std::wstring(name.View());
}

TEST(Collection, ItemsCountAndEnumeratorKeepItsBatch) {
  ItemCollection c;
  c.Replace(MakeItems({L"a", L"b", L"c"}));
  Variant v;
  ASSERT_EQ(c.Item(3, v.Put()), S_OK);
  EXPECT_EQ(NameOf(v.Get()), L"c");
  const std::pair<LONG, HRESULT> bad[] = {{0, E_INVALIDARG}, {-1, E_INVALIDARG}, {4, E_FAIL}};
  for (const auto& [i, hr] : bad) EXPECT_EQ(c.Item(i, v.Put()), hr) << i;
  EXPECT_EQ(c.Item(1, nullptr), E_POINTER);
  EXPECT_EQ(c.Count(nullptr), E_POINTER);
  EXPECT_EQ(c.NewEnum(nullptr), E_POINTER);
  ComPtr<IUnknown> unk;
  ComPtr<IEnumVARIANT> e, clone;
  ASSERT_EQ(c.NewEnum(unk.Put()), S_OK);
  ASSERT_EQ(unk.As(&e), S_OK);
  c.Replace(MakeItems({L"new"}));
  LONG count = 0;
  EXPECT_EQ(c.Count(&count), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(e->Skip(1), S_OK);
  ASSERT_EQ(e->Clone(clone.Put()), S_OK);
  VARIANT out[4];
  ULONG fetched = 9;
  ASSERT_EQ(clone->Next(4, out, &fetched), S_FALSE) << "a clone starts where its original stands, in the old batch";
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(NameOf(out[0]) + NameOf(out[1]), L"bc");
  for (ULONG i = 0; i < fetched; ++i) VariantClear(&out[i]);
  EXPECT_EQ(e->Skip(2), S_OK) << "exactly what is left";
  EXPECT_EQ(e->Next(1, v.Put(), &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(4), S_FALSE);
  EXPECT_EQ(e->Next(1, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(e->Next(2, out, nullptr), E_INVALIDARG) << "more than one item needs a count";
  EXPECT_EQ(e->Reset(), S_OK);
  ASSERT_EQ(e->Next(1, v.Put(), nullptr), S_OK);
  EXPECT_EQ(NameOf(v.Get()), L"a");
}

TEST(Strings, FormatTrimAndSystemErrorTexts) {
  std::wstring out = L"kept";
  ASSERT_TRUE(FormatW(&out, L"%s=%d", L"value", 42));
  EXPECT_EQ(out, L"value=42");
  std::wstring big(100000, L'x');
  ASSERT_TRUE(FormatW(&out, L"[%s]", big.c_str()));
  EXPECT_EQ(out, L"[" + big + L"]");
  EXPECT_EQ(Trim(L" \t\r\nabc d\r\n "), L"abc d");
  EXPECT_EQ(Trim(L" \t "), L"");
  ErrorState e;
  EXPECT_FALSE(e.Status());
  e.SetErrorFromSystemCode(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(e.ErrorCode(), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  wchar_t text[256] = L"";
  ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND, 0, text, 256, nullptr);
  EXPECT_EQ(e.ErrorMessage(), text);
  e.SetErrorMessage(static_cast<const wchar_t*>(nullptr));
  EXPECT_EQ(e.ErrorMessage(), L"");
}

}  // namespace
