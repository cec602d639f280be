// The file watcher's worker on real directories: the baseline, each kind of
// change, batches and pending changes, and how the worker ends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "files/file_watch.h"
#include "files/nt_files.h"
#include "tests/harness/dispatch.h"
#include "tests/win/files/temp_dir.h"

using namespace brisel;
using brisel::test::AwaitBaseline;
using brisel::test::Narrow;
using brisel::test::TempDir;
using Clock = std::chrono::steady_clock;

namespace {

// A watcher on a scratch directory; a batch reads as "name=description;" each.
struct Watch {
  // The given switches set to TRUE; the suffix makes the probe files match the path's pattern.
  void Start(std::initializer_list<const wchar_t*> switches, const std::wstring& suffix = {}) {
    ASSERT_TRUE(dir.Valid());
    source = std::make_shared<FileWatchSource>(items);
    suffix_ = suffix;
    std::wstring text;
    ASSERT_EQ(source->SetFilter(L"FILE PATH", suffix.empty() ? dir.Dir() : dir.Path(L"*" + suffix), &text), 0);
    for (const wchar_t* s : switches) {
      ASSERT_EQ(source->SetFilter(s, L"TRUE", &text), 0);
      names = names || std::wstring_view(s) == L"FILE NAME";
    }
    ASSERT_TRUE(names || dir.Write(L"probe" + suffix, 1));
    ASSERT_EQ(worker.Start(&ntFilesThread, source), S_OK);
  }
  // Resumes and returns once the baseline has been taken.
  HANDLE Begin() {
    ready = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(source->Resume()));
    auto sizes = [this] {
      std::vector<std::pair<std::wstring, double>> out;
      Each([&](const std::wstring& name, INtFile* file) { out.emplace_back(name, (file->get_Size(&size), size)); });
      return out;
    };
    EXPECT_TRUE(AwaitBaseline(dir, ready, names, suffix_, sizes, [this] { source->ResetEvent(); }));
    return ready;
  }
  // Each file of the published batch, without the directory's "." and "..".
  void Each(const std::function<void(const std::wstring&, INtFile*)>& f) const {
    for (const Variant& v : *items->Snapshot()) {
      ComPtr<INtFile> file;
      Bstr name;
      if (FAILED(V_DISPATCH(&v.Get())->QueryInterface(IID_INtFile, file.PutVoid()))) continue;
      file->get_Name(name.Put());
      if (name.View() != L"." && name.View() != L"..") f(std::wstring(name.View()), file.Get());
    }
  }
  std::wstring Batch() const {
    std::wstring out;
    Each([&](const std::wstring& name, INtFile* file) {
      Bstr what;
      file->get_Description(what.Put());
      out += name + L"=" + std::wstring(what.View()) + L";";
    });
    return out;
  }
  std::wstring Next() { return ::WaitForSingleObject(ready, 10000) == WAIT_OBJECT_0 ? Batch() : L"<no batch>"; }
  bool Ends() {
    for (auto end = Clock::now() + std::chrono::seconds(10); worker.Running() && Clock::now() < end;) ::Sleep(10);
    return !worker.Running();
  }

  TempDir dir;
  std::wstring suffix_;
  bool names = false;
  double size = 0;
  HANDLE ready = nullptr;
  std::shared_ptr<ItemCollection> items = std::make_shared<ItemCollection>();
  std::shared_ptr<FileWatchSource> source;
  WorkerThread worker;
};

