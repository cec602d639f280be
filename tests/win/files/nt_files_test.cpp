// NtFile items and their values, and an NtFiles object whose worker ended.
#include <gtest/gtest.h>

#include <chrono>

#include "files/nt_files.h"
#include "tests/harness/dispatch.h"
#include "tests/win/files/temp_dir.h"

using namespace brisel;
using namespace brisel::test;

namespace {

TEST(NtFileItem, SizeJoinsBothHalvesAndTimesStayUtc) {
  ComPtr<NtFileItem> item;
  ASSERT_EQ(NtFileItem::CreateItem(&item), S_OK);
  const struct {
    DWORD high, low;
    double size;
  } sizes[] = {{1, 1073741824, 5368709120.0}, {0xFFFFFFFF, 0xFFFFFFFF, 18446744073709551615.0}, {0, 7, 7.0}};
  for (const auto& s : sizes) {
    item->record.data.nFileSizeHigh = s.high, item->record.data.nFileSizeLow = s.low;
    double size = 0;
    EXPECT_EQ(item->get_Size(&size), S_OK);
    EXPECT_EQ(size, s.size) << s.high << " " << s.low;
  }
  SYSTEMTIME st = {2020, 1, 4, 2, 3, 4, 5, 0};  // 2020-01-02 03:04:05 UTC
  ASSERT_TRUE(::SystemTimeToFileTime(&st, &item->record.data.ftLastWriteTime));
  item->record.data.ftCreationTime = item->record.data.ftLastWriteTime;
  item->record.data.ftLastAccessTime = {0xFFFFFFFF, 0xFFFFFFFF};  // beyond what a SYSTEMTIME holds
  DATE written = 0, created = 0, accessed = 1.0;
  EXPECT_EQ(item->get_LastWriteTime(&written) | item->get_CreationTime(&created) | item->get_LastAccessTime(&accessed), S_OK);
  EXPECT_NEAR(written, 43832.0 + (3 * 3600 + 4 * 60 + 5) / 86400.0, 1e-6) << "UTC, unconverted";
  EXPECT_EQ(created, written);
  EXPECT_EQ(accessed, 0.0);
  EXPECT_EQ(item->get_Name(nullptr), E_POINTER);
  EXPECT_EQ(item->get_Size(nullptr), E_POINTER);
}

TEST(NtFileItem, AScriptCanCreateAnEmptyOne) {
  ComScope com;
  HRESULT hr = E_FAIL;
  Dispatch file = Dispatch::Create(L"TalvaneAgent.NtFile", &hr);
  ASSERT_TRUE(file) << std::hex << hr;
  EXPECT_EQ(file.Text(L"Name") + L"|" + file.Text(L"Description"), L"|");
  EXPECT_EQ(file.Get(L"Size").value.Type(), VT_R8);
  EXPECT_EQ(AsDouble(file.Get(L"Size").value), 0.0);
  EXPECT_EQ(file.Get(L"LastWriteTime").value.Type(), VT_DATE);
  EXPECT_EQ(file.Long(L"Attributes"), 0);
}

TEST(NtFiles, EveryMemberStillWorksAfterTheWorkerEndedOnItsOwn) {
  ComScope com;
  TempDir dir;
  ComPtr<INtFiles> itf;
  ASSERT_EQ(NtFilesObject::CreateInstance(nullptr, IID_INtFiles, itf.PutVoid()), S_OK);
  auto set = [&](const wchar_t* key, const std::wstring& value) {
    Bstr k(key), v(value);
    Variant text;
    LONG result = 99;
    EXPECT_EQ(itf->SetFilter(k.Get(), v.Get(), text.Put(), &result), S_OK);
    return result;
  };
  ASSERT_EQ(set(L"FILE PATH", dir.Dir()), 0);  // and no switch: an empty mask, which the platform refuses
  LONG handle = 0, again = 0, result = 99, count = -1;
  ASSERT_EQ(itf->GetEvent(&handle), S_OK);
  auto* object = static_cast<NtFilesObject*>(itf.Get());
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (object->WorkerRunning() && std::chrono::steady_clock::now() < end) ::Sleep(10);
  ASSERT_FALSE(object->WorkerRunning());
  EXPECT_EQ(set(L"FILE NAME", L"TRUE"), 0);
  EXPECT_EQ(itf->get_Event(&again), S_OK);
  EXPECT_EQ(again, handle);
  Variant text, item;
  EXPECT_EQ(itf->ResetEvent(text.Put(), &result), S_OK);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(itf->get_Count(&count), S_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(itf->get_Item(1, item.Put()), E_FAIL);
}

}  // namespace
