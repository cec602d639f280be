// The file watcher's worker on real directories: the baseline, each kind of
// change, batches and pending changes, and how the worker ends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "files/file_watch.h"
#include "files/nt_files.h"
#include "tests/harness/dispatch.h"
#include "tests/win/files/temp_dir.h"

using namespace brisel;
using brisel::test::AwaitBaseline;
using brisel::test::Narrow;
using brisel::test::TempDir;

namespace {

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

std::string Show(const Pairs& pairs) {
  std::string out;
  for (const auto& [name, what] : pairs) out += Narrow(name) + "=" + Narrow(what) + "; ";
  return out;
}

class FileWatch : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.Valid()); }

  // A watcher on the directory with the given switches set to TRUE; the
  // suffix makes the probe files match the path's pattern.
  void Start(std::initializer_list<const wchar_t*> switches, const std::wstring& path = {},
             const std::wstring& suffix = {}) {
    source_ = std::make_shared<FileWatchSource>(items_);
    suffix_ = suffix;
    names_ = false;
    std::wstring text;
    ASSERT_EQ(source_->SetFilter(L"FILE PATH", path.empty() ? dir_.Dir() : path, &text), 0) << Narrow(text);
    for (const wchar_t* s : switches) {
      ASSERT_EQ(source_->SetFilter(s, L"TRUE", &text), 0);
      names_ = names_ || std::wstring_view(s) == L"FILE NAME";
    }
    if (!names_) {
      ASSERT_TRUE(dir_.Write(L"probe" + suffix, 1));
    }
    ASSERT_EQ(worker_.Start(&ntFilesThread, source_), S_OK);
  }
  // Resumes and returns once the baseline has been taken.
  HANDLE Begin() {
    HANDLE ready = Handle(source_->Resume());
    auto batch = [this] {
      std::vector<std::pair<std::wstring, double>> out;
      EachFile([&](const std::wstring& name, INtFile* file) {
        double size = 0;
        file->get_Size(&size);
        out.emplace_back(name, size);
      });
      return out;
    };
    EXPECT_TRUE(AwaitBaseline(dir_, ready, names_, suffix_, batch, [this] { source_->ResetEvent(); }));
    return ready;
  }
  static HANDLE Handle(LONG value) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(value)); }
  static bool Signalled(HANDLE h, DWORD ms) { return ::WaitForSingleObject(h, ms) == WAIT_OBJECT_0; }

  // Calls f(name, file) for each file of the published batch, without the
  // directory's own "." and ".." entries.
  template <class F>
  void EachFile(F f) const {
    for (const Variant& v : *items_->Snapshot()) {
      ComPtr<INtFile> file;
      if (FAILED(V_DISPATCH(&v.Get())->QueryInterface(IID_INtFile, file.PutVoid()))) continue;
      Bstr name;
      file->get_Name(name.Put());
      std::wstring n(name.View());
      if (n != L"." && n != L"..") f(n, file.Get());
    }
  }
  Pairs Batch() const {
    Pairs out;
    EachFile([&](const std::wstring& name, INtFile* file) {
      Bstr what;
      file->get_Description(what.Put());
      out.emplace_back(name, std::wstring(what.View()));
    });
    return out;
  }
  // The next batch: waits for data-ready, reads, resets for the one after.
  Pairs Next(HANDLE ready) {
    if (!Signalled(ready, 10000)) return {{L"<no batch>", L""}};
    Pairs batch = Batch();
    ::Sleep(150);  // let the worker re-arm its notification before the test changes more
    return batch;
  }

  TempDir dir_;
  std::wstring suffix_;
  bool names_ = false;
  std::shared_ptr<ItemCollection> items_ = std::make_shared<ItemCollection>();
  std::shared_ptr<FileWatchSource> source_;
  WorkerThread worker_;
};

TEST_F(FileWatch, TheBaselineReportsNothingEvenForAFullDirectory) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(dir_.Write(L"old" + std::to_wstring(i), 10));
  Start({L"FILE NAME"});
  HANDLE ready = Begin();
  EXPECT_FALSE(Signalled(ready, 300));
  ASSERT_TRUE(dir_.Write(L"new.txt", 1));
  EXPECT_EQ(Next(ready), (Pairs{{L"new.txt", L"created"}}));
}

