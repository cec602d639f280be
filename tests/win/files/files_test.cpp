// NtFiles: SetFilter keys and paths, comparing listings, listing and publishing on a real directory, NtFile items.
#include <gtest/gtest.h>

#include "files/file_watch.h"
#include "files/nt_files.h"
#include "tests/harness/dispatch.h"
#include "tests/win/files/temp_dir.h"

using namespace brisel;
using namespace brisel::test;

namespace {

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
  const std::wstring d = dir.Dir();
  const struct { const wchar_t* key; std::wstring value; LONG result; const wchar_t *settings, *text = L""; } rows[] = {
      {L"FILE PATH", d, 0, L"0 create *"}, {L"FILE PATH", d + L"\\", 0, L"0 create *"},
      {L"FILE PATH", d + L"\\*.txt", 0, L"0 create *.txt"}, {L"FILE PATH", dir.Path(L"b.log"), 0, L"0 create b.log"},
      {L"FILE PATH", d + L"\\*.none", -1, L"0 create b.log", L"File not found.\r\n"},  // must match when set
      {L"NO SUCH KEY", L"", -1, L"0 create b.log"}, {L"file name", L"TRUE", 1, L"0 create b.log", L"Invalid Filter"},
      {L"CREATE", L"TRUE", 0, L"0 create b.log"}, {L"FILE NAME", L"TRUE", 0, L"1 create b.log"},  // CREATE has no bit
      {L"ATTRIBUTES", L"TRUE", 0, L"5 create attributes b.log"}, {L"SIZE", L"TRUE", 0, L"d create attributes size b.log"},
      {L"LAST WRITE TIME", L"TRUE", 0, L"1d create attributes size write b.log"},
      {L"FILE NAME", L"true", 0, L"1c create attributes size write b.log"},  // only TRUE means true
      {L"SIZE", L"1", 0, L"14 create attributes write b.log"}, {L"CREATE", L"FALSE", 0, L"14 attributes write b.log"},
      {L"ATTRIBUTES", L"no", 0, L"10 write b.log"}};
  FileFilter filter;
  for (const auto& r : rows) {
    SCOPED_TRACE(Narrow(r.key) + "=" + Narrow(r.value));
    std::wstring text = L"stale";
    EXPECT_EQ(filter.SetFilter(r.key, r.value, &text), r.result);
    EXPECT_EQ(text, r.text);
    EXPECT_EQ(Describe(filter.Settings()), r.settings);
  }
  const FileFilterSettings s = filter.Settings();
  EXPECT_EQ(s.directory + L"|" + std::to_wstring(s.watch_subtree) + L"|" + std::to_wstring(filter.ErrorCode()), d + L"\\|0|2");
}

// Listing entries: a name and what differs from the defaults.
struct Spec {
  const wchar_t* name;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE, size_low = 10, size_high = 0, write = 1000, other_times = 5;
};

FileMap Map(std::initializer_list<Spec> specs) {
  FileMap m;
  for (const Spec& s : specs) {
    WIN32_FIND_DATAW d{};
    wcscpy(d.cFileName, s.name);
    d.dwFileAttributes = s.attributes, d.nFileSizeLow = s.size_low, d.nFileSizeHigh = s.size_high;
    d.ftLastWriteTime.dwLowDateTime = s.write, d.ftCreationTime = d.ftLastAccessTime = {s.other_times, s.other_times};
    m.emplace(s.name, FileRecord(d, L""));
  }
  return m;
}

// Creations count whatever CREATE says, in code-unit order; each other switch adds its description; other times never
// count. Deletions are the watcher test's.
TEST(FileComparison, DescriptionsOfEachDifference) {
  const FileMap before = Map({{L"all"}, {L"a"}, {L"same"}, {L"high"}, {L"times"}});
  const FileMap after = Map({{L"all", FILE_ATTRIBUTE_HIDDEN, 11, 0, 2000}, {L"a", FILE_ATTRIBUTE_HIDDEN}, {L"same"},
                             {L"high", FILE_ATTRIBUTE_ARCHIVE, 10, 1}, {L"times", FILE_ATTRIBUTE_ARCHIVE, 10, 0, 1000, 99},
                             {L"b"}, {L"B"}, {L"_x"}, {L"\u00e9"}});
  for (const bool on : {false, true}) {
    FileFilter filter;
    std::wstring text, changes;
    for (const wchar_t* key : {L"CREATE", L"ATTRIBUTES", L"SIZE", L"LAST WRITE TIME"})
      filter.SetFilter(key, on ? L"TRUE" : L"FALSE", &text);
    EXPECT_FALSE(filter.Filter(before, before));
    EXPECT_TRUE(filter.Filter(after, before));
    for (const auto& [name, record] : filter.Pending()) changes += name + L"=" + record.description + L";";
    EXPECT_EQ(changes, on ? L"B=created;_x=created;a=attributes changed;all=attributes changed,size changed,last write time "
                            L"changed;b=created;high=size changed;\u00e9=created;"
                          : L"B=created;_x=created;b=created;\u00e9=created;");
  }
}

// A published batch as "name=description size;" each, read as a script reads it.
std::wstring Batch(const ItemCollection& items) {
  std::wstring out;
  for (const Variant& v : *items.Snapshot()) {
    const Dispatch file = Dispatch::From(v);
    out += file.Text(L"Name") + L"=" + file.Text(L"Description") + L" " + std::to_wstring(file.Long(L"Size")) + L";";
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
  d.nFileSizeHigh = d.nFileSizeLow = 0xFFFFFFFF;
  SYSTEMTIME st = {2020, 1, 4, 2, 3, 4, 5, 0};  // 2020-01-02 03:04:05 UTC
  ASSERT_TRUE(::SystemTimeToFileTime(&st, &d.ftLastWriteTime));
  d.ftCreationTime = d.ftLastWriteTime, d.ftLastAccessTime = {0xFFFFFFFF, 0xFFFFFFFF};  // beyond what a SYSTEMTIME holds
  double size = 0;
  DATE written = 0, created = 0, accessed = 1.0;
  item->get_Size(&size), item->get_LastWriteTime(&written), item->get_CreationTime(&created);
  item->get_LastAccessTime(&accessed);
  EXPECT_EQ(size, 18446744073709551615.0) << "both halves, unsigned";
  EXPECT_NEAR(written, 43832.0 + (3 * 3600 + 4 * 60 + 5) / 86400.0, 1e-6) << "UTC, unconverted";
  EXPECT_EQ(created, written);
  EXPECT_EQ(accessed, 0.0);
  EXPECT_EQ(item->get_Name(nullptr), E_POINTER);
  EXPECT_EQ(item->get_Size(nullptr), E_POINTER);
}

}  // namespace
