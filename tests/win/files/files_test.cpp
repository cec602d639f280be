// NtFiles: SetFilter keys and paths, comparing listings, listing and publishing on a real directory, NtFile items.
#include <gtest/gtest.h>

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

// The notification mask in hex, the switches that are on, and the pattern inside its directory.
std::wstring Describe(const FileFilterSettings& s) {
  wchar_t buf[64];
  _snwprintf(buf, 64, L"%lx%ls%ls%ls%ls ", static_cast<unsigned long>(s.mask), s.create ? L" create" : L"",
             s.attributes ? L" attributes" : L"", s.size ? L" size" : L"", s.last_write ? L" write" : L"");
  return buf + s.pattern.substr(s.directory.size());
}

// One filter through all rows. A path that finds nothing keeps the former pattern; an empty value fails before the
// key is looked at; keys are exact.
TEST(FileFilterKeys, ResultsTextsAndSettings) {
  TempDir dir;
  ASSERT_TRUE(dir.Write(L"a.txt", 3) && dir.Write(L"b.log", 3));
  const std::wstring d = dir.Dir(), invalid = L"Invalid Filter";
  const struct { const wchar_t* key; std::wstring value; LONG result; std::wstring text; const wchar_t* settings; } rows[] = {
      {L"FILE PATH", d, 0, L"", L"0 create *"}, {L"FILE PATH", d + L"\\*.txt", 0, L"", L"0 create *.txt"},
      {L"FILE PATH", d + L"\\", 0, L"", L"0 create *"}, {L"FILE PATH", dir.Path(L"b.log"), 0, L"", L"0 create b.log"},
      {L"FILE PATH", dir.Path(L"missing.txt"), -1, SystemText(ERROR_FILE_NOT_FOUND), L"0 create b.log"},
      {L"FILE PATH", d + L"\\*.none", -1, SystemText(ERROR_FILE_NOT_FOUND), L"0 create b.log"},  // must match when set
      {L"FILE NAME", L"", -1, L"", L"0 create b.log"}, {L"NO SUCH KEY", L"", -1, L"", L"0 create b.log"},
      {L"file name", L"TRUE", 1, invalid, L"0 create b.log"}, {L"LASTWRITETIME", L"TRUE", 1, invalid, L"0 create b.log"},
      {L"CREATE", L"TRUE", 0, L"", L"0 create b.log"},  // a switch without a notification bit
      {L"FILE NAME", L"TRUE", 0, L"", L"1 create b.log"}, {L"ATTRIBUTES", L"TRUE", 0, L"", L"5 create attributes b.log"},
      {L"SIZE", L"TRUE", 0, L"", L"d create attributes size b.log"},
      {L"LAST WRITE TIME", L"TRUE", 0, L"", L"1d create attributes size write b.log"},
      {L"ATTRIBUTES", L"", -1, L"", L"1d create attributes size write b.log"},
      {L"FILE NAME", L"true", 0, L"", L"1c create attributes size write b.log"},  // only TRUE means true
      {L"SIZE", L"1", 0, L"", L"14 create attributes write b.log"}, {L"CREATE", L"FALSE", 0, L"", L"14 attributes write b.log"},
      {L"ATTRIBUTES", L"no", 0, L"", L"10 write b.log"}};
  FileFilter filter;
  for (const auto& r : rows) {
    std::wstring text = L"stale";
    EXPECT_EQ(filter.SetFilter(r.key, r.value, &text), r.result) << Narrow(r.key) << "=" << Narrow(r.value);
    EXPECT_EQ(text, r.text) << Narrow(r.key) << "=" << Narrow(r.value);
    FileFilterSettings s = filter.Settings();
    EXPECT_EQ(Describe(s), r.settings) << Narrow(r.key) << "=" << Narrow(r.value);
    EXPECT_EQ(s.directory + L"|" + std::to_wstring(s.watch_subtree), d + L"\\|0");
  }
  EXPECT_EQ(filter.ErrorCode(), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

FileRecord Entry(const wchar_t* name, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE, DWORD size_low = 10,
                 DWORD size_high = 0, DWORD write_low = 1000, DWORD creation_low = 5, DWORD access_high = 0) {
  WIN32_FIND_DATAW d{};
  wcscpy(d.cFileName, name);
  d.dwFileAttributes = attributes, d.nFileSizeLow = size_low, d.nFileSizeHigh = size_high;
  d.ftLastWriteTime.dwLowDateTime = write_low, d.ftCreationTime.dwLowDateTime = creation_low;
  d.ftLastAccessTime = {7, access_high};
  return FileRecord(d, L"");
}

FileMap Map(std::initializer_list<FileRecord> entries) {
  FileMap m;
  for (const FileRecord& e : entries) m.emplace(e.data.cFileName, e);
  return m;
}

TEST(FileComparison, DescriptionsOfEachDifference) {
  const FileRecord a = Entry(L"a");
  // all: every switch on, else every switch off. Creations and deletions are the watcher test's.
  const struct { FileMap current, previous; bool all; const wchar_t* expected; } rows[] = {
      {Map({Entry(L"f", FILE_ATTRIBUTE_READONLY, 99, 1, 2000)}), Map({Entry(L"f")}), false, L""},
      {Map({Entry(L"all", FILE_ATTRIBUTE_HIDDEN, 11, 0, 2000), Entry(L"sw", FILE_ATTRIBUTE_ARCHIVE, 11, 0, 2000),
            Entry(L"a", FILE_ATTRIBUTE_HIDDEN), Entry(L"same"), Entry(L"high", FILE_ATTRIBUTE_ARCHIVE, 10, 1),
            Entry(L"times", FILE_ATTRIBUTE_ARCHIVE, 10, 0, 1000, 99, 99)}),  // other times never count
       Map({Entry(L"all"), Entry(L"sw"), a, Entry(L"same"), Entry(L"high"), Entry(L"times")}), true,
       L"a=attributes changed;all=attributes changed,size changed,last write time changed;high=size changed;"
       L"sw=size changed,last write time changed;"},
      {Map({Entry(L"b"), Entry(L"B"), Entry(L"_x"), a, Entry(L"\u00e9")}), FileMap(), false,
       L"B=created;_x=created;a=created;b=created;\u00e9=created;"},  // by code unit, upper case first
  };
  for (const auto& r : rows) {
    FileFilter filter;
    std::wstring text, changes;
    filter.SetFilter(L"CREATE", L"FALSE", &text);  // creations and deletions count whatever it says
    for (const wchar_t* key : {L"ATTRIBUTES", L"SIZE", L"LAST WRITE TIME"}) filter.SetFilter(key, r.all ? L"TRUE" : L"", &text);
    EXPECT_EQ(filter.Filter(r.current, r.previous), *r.expected != 0) << Narrow(r.expected);
    for (const auto& [name, record] : filter.Pending()) changes += name + L"=" + record.description + L";";
    EXPECT_EQ(changes, r.expected);
  }
}

// A published batch as "name=description size;" each.
std::wstring Batch(const ItemCollection& items) {
  std::wstring out;
  for (const Variant& v : *items.Snapshot()) {
    ComPtr<INtFile> file;
    Bstr name, what;
    double size = -1;
    if (FAILED(V_DISPATCH(&v.Get())->QueryInterface(IID_INtFile, file.PutVoid()))) continue;
    file->get_Name(name.Put()), file->get_Description(what.Put()), file->get_Size(&size);
    out += std::wstring(name.View()) + L"=" + std::wstring(what.View()) + L" " + std::to_wstring(int(size)) + L";";
  }
  return out;
}

// The worker's steps, listing and publishing, on a real directory without the worker.
TEST(FileWatchSource, TheBaselineAnUnreadBatchAndTheReset) {
  TempDir dir;
  ASSERT_TRUE(dir.Write(L"old.txt", 3) && dir.Write(L"grows.txt", 1));
  auto items = std::make_shared<ItemCollection>();
  auto source = std::make_shared<FileWatchSource>(items);
  std::wstring text;
  ASSERT_EQ(source->SetFilter(L"FILE PATH", dir.Path(L"*.txt"), &text) | source->SetFilter(L"SIZE", L"TRUE", &text), 0);
  EXPECT_FALSE(source->GetData()) << "the first listing is the baseline";
  ASSERT_TRUE(dir.Write(L"b1.txt", 1) && dir.Remove(L"old.txt") && dir.Append(L"grows.txt", 4) && dir.Write(L"b1.log", 1));
  ASSERT_TRUE(source->GetData() && source->Notify());
  const std::wstring first = L"b1.txt=created 1;grows.txt=size changed 5;old.txt=deleted 3;";
  EXPECT_EQ(Batch(*items), first) << "a deleted file's last listing, a changed one's new listing";
  EXPECT_FALSE(source->Armed());
  ASSERT_TRUE(dir.Write(L"b2.txt", 1));
  ASSERT_TRUE(source->GetData() && source->Notify());
  ASSERT_TRUE(dir.Append(L"b2.txt", 1));
  ASSERT_TRUE(source->GetData() && source->Notify());
  EXPECT_EQ(Batch(*items), first) << "an unread batch stays";
  EXPECT_TRUE(source->ResetEvent() && source->Armed());
  ASSERT_TRUE(source->Notify());
  EXPECT_EQ(Batch(*items), L"b2.txt=created 1;") << "the first change to a name wins until published";
}

TEST(NtFileItem, SizeJoinsBothHalvesAndTimesStayUtc) {
  ComPtr<NtFileItem> item;
  ASSERT_EQ(NtFileItem::CreateItem(&item), S_OK);
  WIN32_FIND_DATAW& d = item->record.data;
  const struct { DWORD high, low; double size; } sizes[] = {{1, 1073741824, 5368709120.0},
                                                            {0xFFFFFFFF, 0xFFFFFFFF, 18446744073709551615.0}};
  for (const auto& s : sizes) {
    d.nFileSizeHigh = s.high, d.nFileSizeLow = s.low;
    double size = 0;
    item->get_Size(&size);
    EXPECT_EQ(size, s.size) << s.high << " " << s.low;
  }
  SYSTEMTIME st = {2020, 1, 4, 2, 3, 4, 5, 0};  // 2020-01-02 03:04:05 UTC
  ASSERT_TRUE(::SystemTimeToFileTime(&st, &d.ftLastWriteTime));
  d.ftCreationTime = d.ftLastWriteTime, d.ftLastAccessTime = {0xFFFFFFFF, 0xFFFFFFFF};  // beyond what a SYSTEMTIME holds
  DATE written = 0, created = 0, accessed = 1.0;
  EXPECT_EQ(item->get_LastWriteTime(&written) | item->get_CreationTime(&created) | item->get_LastAccessTime(&accessed), S_OK);
  EXPECT_NEAR(written, 43832.0 + (3 * 3600 + 4 * 60 + 5) / 86400.0, 1e-6) << "UTC, unconverted";
  EXPECT_EQ(created, written);
  EXPECT_EQ(accessed, 0.0);
  EXPECT_EQ(item->get_Name(nullptr), E_POINTER);
  EXPECT_EQ(item->get_Size(nullptr), E_POINTER);
}

}  // namespace