TEST(FileWatch, EachKindOfChangeGivesItsDescriptionAndNewProperties) {
  const FILETIME later = {0x12345678, 0x01D60000};
  const struct {
    std::initializer_list<const wchar_t*> switches;
    std::function<bool(const TempDir&)> change;
    const wchar_t* batch;
    double size;
    LONG readonly;
    const wchar_t* late = nullptr;  // a switch set after the baseline: the mask is read once, a short poll finds it
  } rows[] = {
      {{L"FILE NAME", L"SIZE"}, [](const TempDir& d) { return d.Append(L"f.txt", 50); }, L"f.txt=size changed;", 60,
       0},
      {{L"SIZE", L"LAST WRITE TIME"}, [&](const TempDir& d) { return d.Append(L"f.txt", 10) && d.SetLastWrite(L"f.txt", later); },
       L"f.txt=size changed,last write time changed;", 20, 0},
      {{L"LAST WRITE TIME"}, [&](const TempDir& d) { return d.SetLastWrite(L"f.txt", later); },
       L"f.txt=last write time changed;", 10, 0},
      {{L"ATTRIBUTES"}, [](const TempDir& d) { return d.SetAttributes(L"f.txt", FILE_ATTRIBUTE_READONLY); },
       L"f.txt=attributes changed;", 10, FILE_ATTRIBUTE_READONLY},
      {{L"FILE NAME"}, [](const TempDir& d) { return d.SetAttributes(L"f.txt", FILE_ATTRIBUTE_READONLY); },
       L"f.txt=attributes changed;", 10, FILE_ATTRIBUTE_READONLY, L"ATTRIBUTES"},
      {{L"FILE NAME"}, [](const TempDir& d) { return d.Rename(L"f.txt", L"a.txt"); }, L"a.txt=created;f.txt=deleted;",
       10, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(Narrow(r.batch));
    Watch w;
    ASSERT_TRUE(w.dir.Write(L"f.txt", 10));
    w.Start(r.switches);
    if (r.late) w.source->SetPollTimeout(200);
    w.Begin();
    std::wstring text;
    ASSERT_EQ(r.late ? w.source->SetFilter(r.late, L"TRUE", &text) : 0, 0);
    ASSERT_TRUE(r.change(w.dir));
    EXPECT_EQ(w.Next(), r.batch);
    w.Each([&](const std::wstring& name, INtFile* file) {
      LONG attributes = 0;
      file->get_Size(&w.size);
      file->get_Attributes(&attributes);
      EXPECT_EQ(w.size, r.size) << Narrow(name);
      EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, r.readonly) << Narrow(name);
    });
  }
}

TEST(FileWatch, TheBaselineIsTakenAtTheFirstResumeAndReportsNothing) {
  Watch w;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(w.dir.Write(L"old" + std::to_wstring(i), 10));
  w.Start({L"FILE NAME"});
  ASSERT_TRUE(w.dir.Write(L"early.txt", 1));  // before the first resume: part of the baseline
  HANDLE ready = w.Begin();
  EXPECT_NE(::WaitForSingleObject(ready, 300), WAIT_OBJECT_0);
  ASSERT_TRUE(w.dir.Write(L"late.txt", 1));
  EXPECT_EQ(w.Next(), L"late.txt=created;");
  // The reset leaves the batch until the next one replaces it.
  EXPECT_TRUE(w.source->ResetEvent());
  EXPECT_NE(::WaitForSingleObject(ready, 0), WAIT_OBJECT_0);
  EXPECT_EQ(w.Batch(), L"late.txt=created;") << "Count does not drop at the reset";
  ASSERT_TRUE(w.dir.Remove(L"late.txt"));
  EXPECT_EQ(w.Next(), L"late.txt=deleted;");
}

TEST(FileWatch, AnEmptyBaselineKeepsTheWatcherRunning) {
  Watch w;
  ASSERT_TRUE(w.dir.Write(L"seed.log", 1));
  w.Start({L"FILE NAME"}, L".log");
  ASSERT_TRUE(w.dir.Remove(L"seed.log"));  // nothing matches at the first resume
  w.Begin();
  EXPECT_TRUE(w.worker.Running());
  ASSERT_TRUE(w.dir.Write(L"other.txt", 1));  // outside the pattern
  ASSERT_TRUE(w.dir.Write(L"first.log", 1));
  EXPECT_EQ(w.Next(), L"first.log=created;");
}

TEST(FileWatch, ChangesFoundWhileABatchIsUnreadGoOutAtTheReset) {
  Watch w;
  w.Start({L"FILE NAME"});
  w.Begin();
  ASSERT_TRUE(w.dir.Write(L"b1.txt", 1));
  EXPECT_EQ(w.Next(), L"b1.txt=created;");
  w.source->Resume();  // a second resume without a reset: the worker lists, but keeps what it finds
  ASSERT_TRUE(w.dir.Write(L"b2.txt", 1));
  ::Sleep(500);  // nothing outside shows that the worker has listed
  EXPECT_EQ(w.Batch(), L"b1.txt=created;");
  EXPECT_FALSE(w.source->Armed());
  w.source->ResetEvent();
  EXPECT_EQ(w.Next(), L"b2.txt=created;");
}

