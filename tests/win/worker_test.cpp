// The worker handshake with a scripted source: idle until resumed, one batch
// per resume, the poll timeout, stopping, and a worker that ends on its own.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "collector/event_source.h"
#include "tests/harness/dispatch.h"
#include "wmi/processes.h"

using namespace brisel;

namespace {

// Each resume delivers the records queued so far; odd-numbered ones are rejected
// when the filter is on.
class ScriptedSource final : public EventSource {
 public:
  explicit ScriptedSource(std::shared_ptr<ItemCollection> owner) : EventSource(std::move(owner)) {
    input_.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    wait_handles_.push_back(input_.Get());
  }
  bool Exec() override { return exec_ok; }
  bool GetData() override {
    if (fail_passes > 0) {
      --fail_passes;
      throw std::bad_alloc();
    }
    std::lock_guard lock(queue_lock_);
    auto records = LockRecords();
    records_.insert(records_.end(), queue_.begin(), queue_.end());
    queue_.clear();
    ++passes;
    return true;
  }
  void Queue(LONG id) {
    {
      std::lock_guard lock(queue_lock_);
      queue_.push_back(id);
    }
    ::SetEvent(input_.Get());
  }
  std::atomic<bool> exec_ok{true};
  std::atomic<bool> filter_odd{false};
  std::atomic<int> passes{0};
  std::atomic<int> fail_passes{0};  // passes that run out of memory

 protected:
  size_t RecordCount() const override { return records_.size(); }
  void ClearRecords() noexcept override { records_.clear(); }
  bool Rejected(size_t i) override { return filter_odd && records_[i] % 2; }
  HRESULT MakeItem(size_t i, ComPtr<IDispatch>* item) override {
    ComPtr<ProcessItem> p;
    HRESULT hr = ProcessItem::CreateItem(&p);
    if (FAILED(hr)) return hr;
    p->process_id = records_[i];
    *item = static_cast<IDispatch*>(static_cast<IProcess*>(p.Get()));
    return S_OK;
  }

 private:
  UniqueEvent input_;
  std::mutex queue_lock_;
  std::vector<LONG> queue_;
  std::vector<LONG> records_;
};

class Worker : public ::testing::Test {
 protected:
  void Start(DWORD poll_ms = 60000) {
    source_ = std::make_shared<ScriptedSource>(items_);
    source_->SetPollTimeout(poll_ms);
    ASSERT_EQ(worker_.Start(&ntEventLogThread, source_), S_OK);
  }
  static bool Signalled(LONG handle, DWORD ms) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(handle)), ms) == WAIT_OBJECT_0;
  }
  std::vector<LONG> Batch() {
    std::vector<LONG> ids;
    LONG count = 0;
    items_->Count(&count);
    for (LONG i = 1; i <= count; ++i) {
      Variant v;
      if (items_->Item(i, v.Put()) != S_OK) continue;
      ComPtr<IProcess> p;
      V_DISPATCH(&v.Get())->QueryInterface(IID_IProcess, p.PutVoid());
      LONG id = 0;
      p->get_ProcessId(&id);
      ids.push_back(id);
    }
    return ids;
  }

  std::shared_ptr<ItemCollection> items_ = std::make_shared<ItemCollection>();
  std::shared_ptr<ScriptedSource> source_;
  WorkerThread worker_;
};

TEST_F(Worker, IdleUntilResumedThenOneBatchPerResume) {
  Start();
  source_->Queue(1);
  source_->Queue(2);
  ::Sleep(150);
  EXPECT_EQ(source_->passes.load(), 0) << "nothing is collected before the first resume";
  LONG handle = source_->Resume();
  ASSERT_TRUE(Signalled(handle, 5000));
  EXPECT_EQ(Batch(), (std::vector<LONG>{1, 2}));
  // New input while the batch is unread waits for the next resume.
  source_->Queue(3);
  ::Sleep(150);
  EXPECT_EQ(source_->passes.load(), 1);
  EXPECT_EQ(Batch(), (std::vector<LONG>{1, 2}));
  EXPECT_EQ(source_->Reset(), 1);
  // The reset resumes the worker, which may publish the next batch first.
  EXPECT_NE(Batch(), (std::vector<LONG>{1, 2})) << "reset drops the batch at once";
  ASSERT_TRUE(Signalled(handle, 5000));
  EXPECT_EQ(Batch(), (std::vector<LONG>{3}));
}

