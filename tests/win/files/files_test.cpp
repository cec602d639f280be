// NtFiles: the SetFilter keys and paths, the comparison of two listings, the
// worker on real directories, and the NtFiles / NtFile objects.
#include <gtest/gtest.h>

#include <chrono>

#include "files/file_watch.h"
#include "files/nt_files.h"
#include "tests/harness/dispatch.h"
#include "tests/win/files/temp_dir.h"

using namespace brisel;
using namespace brisel::test;

namespace {

std::wstring SystemText(DWORD code) {
  ErrorState e;
  e.SetErrorFromSystemCode(code);
  return e.ErrorMessage();
}

// The notification mask in hex, then the switches that are on.
std::wstring Describe(const FileFilterSettings& s) {
  wchar_t buf[64];
  _snwprintf(buf, 64, L"%lx%ls%ls%ls%ls", static_cast<unsigned long>(s.mask), s.create ? L" create" : L"",
             s.attributes ? L" attributes" : L"", s.size ? L" size" : L"", s.last_write ? L" write" : L"");
  return buf;
}

// One filter through all rows: each row's settings include what the rows before it set.
TEST(FileFilterKeys, ResultsTextsAndSwitches) {
  const struct { const wchar_t *key, *value; LONG result; const wchar_t* settings; } rows[] = {
      {L"FILE NAME", L"", -1, L"0 create"},  // an empty value, before the key is looked at
      {L"NO SUCH KEY", L"", -1, L"0 create"}, {L"", L"", -1, L"0 create"},
      {L"file name", L"TRUE", 1, L"0 create"}, {L"FILE  NAME", L"TRUE", 1, L"0 create"},  // keys are exact
      {L" SIZE", L"TRUE", 1, L"0 create"}, {L"Size", L"TRUE", 1, L"0 create"}, {L"LASTWRITETIME", L"TRUE", 1, L"0 create"},
      {L"PATH", L"TRUE", 1, L"0 create"}, {L"CREATE", L"TRUE", 0, L"0 create"},  // a switch without a notification bit
      {L"FILE NAME", L"TRUE", 0, L"1 create"}, {L"ATTRIBUTES", L"TRUE", 0, L"5 create attributes"},
      {L"SIZE", L"TRUE", 0, L"d create attributes size"}, {L"LAST WRITE TIME", L"TRUE", 0, L"1d create attributes size write"},
      {L"ATTRIBUTES", L"", -1, L"1d create attributes size write"},
      {L"FILE NAME", L"true", 0, L"1c create attributes size write"},  // only TRUE means true
      {L"SIZE", L"1", 0, L"14 create attributes write"}, {L"CREATE", L"FALSE", 0, L"14 attributes write"},
      {L"ATTRIBUTES", L"no", 0, L"10 write"}, {L"LAST WRITE TIME", L"", -1, L"10 write"}};
  FileFilter filter;
  for (const auto& r : rows) {
    std::wstring text = L"stale";
    EXPECT_EQ(filter.SetFilter(r.key, r.value, &text), r.result) << Narrow(r.key) << "=" << Narrow(r.value);
    EXPECT_EQ(text, r.result == 1 ? L"Invalid Filter" : L"") << Narrow(r.key);
    EXPECT_EQ(Describe(filter.Settings()), r.settings) << Narrow(r.key) << "=" << Narrow(r.value);
  }
}

TEST(FileFilterKeys, PathsAndTheirErrors) {
  TempDir dir;
  ASSERT_TRUE(dir.Write(L"a.txt", 3) && dir.Write(L"b.log", 3));
  const std::wstring d = dir.Dir();
  // A path that finds nothing keeps the former pattern.
  const struct { std::wstring value; LONG result; std::wstring text, pattern; } rows[] = {
      {d, 0, L"", d + L"\\*"}, {d + L"\\*.txt", 0, L"", d + L"\\*.txt"}, {d + L"\\", 0, L"", d + L"\\*"},
      {dir.Path(L"b.log"), 0, L"", dir.Path(L"b.log")},
      {dir.Path(L"missing.txt"), -1, SystemText(ERROR_FILE_NOT_FOUND), dir.Path(L"b.log")},
      {dir.Path(L"no_dir\\x.txt"), -1, SystemText(ERROR_PATH_NOT_FOUND), dir.Path(L"b.log")},
      {d + L"\\*.none", -1, SystemText(ERROR_FILE_NOT_FOUND), dir.Path(L"b.log")}};  // must match when set
  FileFilter filter;
  for (const auto& r : rows) {
    std::wstring text = L"stale";
    EXPECT_EQ(filter.SetFilter(L"FILE PATH", r.value, &text), r.result) << Narrow(r.value);
    EXPECT_EQ(text, r.text) << Narrow(r.value);
    FileFilterSettings s = filter.Settings();
    EXPECT_EQ(s.pattern, r.pattern) << Narrow(r.value);
    EXPECT_EQ(s.directory + L"|" + std::to_wstring(s.watch_subtree), d + L"\\|0");
  }
  EXPECT_EQ(filter.ErrorCode(), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

FileRecord Entry(const wchar_t* name, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE, DWORD size_low = 10,
                 DWORD size_high = 0, DWORD write_low = 1000, DWORD creation_low = 5, DWORD access_high = 0) {
  FileRecord r;
  wcscpy(r.data.cFileName, name);
  r.data.dwFileAttributes = attributes;
  r.data.nFileSizeLow = size_low;
  r.data.nFileSizeHigh = size_high;
  r.data.ftLastWriteTime.dwLowDateTime = write_low;
  r.data.ftCreationTime.dwLowDateTime = creation_low;
  r.data.ftLastAccessTime = {7, access_high};
  return r;
}

FileMap Map(std::initializer_list<FileRecord> entries) {
  FileMap m;
  for (const FileRecord& e : entries) m.emplace(e.data.cFileName, e);
  return m;
}

std::wstring Changes(const FileFilter& filter) {
  std::wstring out;
  for (const auto& [name, record] : filter.Pending()) out += name + L"=" + record.description + L";";
  return out;
}

FileFilter* Switches(FileFilter* f, bool all) {
  std::wstring text;
  for (const wchar_t* key : {L"ATTRIBUTES", L"SIZE", L"LAST WRITE TIME"}) f->SetFilter(key, all ? L"TRUE" : L"", &text);
  f->SetFilter(L"CREATE", all ? L"TRUE" : L"FALSE", &text);  // creations and deletions count whatever it says
  return f;
}

TEST(FileComparison, DescriptionsOfEachDifference) {
  const FileRecord a = Entry(L"a"), f = Entry(L"f");
  // all: every switch on, else every switch off.
  const struct { FileMap current, previous; bool all; const wchar_t* expected; } rows[] = {
      {Map({Entry(L"b"), Entry(L"c")}), Map({a, Entry(L"b")}), false, L"a=deleted;c=created;"},
      {Map({Entry(L"a.txt"), Entry(L"k.txt")}), Map({Entry(L"m.txt"), Entry(L"k.txt")}), true,
       L"a.txt=created;m.txt=deleted;"},  // a rename, in name order
      {Map({Entry(L"f", FILE_ATTRIBUTE_READONLY, 99, 1, 2000)}), Map({f}), false, L""},
      {Map({Entry(L"all", FILE_ATTRIBUTE_HIDDEN, 11, 0, 2000), Entry(L"sw", FILE_ATTRIBUTE_ARCHIVE, 11, 0, 2000),
            Entry(L"a", FILE_ATTRIBUTE_HIDDEN), Entry(L"same")}),
       Map({Entry(L"all"), Entry(L"sw"), a, Entry(L"same")}), true,
       L"a=attributes changed;all=attributes changed,size changed,last write time changed;"
       L"sw=size changed,last write time changed;"},
      {Map({Entry(L"high", FILE_ATTRIBUTE_ARCHIVE, 10, 1), Entry(L"times", FILE_ATTRIBUTE_ARCHIVE, 10, 0, 1000, 99, 99)}),
       Map({Entry(L"high"), Entry(L"times")}), true, L"high=size changed;"},  // other times never count
      {Map({Entry(L"b"), Entry(L"B"), Entry(L"_x"), a, Entry(L"\u00e9")}), FileMap(), false,
       L"B=created;_x=created;a=created;b=created;\u00e9=created;"},  // by code unit, upper case first
  };
  for (const auto& r : rows) {
    FileFilter filter;
    EXPECT_EQ(Switches(&filter, r.all)->Filter(r.current, r.previous), *r.expected != 0) << Narrow(r.expected);
    EXPECT_EQ(Changes(filter), r.expected);
  }
}

TEST(FileComparison, PendingChangesCarryTheirListingAndKeepTheirFirstDescription) {
  FileFilter filter;
  ASSERT_TRUE(Switches(&filter, true)->Filter(Map({Entry(L"grown", FILE_ATTRIBUTE_ARCHIVE, 500)}),
                                              Map({Entry(L"gone", FILE_ATTRIBUTE_ARCHIVE, 77), Entry(L"grown")})));
  EXPECT_EQ(filter.Pending().at(L"gone").data.nFileSizeLow, 77u) << "the last listing of a deleted file";
  EXPECT_EQ(filter.Pending().at(L"grown").data.nFileSizeLow, 500u) << "the new listing of a changed one";
  filter.TakePending();
  EXPECT_TRUE(filter.Filter(Map({Entry(L"f", FILE_ATTRIBUTE_ARCHIVE, 20)}), Map({Entry(L"f")})));
  EXPECT_TRUE(filter.Filter(Map({Entry(L"f", FILE_ATTRIBUTE_HIDDEN, 20)}), Map({Entry(L"f", FILE_ATTRIBUTE_ARCHIVE, 20)})));
  EXPECT_EQ(Changes(filter), L"f=size changed;");
  EXPECT_EQ(filter.Pending().at(L"f").data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  filter.TakePending();  // once published, the next change is recorded afresh
  EXPECT_TRUE(filter.Filter(Map({Entry(L"f", FILE_ATTRIBUTE_READONLY, 20)}), Map({Entry(L"f", FILE_ATTRIBUTE_HIDDEN, 20)})));
  EXPECT_EQ(Changes(filter), L"f=attributes changed;");
}

// A watcher on the files "*<suffix>" of a scratch directory; a batch reads as "name=description;" each.
struct Watch {
  void Start(const std::wstring& suffix = {}) {
    ASSERT_TRUE(dir.Valid());
    suffix_ = suffix;
    std::wstring text;
    ASSERT_EQ(source->SetFilter(L"FILE PATH", dir.Path(L"*" + suffix), &text), 0);
    ASSERT_EQ(source->SetFilter(L"FILE NAME", L"TRUE", &text), 0);
    ASSERT_EQ(worker.Start(&ntFilesThread, source), S_OK);
  }
  // Resumes; returns once the baseline has been taken. Nothing outside shows when a watcher takes
  // its first listing, so new probe files go in until one is reported; batches until then must
  // hold probes alone.
  void Begin() {
    ready = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(source->Resume()));
    for (int n = 1; n <= 30; ++n) {
      const std::wstring probe = L"probe" + std::to_wstring(n) + suffix_;
      ASSERT_TRUE(dir.Write(probe, 1));
      for (DWORD wait = 1000; ::WaitForSingleObject(ready, wait) == WAIT_OBJECT_0; wait = 10000) {
        const std::wstring batch = Batch();
        source->ResetEvent();
        for (size_t at = 0; at < batch.size(); at = batch.find(L';', at) + 1)
          ASSERT_EQ(batch.compare(at, 5, L"probe"), 0) << "reported with the probes: " << Narrow(batch);
        if (batch.find(probe + L"=created;") != std::wstring::npos) return;
      }
    }
    FAIL() << "no probe reported";
  }
  // The published batch, without the directory's "." and "..".
  std::wstring Batch() const {
    std::wstring out;
    for (const Variant& v : *items->Snapshot()) {
      ComPtr<INtFile> file;
      Bstr name, what;
      if (FAILED(V_DISPATCH(&v.Get())->QueryInterface(IID_INtFile, file.PutVoid()))) continue;
      file->get_Name(name.Put());
      file->get_Description(what.Put());
      if (name.View() != L"." && name.View() != L"..") out += std::wstring(name.View()) + L"=" + std::wstring(what.View()) + L";";
    }
    return out;
  }
  std::wstring Next() { return ::WaitForSingleObject(ready, 10000) == WAIT_OBJECT_0 ? Batch() : L"<no batch>"; }

  TempDir dir;
  std::wstring suffix_;
  HANDLE ready = nullptr;
  std::shared_ptr<ItemCollection> items = std::make_shared<ItemCollection>();
  std::shared_ptr<FileWatchSource> source = std::make_shared<FileWatchSource>(items);
  WorkerThread worker;
};

// Begin fails when a change made before the first resume shows.
TEST(FileWatch, TheFirstResumeTakesTheBaselineEvenAnEmptyOne) {
  for (bool empty : {true, false}) {
    Watch w;
    ASSERT_TRUE(w.dir.Write(L"old.log", 1) && w.dir.Write(L"other.txt", 1));
    w.Start(L".log");
    ASSERT_TRUE(empty ? w.dir.Remove(L"old.log") : w.dir.Write(L"early.log", 1));
    w.Begin();
    ASSERT_TRUE(w.dir.Write(L"late.txt", 1) && w.dir.Write(L"late.log", 1));
    EXPECT_EQ(w.Next(), L"late.log=created;") << empty;
  }
}

TEST(FileWatch, ChangesFoundWhileABatchIsUnreadGoOutAtTheResetAndStopEndsTheWorker) {
  Watch w;
  w.Start();
  w.Begin();
  ASSERT_TRUE(w.dir.Write(L"b1.txt", 1));
  EXPECT_EQ(w.Next(), L"b1.txt=created;");
  EXPECT_FALSE(w.source->Armed()) << "a published batch stays until the reset";
  w.source->Resume();  // a resume without a reset: the worker lists, but keeps what it finds
  ASSERT_TRUE(w.dir.Write(L"b2.txt", 1));
  EXPECT_EQ(w.Batch(), L"b1.txt=created;");
  w.source->ResetEvent();
  EXPECT_EQ(w.Next(), L"b2.txt=created;");
  w.worker.Stop();  // while waiting for a notification
  EXPECT_FALSE(w.worker.Running());
  EXPECT_EQ(w.source.use_count(), 1) << "the worker gave up its share";
}

TEST(NtFileItem, SizeJoinsBothHalvesAndTimesStayUtc) {
  ComPtr<NtFileItem> item;
  ASSERT_EQ(NtFileItem::CreateItem(&item), S_OK);
  const struct { DWORD high, low; double size; } sizes[] = {
      {1, 1073741824, 5368709120.0}, {0xFFFFFFFF, 0xFFFFFFFF, 18446744073709551615.0}, {0, 7, 7.0}};
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

// No path, or a path and no switch (an empty mask, which the platform refuses): the worker ends at the
// first resume and every member still works.
TEST(NtFiles, EveryMemberStillWorksAfterTheWorkerEndedOnItsOwn) {
  ComScope com;
  TempDir dir;
  for (const auto& [key, value] : {std::pair{L"FILE PATH", dir.Dir()}, std::pair{L"FILE NAME", std::wstring(L"TRUE")}}) {
    ComPtr<NtFilesObject> object;
    ASSERT_EQ(NtFilesObject::CreateInstance(nullptr, IID_INtFiles, object.PutVoid()), S_OK);
    Variant text, item;
    LONG handle = 0, again = 0, result = 99, count = -1;
    ASSERT_EQ(object->SetFilter(Bstr(key).Get(), Bstr(value).Get(), text.Put(), &result) | result, S_OK);
    ASSERT_EQ(object->GetEvent(&handle), S_OK);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (object->WorkerRunning() && std::chrono::steady_clock::now() < end) ::Sleep(10);
    ASSERT_FALSE(object->WorkerRunning()) << Narrow(key);
    EXPECT_EQ(object->SetFilter(Bstr(L"SIZE").Get(), Bstr(L"TRUE").Get(), text.Put(), &result) | result, S_OK);
    EXPECT_EQ(object->get_Event(&again) | object->ResetEvent(text.Put(), &result) | result, S_OK);
    EXPECT_EQ(again, handle);
    EXPECT_EQ(object->get_Count(&count), S_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(object->get_Item(1, item.Put()), E_FAIL);
  }
}

}  // namespace