TEST(FileWatch, AChurningDirectoryWithAnUnreadBatchNeitherSpinsNorHoldsUpTheRelease) {
  Watch w;
  // Large enough that a listing takes longer than the writer's pause.
  for (int i = 0; i < 3000; ++i) ASSERT_TRUE(w.dir.Write(L"f" + std::to_wstring(i), 0));
  ASSERT_TRUE(w.dir.Write(L"grow.txt", 0));
  w.Start({L"FILE NAME", L"SIZE"});
  HANDLE ready = w.Begin();
  ASSERT_TRUE(w.dir.Write(L"first.txt", 1));
  ASSERT_EQ(::WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
  w.source->Resume();  // read Event again, as loops do, and never reset
  std::atomic<bool> churn{true};
  std::thread writer([&] {
    // Bounded, so that a release that waits for quiet still returns.
    for (auto end = Clock::now() + std::chrono::seconds(5); churn && Clock::now() < end; ::Sleep(1))
      w.dir.Append(L"grow.txt", 1);
  });
  ::Sleep(300);
  FILETIME times[2][4];
  ASSERT_TRUE(::GetThreadTimes(w.worker.Handle(), &times[0][0], &times[0][1], &times[0][2], &times[0][3]));
  ::Sleep(1000);  // the measured window
  ASSERT_TRUE(::GetThreadTimes(w.worker.Handle(), &times[1][0], &times[1][1], &times[1][2], &times[1][3]));
  auto ticks = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  ULONGLONG busy_ms = (ticks(times[1][2]) - ticks(times[0][2]) + ticks(times[1][3]) - ticks(times[0][3])) / 10000;
  auto start = Clock::now();
  w.worker.Stop();
  auto release = Clock::now() - start;
  churn = false;
  writer.join();
  EXPECT_LT(busy_ms, 300u) << "the worker kept listing while its batch was unread";
  EXPECT_LT(release, std::chrono::seconds(1)) << "release waited for the directory to go quiet";
}

TEST(FileWatch, StopEndsTheWorkerWhetherIdleOrWaitingForANotification) {
  for (bool begun : {false, true}) {
    Watch w;
    w.Start({L"FILE NAME"});
    if (begun) w.Begin();
    ASSERT_TRUE(w.worker.Running());
    auto start = Clock::now();
    w.worker.Stop();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(w.worker.Running());
    EXPECT_EQ(w.source.use_count(), 1) << "the worker gave up its share";
  }
}

TEST(FileWatch, AnEmptyMaskOrNoPathEndsTheWorkerAtTheFirstResumeAndTheSourceStaysUsable) {
  for (const auto& [key, value] : {std::pair{L"FILE PATH", L""}, std::pair{L"FILE NAME", L"TRUE"}}) {
    Watch w;
    w.source = std::make_shared<FileWatchSource>(w.items);
    std::wstring text;
    ASSERT_EQ(w.source->SetFilter(key, *value ? value : w.dir.Dir(), &text), 0);
    ASSERT_EQ(w.worker.Start(&ntFilesThread, w.source), S_OK);
    ::Sleep(100);  // an absence: nothing to wait for
    EXPECT_TRUE(w.worker.Running()) << "idle until resumed";
    HANDLE ready = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(w.source->Resume()));
    ASSERT_TRUE(w.Ends()) << Narrow(key);
    EXPECT_EQ(w.source.use_count(), 2) << "the ended thread gave up its share; the test and the thread's holder keep theirs";
    ASSERT_TRUE(w.dir.Write(L"x.txt", 1));
    EXPECT_NE(::WaitForSingleObject(ready, 200), WAIT_OBJECT_0);
    EXPECT_TRUE(w.source->ResetEvent());
    EXPECT_EQ(w.source->SetFilter(L"SIZE", L"TRUE", &text), 0);
    EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(w.source->Resume())), ready);
  }
}

}  // namespace