TEST_F(FileWatch, AnEmptyBaselineKeepsTheWatcherRunning) {
  ASSERT_TRUE(dir_.Write(L"seed.log", 1));
  Start({L"FILE NAME"}, dir_.Dir() + L"\\*.log", L".log");
  ASSERT_TRUE(dir_.Remove(L"seed.log"));  // nothing matches at the first resume
  HANDLE ready = Begin();
  EXPECT_TRUE(worker_.Running());
  ASSERT_TRUE(dir_.Write(L"other.txt", 1));  // outside the pattern
  ASSERT_TRUE(dir_.Write(L"first.log", 1));
  EXPECT_EQ(Next(ready), (Pairs{{L"first.log", L"created"}}));
}

TEST_F(FileWatch, NothingIsWatchedBeforeTheFirstResume) {
  Start({L"FILE NAME"});
  ASSERT_TRUE(dir_.Write(L"early.txt", 1));
  ::Sleep(200);
  HANDLE ready = Begin();
  EXPECT_FALSE(Signalled(ready, 300)) << "a file made before the first resume is part of the baseline";
  ASSERT_TRUE(dir_.Write(L"late.txt", 1));
  EXPECT_EQ(Next(ready), (Pairs{{L"late.txt", L"created"}}));
}

TEST_F(FileWatch, ARenameIsDeletedAndCreatedSortedTogether) {
  ASSERT_TRUE(dir_.Write(L"m.txt", 1));
  ASSERT_TRUE(dir_.Write(L"c.txt", 1));
  Start({L"FILE NAME"});
  HANDLE ready = Begin();
  ASSERT_TRUE(dir_.Rename(L"m.txt", L"a.txt"));
  Pairs batch = Next(ready);
  EXPECT_EQ(batch, (Pairs{{L"a.txt", L"created"}, {L"m.txt", L"deleted"}})) << Show(batch);
  source_->ResetEvent();
  ASSERT_TRUE(dir_.Rename(L"c.txt", L"z.txt"));
  batch = Next(ready);
  EXPECT_EQ(batch, (Pairs{{L"c.txt", L"deleted"}, {L"z.txt", L"created"}})) << Show(batch);
}

TEST_F(FileWatch, GrowingAFileChangesItsSize) {
  ASSERT_TRUE(dir_.Write(L"grow.dat", 100));
  Start({L"FILE NAME", L"SIZE"});
  HANDLE ready = Begin();
  ASSERT_TRUE(dir_.Append(L"grow.dat", 50));
  EXPECT_EQ(Next(ready), (Pairs{{L"grow.dat", L"size changed"}}));
  ComPtr<INtFile> item;
  Variant v;
  ASSERT_EQ(items_->Item(1, v.Put()), S_OK);
  V_DISPATCH(&v.Get())->QueryInterface(IID_INtFile, item.PutVoid());
  double size = 0;
  item->get_Size(&size);
  EXPECT_EQ(size, 150.0);
}

TEST_F(FileWatch, AppendingWithBothSwitchesOnGivesOneItemWithBothTexts) {
  ASSERT_TRUE(dir_.Write(L"log.txt", 10));
  Start({L"SIZE", L"LAST WRITE TIME"});
  HANDLE ready = Begin();
  FILETIME later = {0x12345678, 0x01D60000};
  ASSERT_TRUE(dir_.Append(L"log.txt", 10));
  ASSERT_TRUE(dir_.SetLastWrite(L"log.txt", later));
  Pairs batch = Next(ready);
  EXPECT_EQ(batch, (Pairs{{L"log.txt", L"size changed,last write time changed"}})) << Show(batch);
}