TEST_F(Worker, FilterRejectsRecordsOutOfTheBatch) {
  Start();
  source_->filter_odd = true;
  for (LONG i = 1; i <= 6; ++i) source_->Queue(i);
  ASSERT_TRUE(Signalled(source_->Resume(), 5000));
  EXPECT_EQ(Batch(), (std::vector<LONG>{2, 4, 6}));
}

TEST_F(Worker, PollTimeoutDeliversAnEmptyBatch) {
  Start(100);
  LONG handle = source_->Resume();
  ASSERT_TRUE(Signalled(handle, 5000));
  EXPECT_TRUE(Batch().empty());
  EXPECT_EQ(source_->passes.load(), 1);
}

TEST_F(Worker, StopEndsAnIdleOrWaitingWorkerPromptly) {
  Start();
  auto start = std::chrono::steady_clock::now();
  worker_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(worker_.Running());
  Start();
  source_->Resume();  // now waiting on input for up to a minute
  ::Sleep(50);
  start = std::chrono::steady_clock::now();
  worker_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(Worker, AWorkerThatEndsOnItsOwnLeavesTheObjectUsable) {
  source_ = std::make_shared<ScriptedSource>(items_);
  source_->exec_ok = false;
  ASSERT_EQ(worker_.Start(&ntEventLogThread, source_), S_OK);
  for (int i = 0; i < 100 && worker_.Running(); ++i) ::Sleep(20);
  EXPECT_FALSE(worker_.Running());
  LONG handle = source_->Resume();
  EXPECT_NE(handle, 0);
  EXPECT_FALSE(Signalled(handle, 100)) << "no batch ever comes, but nothing breaks";
  EXPECT_EQ(source_->Reset(), 1);
  // The object's share keeps the source alive after the worker dropped its own.
  EXPECT_EQ(source_.use_count(), 2);
}

TEST_F(Worker, APassThatRunsOutOfMemoryIsDroppedAndTheWorkerGoesOn) {
  Start();
  source_->fail_passes = 1;
  source_->Queue(1);
  LONG handle = source_->Resume();
  ASSERT_TRUE(Signalled(handle, 5000)) << "the dropped pass still ends in a batch";
  EXPECT_TRUE(worker_.Running());
  source_->Queue(2);
  source_->Reset();
  ASSERT_TRUE(Signalled(handle, 5000));
  EXPECT_EQ(Batch(), (std::vector<LONG>{1, 2})) << "the input stays for the next pass";
}

TEST_F(Worker, AThreadThatDidNotStartIsNeverReportedAsStarted) {
  source_ = std::make_shared<ScriptedSource>(items_);
  // The C runtime refuses without a system error code.
  ::SetLastError(ERROR_SUCCESS);
  EXPECT_TRUE(FAILED(worker_.Start(nullptr, source_)));
  EXPECT_FALSE(worker_.Running());
}

TEST_F(Worker, RepeatedResumesAndResetsFromSeveralThreads) {
  Start(5);
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (LONG i = 0; !done; ++i) {
      source_->Queue(i);
      ::Sleep(1);
    }
  });
  auto script = [&] {
    brisel::test::ComScope com;
    for (int i = 0; i < 200; ++i) {
      LONG handle = source_->Resume();
      Signalled(handle, 50);
      Batch();
      source_->Reset();
    }
  };
  std::thread a(script), b(script);
  a.join();
  b.join();
  done = true;
  feeder.join();
  worker_.Stop();
  EXPECT_GT(source_->passes.load(), 0);
}

}  // namespace
