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

TEST(FileFilterKeys, AnEmptyValueGivesMinusOneAndNoTextForEveryKey) {
  FileFilter filter;
  for (const wchar_t* key : {L"FILE PATH", L"FILE NAME", L"CREATE", L"ATTRIBUTES", L"SIZE", L"LAST WRITE TIME",
                             L"NO SUCH KEY", L"file name", L""}) {
    std::wstring text = L"stale";
    EXPECT_EQ(filter.SetFilter(key, L"", &text), -1) << Narrow(key);
    EXPECT_EQ(text, L"") << Narrow(key);
  }
  FileFilterSettings s = filter.Settings();
  EXPECT_TRUE(s.create);
  EXPECT_EQ(s.mask, 0u);
  EXPECT_EQ(s.pattern, L"");
}

TEST(FileFilterKeys, KeysAreExactAndCaseSensitive) {
  FileFilter filter;
  for (const wchar_t* key : {L"file name", L"FILE  NAME", L" SIZE", L"Size", L"LASTWRITETIME", L"PATH"}) {
    std::wstring text;
    EXPECT_EQ(filter.SetFilter(key, L"TRUE", &text), 1) << Narrow(key);
    EXPECT_EQ(text, L"Invalid Filter") << Narrow(key);
  }
  EXPECT_EQ(filter.Settings().mask, 0u);
}

TEST(FileFilterKeys, SwitchesSetTheirNotificationBitsAndOnlyTrueMeansTrue) {
  FileFilter filter;
  std::wstring text;
  FileFilterSettings s = filter.Settings();
  EXPECT_TRUE(s.create);
  EXPECT_FALSE(s.size || s.attributes || s.last_write);

  EXPECT_EQ(filter.SetFilter(L"FILE NAME", L"TRUE", &text), 0);
  EXPECT_EQ(text, L"");
  EXPECT_EQ(filter.Settings().mask, 0x1u);
  EXPECT_EQ(filter.SetFilter(L"ATTRIBUTES", L"TRUE", &text), 0);
  EXPECT_EQ(filter.SetFilter(L"SIZE", L"TRUE", &text), 0);
  EXPECT_EQ(filter.SetFilter(L"LAST WRITE TIME", L"TRUE", &text), 0);
  s = filter.Settings();
  EXPECT_EQ(s.mask, 0x1Du);
  EXPECT_TRUE(s.size && s.attributes && s.last_write);

  // Lower-case true, 1 and anything else clear.
  EXPECT_EQ(filter.SetFilter(L"FILE NAME", L"true", &text), 0);
  EXPECT_EQ(filter.SetFilter(L"SIZE", L"1", &text), 0);
  s = filter.Settings();
  EXPECT_EQ(s.mask, 0x14u);
  EXPECT_FALSE(s.size);
  EXPECT_TRUE(s.attributes && s.last_write);

  // CREATE is a switch without a notification bit.
  EXPECT_EQ(filter.SetFilter(L"CREATE", L"FALSE", &text), 0);
  s = filter.Settings();
  EXPECT_FALSE(s.create);
  EXPECT_EQ(s.mask, 0x14u);
  FileFilter only_create;
  EXPECT_EQ(only_create.SetFilter(L"CREATE", L"TRUE", &text), 0);
  EXPECT_EQ(only_create.Settings().mask, 0u);
}

class FileFilterPath : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.Valid());
    ASSERT_TRUE(dir_.Write(L"a.txt", 3));
    ASSERT_TRUE(dir_.Write(L"b.log", 3));
  }
  LONG Set(const std::wstring& value) { return filter_.SetFilter(L"FILE PATH", value, &text_); }
  TempDir dir_;
  FileFilter filter_;
  std::wstring text_;
};

TEST_F(FileFilterPath, ADirectoryWithOrWithoutItsBackslashGainsBackslashStar) {
  for (const std::wstring& value : {dir_.Dir(), dir_.Dir() + L"\\"}) {
    FileFilter filter;
    std::wstring text = L"stale";
    ASSERT_EQ(filter.SetFilter(L"FILE PATH", value, &text), 0) << Narrow(value);
    EXPECT_EQ(text, L"");
    FileFilterSettings s = filter.Settings();
    EXPECT_EQ(s.directory, dir_.Dir() + L"\\");
    EXPECT_EQ(s.pattern, dir_.Dir() + L"\\*");
    EXPECT_EQ(s.watch_subtree, 0u);
  }
}