TEST_F(FileWatch, TouchingAFileChangesItsLastWriteTime) {
  ASSERT_TRUE(dir_.Write(L"touch.txt", 10));
  Start({L"LAST WRITE TIME"});
  HANDLE ready = Begin();
  FILETIME t = {0x11111111, 0x01D50000};
  ASSERT_TRUE(dir_.SetLastWrite(L"touch.txt", t));
  Pairs batch = Next(ready);
  EXPECT_EQ(batch, (Pairs{{L"touch.txt", L"last write time changed"}})) << Show(batch);
}

TEST_F(FileWatch, ChangingAttributesIsReportedWithTheNewAttributes) {
  ASSERT_TRUE(dir_.Write(L"attr.txt", 10));
  Start({L"ATTRIBUTES"});
  HANDLE ready = Begin();
  ASSERT_TRUE(dir_.SetAttributes(L"attr.txt", FILE_ATTRIBUTE_READONLY));
  Pairs batch = Next(ready);
  EXPECT_EQ(batch, (Pairs{{L"attr.txt", L"attributes changed"}})) << Show(batch);
  Variant v;
  ASSERT_EQ(items_->Item(1, v.Put()), S_OK);
  ComPtr<INtFile> item;
  V_DISPATCH(&v.Get())->QueryInterface(IID_INtFile, item.PutVoid());
  LONG attributes = 0;
  item->get_Attributes(&attributes);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
}

TEST_F(FileWatch, ResetKeepsTheBatchUntilTheNextOneReplacesIt) {
  Start({L"FILE NAME"});
  HANDLE ready = Begin();
  ASSERT_TRUE(dir_.Write(L"one.txt", 1));
  EXPECT_EQ(Next(ready), (Pairs{{L"one.txt", L"created"}}));
  EXPECT_TRUE(source_->ResetEvent());
  EXPECT_FALSE(Signalled(ready, 0));
  EXPECT_EQ(Batch(), (Pairs{{L"one.txt", L"created"}})) << "Count does not drop at the reset";
  ASSERT_TRUE(dir_.Remove(L"one.txt"));
  EXPECT_EQ(Next(ready), (Pairs{{L"one.txt", L"deleted"}}));
}

TEST_F(FileWatch, ChangesFoundWhileABatchIsUnreadGoOutAtTheReset) {
  Start({L"FILE NAME"});
  HANDLE ready = Begin();
  ASSERT_TRUE(dir_.Write(L"b1.txt", 1));
  EXPECT_EQ(Next(ready), (Pairs{{L"b1.txt", L"created"}}));
  // A second resume without a reset: the worker lists, but keeps what it finds.
  source_->Resume();
  ::Sleep(100);
  ASSERT_TRUE(dir_.Write(L"b2.txt", 1));
  ::Sleep(500);
  EXPECT_EQ(Batch(), (Pairs{{L"b1.txt", L"created"}}));
  EXPECT_FALSE(source_->Armed());
  // Nothing else happens in the directory: the kept change is the next batch.
  source_->ResetEvent();
  EXPECT_EQ(Next(ready), (Pairs{{L"b2.txt", L"created"}}));
}

TEST_F(FileWatch, AChurningDirectoryWithAnUnreadBatchNeitherSpinsNorHoldsUpTheRelease) {
  // Large enough that a listing takes longer than the writer's pause.
  for (int i = 0; i < 3000; ++i) ASSERT_TRUE(dir_.Write(L"f" + std::to_wstring(i), 0));
  ASSERT_TRUE(dir_.Write(L"grow.txt", 0));
  Start({L"FILE NAME", L"SIZE"});
  HANDLE ready = Begin();
  ASSERT_TRUE(dir_.Write(L"first.txt", 1));
  ASSERT_TRUE(Signalled(ready, 10000));
  source_->Resume();  // read Event again, as loops do, and never reset
  std::atomic<bool> churn{true};
  std::thread writer([&] {
    // Bounded, so that a release that waits for quiet still returns.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (churn && std::chrono::steady_clock::now() < end) {
      dir_.Append(L"grow.txt", 1);
      ::Sleep(1);
    }
  });
  ::Sleep(300);
  FILETIME created, ended, kernel_before, user_before, kernel_after, user_after;
  ASSERT_TRUE(::GetThreadTimes(worker_.Handle(), &created, &ended, &kernel_before, &user_before));
  ::Sleep(1000);
  ASSERT_TRUE(::GetThreadTimes(worker_.Handle(), &created, &ended, &kernel_after, &user_after));
  auto ticks = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  ULONGLONG busy_ms = (ticks(kernel_after) - ticks(kernel_before) + ticks(user_after) - ticks(user_before)) / 10000;
  auto start = std::chrono::steady_clock::now();
  worker_.Stop();
  auto release = std::chrono::steady_clock::now() - start;
  churn = false;
  writer.join();
  EXPECT_LT(busy_ms, 300u) << "the worker kept listing while its batch was unread";
  EXPECT_LT(release, std::chrono::seconds(1)) << "release waited for the directory to go quiet";
}

