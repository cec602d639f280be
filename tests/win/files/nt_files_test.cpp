// NtFiles and NtFile as a script drives them, late-bound through the
// registered type library: members, results, items, and object lifetime.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "files/nt_files.h"
#include "tests/harness/dispatch.h"
#include "tests/win/files/temp_dir.h"

using namespace brisel;
using namespace brisel::test;

namespace {

class NtFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.Valid());
    HRESULT hr = E_FAIL;
    watcher_ = Dispatch::Create(L"TalvaneAgent.NtFiles", &hr);
    ASSERT_TRUE(watcher_) << std::hex << hr;
  }
  long SetFilter(const wchar_t* key, const std::wstring& value, std::wstring* text = nullptr) {
    Variant out;
    CallResult r = watcher_.Call(L"SetFilter", {key, value, Arg::Out(&out)});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(out.Type(), VT_BSTR);
    if (text) *text = AsText(out);
    return AsLong(r.value);
  }
  static HANDLE Handle(long value) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(value)); }
  // Event, then returns once the watcher's baseline has been taken.
  HANDLE Begin(bool names_watched, const std::wstring& suffix = {}) {
    HANDLE ready = Handle(watcher_.Long(L"Event"));
    auto batch = [this] {
      std::vector<std::pair<std::wstring, double>> out;
      long count = watcher_.Long(L"Count");
      for (long i = 1; i <= count; ++i) {
        Dispatch item = watcher_.Object(L"Item", {i});
        std::wstring name = item.Text(L"Name");
        if (name != L"." && name != L"..") out.emplace_back(name, AsDouble(item.Get(L"Size").value));
      }
      return out;
    };
    auto reset = [this] {
      Variant unused;
      watcher_.Call(L"ResetEvent", {Arg::Out(&unused)});
    };
    EXPECT_TRUE(AwaitBaseline(dir_, ready, names_watched, suffix, batch, reset));
    return ready;
  }
  // Waits for a batch, then gives the worker time to re-arm its notification.
  static bool Ready(HANDLE h) {
    bool ok = ::WaitForSingleObject(h, 10000) == WAIT_OBJECT_0;
    ::Sleep(150);
    return ok;
  }

  ComScope com_;
  TempDir dir_;
  Dispatch watcher_;
};

TEST_F(NtFiles, SetFilterHandsOutItsResultAndText) {
  std::wstring text;
  EXPECT_EQ(SetFilter(L"FILE PATH", dir_.Dir() + L"\\", &text), 0);
  EXPECT_EQ(text, L"");
  EXPECT_EQ(SetFilter(L"file name", L"TRUE", &text), 1);
  EXPECT_EQ(text, L"Invalid Filter");
  EXPECT_EQ(SetFilter(L"FILE NAME", L"", &text), -1);
  EXPECT_EQ(text, L"");
  EXPECT_EQ(SetFilter(L"FILE PATH", dir_.Path(L"absent.txt"), &text), -1);
  ErrorState expected;
  expected.SetErrorFromSystemCode(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(text, expected.ErrorMessage());
}

TEST_F(NtFiles, EventAndGetEventGiveTheSameHandleAndResetEventGivesZero) {
  long event = watcher_.Long(L"Event");
  EXPECT_NE(event, 0);
  EXPECT_EQ(watcher_.Long(L"GetEvent"), event);
  Variant text(L"stale");
  CallResult r = watcher_.Call(L"ResetEvent", {Arg::Out(&text)});
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(AsLong(r.value), 0);
  EXPECT_EQ(text.Type(), VT_BSTR);
  EXPECT_EQ(AsText(text), L"");
}

TEST_F(NtFiles, ItemErrorsBeforeAndAfterABatch) {
  EXPECT_EQ(watcher_.Long(L"Count"), 0);
  EXPECT_EQ(watcher_.Get(L"Item", {1}).hr, E_FAIL);
  SetFilter(L"FILE PATH", dir_.Dir());
  SetFilter(L"FILE NAME", L"TRUE");
  HANDLE ready = Begin(true);
  // One rename is one listing's change, so both names come in one batch.
  ASSERT_TRUE(dir_.Write(L"x.txt", 3));
  ASSERT_TRUE(Ready(ready));
  Variant unused;
  watcher_.Call(L"ResetEvent", {Arg::Out(&unused)});
  ASSERT_TRUE(dir_.Rename(L"x.txt", L"a.txt"));
  ASSERT_TRUE(Ready(ready));
  long count = watcher_.Long(L"Count");
  EXPECT_EQ(watcher_.Get(L"Item", {0}).hr, E_INVALIDARG);
  EXPECT_EQ(watcher_.Get(L"Item", {count + 1}).hr, E_FAIL);
  std::vector<Dispatch> each;
  ASSERT_EQ(watcher_.Enumerate(&each), S_OK);
  ASSERT_EQ(each.size(), static_cast<size_t>(count));
  std::vector<std::wstring> seen;
  for (long i = 1; i <= count; ++i) {
    Dispatch item = watcher_.Object(L"Item", {i});
    std::wstring name = item.Text(L"Name");
    EXPECT_EQ(name, each[i - 1].Text(L"Name")) << "For Each and Item agree";
    if (name != L"." && name != L"..") seen.push_back(name + L" " + item.Text(L"Description"));
  }
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"a.txt created", L"x.txt deleted"})) << "Item(1) is the name that sorts first";
}

