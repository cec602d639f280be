// FileFilter: the SetFilter keys, results and path rules, and the comparison
// of two snapshots into pending changes.
#include <gtest/gtest.h>

#include "files/file_watch.h"
#include "tests/harness/dispatch.h"
#include "tests/win/files/temp_dir.h"

using namespace brisel;
using brisel::test::Narrow;
using brisel::test::TempDir;

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

TEST(FileFilterKeys, ResultsTextsAndSwitches) {
  const struct {
    const wchar_t *key, *value;
    LONG result;
    const wchar_t *text, *settings;
  } rows[] = {
      {L"FILE NAME", L"", -1, L"", L"0 create"},  // an empty value, before the key is looked at
      {L"NO SUCH KEY", L"", -1, L"", L"0 create"},
      {L"", L"", -1, L"", L"0 create"},
      {L"file name", L"TRUE", 1, L"Invalid Filter", L"0 create"},  // keys are exact
      {L"FILE  NAME", L"TRUE", 1, L"Invalid Filter", L"0 create"},
      {L" SIZE", L"TRUE", 1, L"Invalid Filter", L"0 create"},
      {L"Size", L"TRUE", 1, L"Invalid Filter", L"0 create"},
      {L"LASTWRITETIME", L"TRUE", 1, L"Invalid Filter", L"0 create"},
      {L"PATH", L"TRUE", 1, L"Invalid Filter", L"0 create"},
      {L"CREATE", L"TRUE", 0, L"", L"0 create"},  // a switch without a notification bit
      {L"FILE NAME", L"TRUE", 0, L"", L"1 create"},
      {L"ATTRIBUTES", L"TRUE", 0, L"", L"5 create attributes"},
      {L"SIZE", L"TRUE", 0, L"", L"d create attributes size"},
      {L"LAST WRITE TIME", L"TRUE", 0, L"", L"1d create attributes size write"},
      {L"ATTRIBUTES", L"", -1, L"", L"1d create attributes size write"},
      {L"FILE NAME", L"true", 0, L"", L"1c create attributes size write"},  // only TRUE means true
      {L"SIZE", L"1", 0, L"", L"14 create attributes write"},
      {L"CREATE", L"FALSE", 0, L"", L"14 attributes write"},
      {L"ATTRIBUTES", L"no", 0, L"", L"10 write"},
      {L"LAST WRITE TIME", L"", -1, L"", L"10 write"},
  };
  FileFilter filter;
  for (const auto& r : rows) {
    std::wstring text = L"stale";
    EXPECT_EQ(filter.SetFilter(r.key, r.value, &text), r.result) << Narrow(r.key) << "=" << Narrow(r.value);
    EXPECT_EQ(text, r.text) << Narrow(r.key);
    EXPECT_EQ(Describe(filter.Settings()), r.settings) << Narrow(r.key) << "=" << Narrow(r.value);
  }
}

TEST(FileFilterKeys, PathsAndTheirErrors) {
  TempDir dir;
  ASSERT_TRUE(dir.Write(L"a.txt", 3) && dir.Write(L"b.log", 3));
  const std::wstring d = dir.Dir();
  const struct {
    std::wstring value;
    LONG result;
    std::wstring text, pattern;  // a path that finds nothing keeps the former settings
  } rows[] = {
      {d, 0, L"", d + L"\\*"},
      {d + L"\\*.txt", 0, L"", d + L"\\*.txt"},
      {d + L"\\", 0, L"", d + L"\\*"},
      {dir.Path(L"b.log"), 0, L"", dir.Path(L"b.log")},
      {dir.Path(L"missing.txt"), -1, SystemText(ERROR_FILE_NOT_FOUND), dir.Path(L"b.log")},
      {dir.Path(L"no_dir\\x.txt"), -1, SystemText(ERROR_PATH_NOT_FOUND), dir.Path(L"b.log")},
      {d + L"\\*.none", -1, SystemText(ERROR_FILE_NOT_FOUND), dir.Path(L"b.log")},  // must match when set
  };
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
  const struct {
    FileMap current, previous;
    bool all;  // every switch on, else every switch off
    const wchar_t* expected;
  } rows[] = {
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
  EXPECT_EQ(std::wstring(filter.Pending().at(L"grown").data.cFileName), L"grown");
  filter.TakePending();
  EXPECT_TRUE(filter.Filter(Map({Entry(L"f", FILE_ATTRIBUTE_ARCHIVE, 20)}), Map({Entry(L"f")})));
  EXPECT_TRUE(filter.Filter(Map({Entry(L"f", FILE_ATTRIBUTE_HIDDEN, 20)}), Map({Entry(L"f", FILE_ATTRIBUTE_ARCHIVE, 20)})));
  EXPECT_EQ(Changes(filter), L"f=size changed;");
  EXPECT_EQ(filter.Pending().at(L"f").data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  filter.TakePending();  // once published, the next change is recorded afresh
  EXPECT_TRUE(filter.Filter(Map({Entry(L"f", FILE_ATTRIBUTE_READONLY, 20)}), Map({Entry(L"f", FILE_ATTRIBUTE_HIDDEN, 20)})));
  EXPECT_EQ(Changes(filter), L"f=attributes changed;");
}

}  // namespace