TEST_F(FileFilterPath, AWildcardOrAFileIsUsedUnchanged) {
  ASSERT_EQ(Set(dir_.Dir() + L"\\*.txt"), 0);
  EXPECT_EQ(filter_.Settings().pattern, dir_.Dir() + L"\\*.txt");
  EXPECT_EQ(filter_.Settings().directory, dir_.Dir() + L"\\");
  ASSERT_EQ(Set(dir_.Path(L"b.log")), 0);
  EXPECT_EQ(filter_.Settings().pattern, dir_.Path(L"b.log"));
  EXPECT_EQ(filter_.Settings().directory, dir_.Dir() + L"\\");
}

TEST_F(FileFilterPath, APathThatFindsNothingKeepsTheFormerSettings) {
  ASSERT_EQ(Set(dir_.Dir()), 0);
  EXPECT_EQ(Set(dir_.Path(L"missing.txt")), -1);
  EXPECT_EQ(text_, SystemText(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(text_.empty());
  EXPECT_EQ(filter_.ErrorCode(), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Set(dir_.Path(L"no_dir\\x.txt")), -1);
  EXPECT_EQ(text_, SystemText(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Set(dir_.Dir() + L"\\*.none"), -1) << "a pattern must match something when it is set";
  EXPECT_EQ(filter_.Settings().pattern, dir_.Dir() + L"\\*");
  EXPECT_EQ(filter_.Settings().directory, dir_.Dir() + L"\\");
}

// Comparison of hand-made snapshots.
FileRecord Entry(const wchar_t* name, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE, DWORD size_low = 10,
                 DWORD size_high = 0, DWORD write_low = 1000) {
  FileRecord r;
  wcscpy(r.data.cFileName, name);
  r.data.dwFileAttributes = attributes;
  r.data.nFileSizeLow = size_low;
  r.data.nFileSizeHigh = size_high;
  r.data.ftLastWriteTime.dwLowDateTime = write_low;
  r.data.ftCreationTime.dwLowDateTime = 5;
  r.data.ftLastAccessTime.dwLowDateTime = 7;
  return r;
}

FileMap Map(std::initializer_list<FileRecord> entries) {
  FileMap m;
  for (const FileRecord& e : entries) m.emplace(e.data.cFileName, e);
  return m;
}

std::vector<std::pair<std::wstring, std::wstring>> Changes(const FileFilter& filter) {
  std::vector<std::pair<std::wstring, std::wstring>> out;
  for (const auto& [name, record] : filter.Pending()) out.emplace_back(name, record.description);
  return out;
}

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

void AllSwitches(FileFilter* f) {
  std::wstring text;
  f->SetFilter(L"ATTRIBUTES", L"TRUE", &text);
  f->SetFilter(L"SIZE", L"TRUE", &text);
  f->SetFilter(L"LAST WRITE TIME", L"TRUE", &text);
}

TEST(FileComparison, CreationsAndDeletionsAreReportedWhateverTheSwitches) {
  FileFilter filter;
  std::wstring text;
  filter.SetFilter(L"CREATE", L"FALSE", &text);
  EXPECT_TRUE(filter.Filter(Map({Entry(L"b"), Entry(L"c")}), Map({Entry(L"a"), Entry(L"b")})));
  EXPECT_EQ(Changes(filter), (Pairs{{L"a", L"deleted"}, {L"c", L"created"}}));
}

TEST(FileComparison, ARenameIsTheOldNameDeletedAndTheNewOneCreatedInNameOrder) {
  FileFilter filter;
  EXPECT_TRUE(filter.Filter(Map({Entry(L"a.txt"), Entry(L"k.txt")}), Map({Entry(L"m.txt"), Entry(L"k.txt")})));
  EXPECT_EQ(Changes(filter), (Pairs{{L"a.txt", L"created"}, {L"m.txt", L"deleted"}}));
}

TEST(FileComparison, DifferencesWhoseSwitchesAreOffReportNothing) {
  FileFilter filter;
  EXPECT_FALSE(filter.Filter(Map({Entry(L"f", FILE_ATTRIBUTE_READONLY, 99, 1, 2000)}), Map({Entry(L"f")})));
  EXPECT_TRUE(filter.Pending().empty());
}

TEST(FileComparison, ChangedPropertiesAreJoinedInFixedOrderWithoutSpaces) {
  FileFilter filter;
  AllSwitches(&filter);
  EXPECT_TRUE(filter.Filter(Map({Entry(L"all", FILE_ATTRIBUTE_HIDDEN, 11, 0, 2000),
                                 Entry(L"sw", FILE_ATTRIBUTE_ARCHIVE, 11, 0, 2000),
                                 Entry(L"a", FILE_ATTRIBUTE_HIDDEN), Entry(L"same")}),
                            Map({Entry(L"all"), Entry(L"sw"), Entry(L"a"), Entry(L"same")})));
  EXPECT_EQ(Changes(filter), (Pairs{{L"a", L"attributes changed"},
                                    {L"all", L"attributes changed,size changed,last write time changed"},
                                    {L"sw", L"size changed,last write time changed"}}));
}

TEST(FileComparison, SizeIsComparedOnBothHalvesAndOtherTimesNever) {
  FileFilter filter;
  AllSwitches(&filter);
  FileRecord high = Entry(L"high", FILE_ATTRIBUTE_ARCHIVE, 10, 1);
  FileRecord times = Entry(L"times");
  times.data.ftCreationTime.dwLowDateTime = 99;
  times.data.ftLastAccessTime.dwHighDateTime = 99;
  EXPECT_TRUE(filter.Filter(Map({high, times}), Map({Entry(L"high"), Entry(L"times")})));
  EXPECT_EQ(Changes(filter), (Pairs{{L"high", L"size changed"}}));
}

TEST(FileComparison, DeletedItemsCarryTheLastListingAndChangedOnesTheNewOne) {
  FileFilter filter;
  AllSwitches(&filter);
  EXPECT_TRUE(filter.Filter(Map({Entry(L"grown", FILE_ATTRIBUTE_ARCHIVE, 500)}),
                            Map({Entry(L"gone", FILE_ATTRIBUTE_ARCHIVE, 77), Entry(L"grown")})));
  ASSERT_EQ(filter.Pending().size(), 2u);
  EXPECT_EQ(filter.Pending().at(L"gone").data.nFileSizeLow, 77u);
  EXPECT_EQ(filter.Pending().at(L"grown").data.nFileSizeLow, 500u);
  EXPECT_EQ(std::wstring(filter.Pending().at(L"grown").data.cFileName), L"grown");
}

TEST(FileComparison, AnUnpublishedChangeKeepsItsFirstDescription) {
  FileFilter filter;
  AllSwitches(&filter);
  EXPECT_TRUE(filter.Filter(Map({Entry(L"f", FILE_ATTRIBUTE_ARCHIVE, 20)}), Map({Entry(L"f")})));
  EXPECT_TRUE(filter.Filter(Map({Entry(L"f", FILE_ATTRIBUTE_HIDDEN, 20)}), Map({Entry(L"f", FILE_ATTRIBUTE_ARCHIVE, 20)})));
  EXPECT_EQ(Changes(filter), (Pairs{{L"f", L"size changed"}}));
  EXPECT_EQ(filter.Pending().at(L"f").data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  // Once taken (published), the next change is recorded afresh.
  filter.TakePending();
  EXPECT_TRUE(filter.Filter(Map({Entry(L"f", FILE_ATTRIBUTE_READONLY, 20)}), Map({Entry(L"f", FILE_ATTRIBUTE_HIDDEN, 20)})));
  EXPECT_EQ(Changes(filter), (Pairs{{L"f", L"attributes changed"}}));
}

TEST(FileComparison, NamesAreOrderedByCodeUnitUpperCaseFirst) {
  FileFilter filter;
  EXPECT_TRUE(filter.Filter(Map({Entry(L"b"), Entry(L"B"), Entry(L"_x"), Entry(L"a"), Entry(L"\u00e9")}), FileMap()));
  std::vector<std::wstring> names;
  for (const auto& [name, record] : filter.Pending()) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"B", L"_x", L"a", L"b", L"\u00e9"}));
}

TEST(FileListing, NoMatchIsAnEmptyListingAndAMissingDirectoryAFailure) {
  TempDir dir;
  ASSERT_TRUE(dir.Valid());
  ASSERT_TRUE(dir.Write(L"one.txt", 4));
  FileMap listing;
  DWORD error = 0;
  ASSERT_TRUE(ListPattern(dir.Dir() + L"\\*.txt", &listing, &error));
  ASSERT_EQ(listing.size(), 1u);
  EXPECT_EQ(listing.begin()->first, L"one.txt");
  EXPECT_EQ(listing.begin()->second.data.nFileSizeLow, 4u);
  EXPECT_EQ(listing.begin()->second.description, L"");
  EXPECT_TRUE(ListPattern(dir.Dir() + L"\\*.none", &listing, &error));
  EXPECT_TRUE(listing.empty());
  EXPECT_FALSE(ListPattern(dir.Path(L"no_dir\\*"), &listing, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