TEST_F(FileWatch, TheMaskIsReadOnceAndAShortPollFindsWhatItDoesNotCover) {
  ASSERT_TRUE(dir_.Write(L"quiet.txt", 1));
  Start({L"FILE NAME"});
  source_->SetPollTimeout(200);
  HANDLE ready = Begin();
  std::wstring text;
  // The switch now compares attributes, though the open notification does not watch them.
  ASSERT_EQ(source_->SetFilter(L"ATTRIBUTES", L"TRUE", &text), 0);
  ASSERT_TRUE(dir_.SetAttributes(L"quiet.txt", FILE_ATTRIBUTE_READONLY));
  Pairs batch = Next(ready);
  EXPECT_EQ(batch, (Pairs{{L"quiet.txt", L"attributes changed"}})) << Show(batch);
}

TEST_F(FileWatch, StopEndsTheWorkerWhetherIdleOrWaitingForANotification) {
  Start({L"FILE NAME"});
  auto start = std::chrono::steady_clock::now();
  worker_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(worker_.Running());

  Start({L"FILE NAME"});
  Begin();
  ASSERT_TRUE(worker_.Running());
  start = std::chrono::steady_clock::now();
  worker_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(worker_.Running());
  EXPECT_EQ(source_.use_count(), 1) << "the worker gave up its share";
}

TEST_F(FileWatch, AnEmptyMaskEndsTheWorkerAtTheFirstResumeAndTheSourceStaysUsable) {
  source_ = std::make_shared<FileWatchSource>(items_);
  std::wstring text;
  ASSERT_EQ(source_->SetFilter(L"FILE PATH", dir_.Dir(), &text), 0);
  ASSERT_EQ(source_->SetFilter(L"CREATE", L"TRUE", &text), 0);
  ASSERT_EQ(worker_.Start(&ntFilesThread, source_), S_OK);
  ::Sleep(100);
  EXPECT_TRUE(worker_.Running()) << "idle until resumed";
  HANDLE ready = Handle(source_->Resume());
  for (int i = 0; i < 100 && worker_.Running(); ++i) ::Sleep(20);
  EXPECT_FALSE(worker_.Running());
  EXPECT_EQ(source_.use_count(), 2) << "the ended thread gave up its share; the test and the thread's holder keep theirs";
  ASSERT_TRUE(dir_.Write(L"x.txt", 1));
  EXPECT_FALSE(Signalled(ready, 200));
  EXPECT_TRUE(source_->ResetEvent());
  EXPECT_EQ(source_->SetFilter(L"SIZE", L"TRUE", &text), 0);
  EXPECT_EQ(Handle(source_->Resume()), ready);
}

TEST_F(FileWatch, AWatcherWithoutAPathEndsAtTheFirstResume) {
  source_ = std::make_shared<FileWatchSource>(items_);
  std::wstring text;
  ASSERT_EQ(source_->SetFilter(L"FILE NAME", L"TRUE", &text), 0);
  ASSERT_EQ(worker_.Start(&ntFilesThread, source_), S_OK);
  source_->Resume();
  for (int i = 0; i < 100 && worker_.Running(); ++i) ::Sleep(20);
  EXPECT_FALSE(worker_.Running());
}

}  // namespace