TEST_F(NtFiles, ItemsCarrySizeTimesAndAttributes) {
  ASSERT_TRUE(dir_.Write(L"big.bin", 1));
  SetFilter(L"FILE PATH", dir_.Dir() + L"\\*.bin");
  SetFilter(L"SIZE", L"TRUE");
  SetFilter(L"FILE NAME", L"TRUE");  // the rename below is a name change to the notification
  HANDLE ready = Begin(true, L".bin");
  // Made whole beside the pattern and moved over, so no listing sees it half done.
  ASSERT_TRUE(dir_.SetLength(L"big.new", 5368709120LL));
  FILETIME written = {};
  SYSTEMTIME st = {2020, 1, 4, 2, 3, 4, 5, 0};  // 2020-01-02 03:04:05 UTC
  ASSERT_TRUE(::SystemTimeToFileTime(&st, &written));
  ASSERT_TRUE(dir_.SetLastWrite(L"big.new", written));
  ASSERT_TRUE(dir_.Rename(L"big.new", L"big.bin"));
  ASSERT_TRUE(Ready(ready));
  ASSERT_EQ(watcher_.Long(L"Count"), 1);
  Dispatch item = watcher_.Object(L"Item", {1});
  EXPECT_EQ(item.Text(L"Name"), L"big.bin");
  EXPECT_EQ(item.Text(L"Description"), L"size changed");
  CallResult size = item.Get(L"Size");
  ASSERT_EQ(size.value.Type(), VT_R8);
  EXPECT_EQ(AsDouble(size.value), 5368709120.0);
  CallResult when = item.Get(L"LastWriteTime");
  ASSERT_EQ(when.value.Type(), VT_DATE);
  EXPECT_NEAR(V_DATE(&when.value.Get()), 43832.0 + (3 * 3600 + 4 * 60 + 5) / 86400.0, 1e-6) << "UTC, unconverted";
  EXPECT_GT(AsDouble(item.Get(L"CreationTime").value), 0.0);
  EXPECT_GT(AsDouble(item.Get(L"LastAccessTime").value), 0.0);
  EXPECT_EQ(item.Long(L"Attributes") & FILE_ATTRIBUTE_DIRECTORY, 0);
}

TEST(NtFileItemTest, SizeJoinsBothHalvesAndBadTimesGiveZero) {
  ComPtr<NtFileItem> item;
  ASSERT_EQ(NtFileItem::CreateItem(&item), S_OK);
  item->record.data.nFileSizeHigh = 1;
  item->record.data.nFileSizeLow = 1073741824;
  double size = 0;
  EXPECT_EQ(item->get_Size(&size), S_OK);
  EXPECT_EQ(size, 5368709120.0);
  item->record.data.nFileSizeHigh = 0xFFFFFFFF;
  item->record.data.nFileSizeLow = 0xFFFFFFFF;
  item->get_Size(&size);
  EXPECT_EQ(size, 18446744073709551615.0);
  item->record.data.ftLastWriteTime = {0xFFFFFFFF, 0xFFFFFFFF};  // beyond what a SYSTEMTIME holds
  DATE date = 1.0;
  EXPECT_EQ(item->get_LastWriteTime(&date), S_OK);
  EXPECT_EQ(date, 0.0);
  EXPECT_EQ(item->get_Name(nullptr), E_POINTER);
  EXPECT_EQ(item->get_Size(nullptr), E_POINTER);
}

TEST(NtFileClass, AScriptCanCreateAnEmptyOne) {
  ComScope com;
  HRESULT hr = E_FAIL;
  Dispatch file = Dispatch::Create(L"TalvaneAgent.NtFile", &hr);
  ASSERT_TRUE(file) << std::hex << hr;
  EXPECT_EQ(file.Text(L"Name"), L"");
  EXPECT_EQ(file.Text(L"Description"), L"");
  EXPECT_EQ(AsDouble(file.Get(L"Size").value), 0.0);
  EXPECT_EQ(file.Long(L"Attributes"), 0);
}

