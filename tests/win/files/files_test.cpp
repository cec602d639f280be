#include <gtest/gtest.h>

#include "files/file_watch.h"
#include "files/nt_files.h"
#include "tests/harness/dispatch.h"
#include "tests/win/files/temp_dir.h"

using namespace brisel;
using namespace brisel::test;

namespace {

// The notification mask, the switches that are on, and the pattern inside its directory.
std::wstring Describe(const FileFilterSettings& s) {
  return std::to_wstring(s.mask) + (s.create ? L" create" : L"") + (s.attributes ? L" attributes" : L"") +
         (s.size ? L" size" : L"") + (s.last_write ? L" write" : L"") + L" " + s.pattern.substr(s.directory.size());
}

// One filter through all rows: a path that finds nothing keeps the former pattern; keys are exact.
TEST(FileFilterKeys, ResultsTextsAndSettings) {
  TempDir dir;
  ASSERT_TRUE(dir.Write(L"a.txt", 3) && dir.Write(L"b.log", 3));
  const std::wstring d = dir.Dir();
  const struct { const wchar_t* key; std::wstring value; LONG result; const wchar_t *settings, *text = L""; } rows[] = {
      {L"FILE PATH", d, 0, L"0 create *"}, {L"FILE PATH", d + L"\\*.txt", 0, L"0 create *.txt"},
      {L"FILE PATH", dir.Path(L"b.log"), 0, L"0 create b.log"}, {L"NO SUCH KEY", L"", -1, L"0 create b.log"},
      {L"FILE PATH", d + L"\\*.none", -1, L"0 create b.log", L"File not found.\r\n"},  // must match when set
      {L"file name", L"TRUE", 1, L"0 create b.log", L"Invalid Filter"}, {L"CREATE", L"TRUE", 0, L"0 create b.log"},
      {L"FILE NAME", L"TRUE", 0, L"1 create b.log"}, {L"ATTRIBUTES", L"TRUE", 0, L"5 create attributes b.log"},
      {L"SIZE", L"TRUE", 0, L"13 create attributes size b.log"},
      {L"LAST WRITE TIME", L"TRUE", 0, L"29 create attributes size write b.log"},
      {L"FILE NAME", L"true", 0, L"28 create attributes size write b.log"},  // only TRUE means true
      {L"SIZE", L"1", 0, L"20 create attributes write b.log"}, {L"CREATE", L"FALSE", 0, L"20 attributes write b.log"},
      {L"ATTRIBUTES", L"no", 0, L"16 write b.log"}};
  FileFilter filter;
  for (const auto& r : rows) {
    SCOPED_TRACE(Narrow(r.key) + "=" + Narrow(r.value));
    std::wstring text = L"stale";
    EXPECT_EQ(filter.SetFilter(r.key, r.value, &text), r.result);
    EXPECT_EQ(text, r.text);
    EXPECT_EQ(Describe(filter.Settings()), r.settings);
  }
}

// A listing entry: its name and what differs from the defaults.
struct Listed {
  const wchar_t* name;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE, size_low = 10, size_high = 0, write = 1000, other_times = 5;
};

FileMap Map(std::initializer_list<Listed> listed) {
  FileMap m;
  for (const Listed& s : listed) {
    WIN32_FIND_DATAW d{};
    wcscpy(d.cFileName, s.name);
    d.dwFileAttributes = s.attributes, d.nFileSizeLow = s.size_low, d.nFileSizeHigh = s.size_high;
    d.ftLastWriteTime.dwLowDateTime = s.write, d.ftCreationTime = d.ftLastAccessTime = {s.other_times, s.other_times};
    m.emplace(s.name, FileRecord(d, L""));
  }
  return m;
}

// Creations count whatever CREATE says, in code-unit order; creation and access times never count.
TEST(FileComparison, DescriptionsOfEachDifference) {
  const FileMap before = Map({{L"all"}, {L"a"}, {L"same"}, {L"high"}, {L"times"}});
  const FileMap after = Map({{L"all", FILE_ATTRIBUTE_HIDDEN, 11, 0, 2000}, {L"a", FILE_ATTRIBUTE_HIDDEN}, {L"same"},
                             {L"high", FILE_ATTRIBUTE_ARCHIVE, 10, 1},
                             {L"times", FILE_ATTRIBUTE_ARCHIVE, 10, 0, 1000, 99}, {L"b"}, {L"B"}, {L"_x"}, {L"\u00e9"}});
  FileFilter filter;
  std::wstring text, changes;
  filter.SetFilter(L"CREATE", L"FALSE", &text);
  for (const wchar_t* key : {L"ATTRIBUTES", L"SIZE", L"LAST WRITE TIME"}) filter.SetFilter(key, L"TRUE", &text);
  EXPECT_TRUE(filter.Filter(after, before));
  for (const auto& [name, record] : filter.Pending()) changes += name + L"=" + record.description + L";";
  EXPECT_EQ(changes, L"B=created;_x=created;a=attributes changed;all=attributes changed,size changed,"
                     L"last write time changed;b=created;high=size changed;\u00e9=created;");
}

std::wstring Batch(const ItemCollection& items) {
  std::wstring out;
  for (const Variant& v : *items.Snapshot()) {
    const Dispatch file = Dispatch::From(v);
    out += file.Text(L"Name") + L"=" + file.Text(L"Description") + L" " + std::to_wstring(file.Long(L"Size")) + L";";
  }
  return out;
}

// The worker's steps, listing and publishing, on a real directory.
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
  ASSERT_TRUE(dir.Write(L"b2.txt", 1) && source->GetData() && source->Notify());
  ASSERT_TRUE(dir.Append(L"b2.txt", 1) && source->GetData() && source->Notify());
  EXPECT_EQ(Batch(*items), first) << "an unread batch stays";
  EXPECT_TRUE(source->ResetEvent() && source->Armed());
  ASSERT_TRUE(source->Notify());
  EXPECT_EQ(Batch(*items), L"b2.txt=created 1;") << "the first change to a name wins until published";
}

// The size joins both halves; times stay UTC, and one beyond what a SYSTEMTIME holds is 0.
TEST(NtFileItem, SizeAndTimes) {
  ComPtr<NtFileItem> item;
  ASSERT_EQ(NtFileItem::CreateItem(&item), S_OK);
  WIN32_FIND_DATAW& d = item->record.data;
  d.nFileSizeHigh = d.nFileSizeLow = 0xFFFFFFFF;
  SYSTEMTIME st = {2020, 1, 4, 2, 3, 4, 5, 0};  // 2020-01-02 03:04:05 UTC
  ASSERT_TRUE(::SystemTimeToFileTime(&st, &d.ftLastWriteTime));
  d.ftLastAccessTime = {0xFFFFFFFF, 0xFFFFFFFF};
  double size = 0;
  DATE written = 0, accessed = 1.0;
  item->get_Size(&size), item->get_LastWriteTime(&written), item->get_LastAccessTime(&accessed);
  EXPECT_EQ(size, 18446744073709551615.0);
  EXPECT_NEAR(written, 43832.0 + (3 * 3600 + 4 * 60 + 5) / 86400.0, 1e-6);
  EXPECT_EQ(accessed, 0.0);
  EXPECT_EQ(item->get_Name(nullptr), E_POINTER);
}

}  // namespace