// Object lifetime against its worker.
class NtFilesLife : public ::testing::Test {
 protected:
  void Create() {
    ComPtr<INtFiles> itf;
    ASSERT_EQ(NtFilesObject::CreateInstance(nullptr, IID_INtFiles, itf.PutVoid()), S_OK);
    object_ = static_cast<NtFilesObject*>(itf.Get());
    itf_ = itf;
  }
  long Set(const wchar_t* key, const std::wstring& value) {
    Bstr k(key), v(value);
    Variant text;
    LONG result = 99;
    EXPECT_EQ(itf_->SetFilter(k.Get(), v.Get(), text.Put(), &result), S_OK);
    return result;
  }
  ComScope com_;
  TempDir dir_;
  ComPtr<INtFiles> itf_;
  NtFilesObject* object_ = nullptr;
};

TEST_F(NtFilesLife, ReleasedWhileTheWorkerWaitsForANotification) {
  Create();
  ASSERT_EQ(Set(L"FILE PATH", dir_.Dir()), 0);
  ASSERT_EQ(Set(L"FILE NAME", L"TRUE"), 0);
  LONG handle = 0;
  ASSERT_EQ(itf_->get_Event(&handle), S_OK);
  ::Sleep(200);
  ASSERT_TRUE(object_->WorkerRunning());
  auto start = std::chrono::steady_clock::now();
  itf_.Reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(NtFilesLife, EveryMemberStillWorksAfterTheWorkerEndedOnItsOwn) {
  Create();
  ASSERT_EQ(Set(L"FILE PATH", dir_.Dir()), 0);
  ASSERT_EQ(Set(L"CREATE", L"TRUE"), 0);  // an empty mask: the platform refuses it
  LONG handle = 0;
  ASSERT_EQ(itf_->GetEvent(&handle), S_OK);
  for (int i = 0; i < 100 && object_->WorkerRunning(); ++i) ::Sleep(20);
  ASSERT_FALSE(object_->WorkerRunning());
  EXPECT_EQ(Set(L"FILE NAME", L"TRUE"), 0);
  LONG again = 0;
  EXPECT_EQ(itf_->get_Event(&again), S_OK);
  EXPECT_EQ(again, handle);
  Variant text;
  LONG result = 99;
  EXPECT_EQ(itf_->ResetEvent(text.Put(), &result), S_OK);
  EXPECT_EQ(result, 0);
  LONG count = -1;
  EXPECT_EQ(itf_->get_Count(&count), S_OK);
  EXPECT_EQ(count, 0);
  itf_.Reset();
}

TEST_F(NtFilesLife, ReadersOnOtherThreadsWhileBatchesAreReplaced) {
  Create();
  ASSERT_EQ(Set(L"FILE PATH", dir_.Dir()), 0);
  ASSERT_EQ(Set(L"FILE NAME", L"TRUE"), 0);
  LONG handle = 0;
  itf_->get_Event(&handle);
  ::Sleep(200);
  std::atomic<bool> done{false};
  std::atomic<long> reads{0};
  auto reader = [&] {
    ComScope com;
    while (!done) {
      LONG count = 0;
      itf_->get_Count(&count);
      for (LONG i = 1; i <= count + 1; ++i) {
        Variant v;
        if (itf_->get_Item(i, v.Put()) != S_OK) continue;
        ComPtr<INtFile> file;
        ASSERT_EQ(V_DISPATCH(&v.Get())->QueryInterface(IID_INtFile, file.PutVoid()), S_OK);
        Bstr name;
        file->get_Name(name.Put());
        EXPECT_GT(name.Length(), 0u);
        ++reads;
      }
      LONG h = 0;
      itf_->get_Event(&h);  // a script that resumes out of turn
      ::Sleep(1);
    }
  };
  std::thread a(reader), b(reader);
  for (int i = 0; i < 40; ++i) {
    dir_.Write(L"f" + std::to_wstring(i % 7), 1);
    if (i % 3 == 0) dir_.Remove(L"f" + std::to_wstring((i + 2) % 7));
    Variant text;
    LONG result = 0;
    itf_->ResetEvent(text.Put(), &result);
    ::Sleep(10);
  }
  done = true;
  a.join();
  b.join();
  EXPECT_GT(reads.load(), 0);
  itf_.Reset();
}

}  // namespace
