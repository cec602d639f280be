// The worker handshake with a scripted source: idle until resumed, one batch
// per resume, the poll timeout, stopping, and a worker that ends on its own.
#include <gtest/gtest.h>

#include <chrono>

#include "collector/event_source.h"
#include "tests/harness/dispatch.h"
#include "wmi/processes.h"

using namespace brisel;

namespace {

// Each pass takes the records queued so far; odd ones are rejected when the filter is on.
class ScriptedSource final : public EventSource {
 public:
  explicit ScriptedSource(std::shared_ptr<ItemCollection> owner) : EventSource(std::move(owner)) {
    input_.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    wait_handles_.push_back(input_.Get());
  }
  bool Exec() override { return exec_ok; }
  bool GetData() override {
    if (fail_passes-- > 0) throw std::bad_alloc();
    std::lock_guard lock(queue_lock_);
    auto records = LockRecords();
    records_.insert(records_.end(), queue_.begin(), queue_.end());
    queue_.clear();
    return ++passes;
  }
  void Queue(LONG id) {
    std::lock_guard lock(queue_lock_);
    queue_.push_back(id);
    ::SetEvent(input_.Get());
  }
  std::atomic<bool> exec_ok{true}, filter_odd{false};
  std::atomic<int> passes{0}, fail_passes{0};

 protected:
  size_t RecordCount() const override { return records_.size(); }
  void ClearRecords() noexcept override { records_.clear(); }
  bool Rejected(size_t i) override { return filter_odd && records_[i] % 2; }
  HRESULT MakeItem(size_t i, ComPtr<IDispatch>* item) override {
    ComPtr<ProcessItem> p;
    HRESULT hr = ProcessItem::CreateItem(&p);
    if (SUCCEEDED(hr)) p->process_id = records_[i], *item = static_cast<IDispatch*>(static_cast<IProcess*>(p.Get()));
    return hr;
  }

 private:
  UniqueEvent input_;
  std::mutex queue_lock_;
  std::vector<LONG> queue_, records_;
};

using Ids = std::vector<LONG>;
using Clock = std::chrono::steady_clock;

class Worker : public ::testing::Test {
 protected:
  void Start(DWORD poll_ms = 60000, bool exec_ok = true) {
    (source_ = std::make_shared<ScriptedSource>(items_))->SetPollTimeout(poll_ms);
    source_->exec_ok = exec_ok;
    ASSERT_EQ(worker_.Start(&ntEventLogThread, source_), S_OK);
  }
  static bool Signalled(LONG h, DWORD ms = 10000) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(h)), ms) == WAIT_OBJECT_0;
  }
  Ids Batch() {
    Ids ids;
    for (const Variant& v : *items_->Snapshot()) {
      ComPtr<IProcess> p;
      LONG id = -1;
      if (SUCCEEDED(V_DISPATCH(&v.Get())->QueryInterface(IID_IProcess, p.PutVoid()))) p->get_ProcessId(&id);
      ids.push_back(id);
    }
    return ids;
  }
  std::shared_ptr<ItemCollection> items_ = std::make_shared<ItemCollection>();
  std::shared_ptr<ScriptedSource> source_;
  WorkerThread worker_;
};

TEST_F(Worker, OneFilteredBatchPerResumeAndAPassOutOfMemoryIsDropped) {
  Start();
  source_->filter_odd = true;
  for (LONG i = 1; i <= 4; ++i) source_->Queue(i);
  ::Sleep(150);  // an absence: nothing to wait for
  EXPECT_EQ(source_->passes.load(), 0) << "nothing is collected before the first resume";
  LONG handle = source_->Resume();
  ASSERT_TRUE(Signalled(handle));
  EXPECT_EQ(Batch(), (Ids{2, 4}));
  source_->filter_odd = false;
  source_->fail_passes = 1;
  source_->Queue(5);
  EXPECT_EQ(source_->Reset(), 1);
  EXPECT_NE(Batch(), (Ids{2, 4})) << "reset drops the batch at once";
  ASSERT_TRUE(Signalled(handle)) << "the dropped pass still ends in a batch";
  EXPECT_TRUE(worker_.Running());
  source_->Queue(6);
  source_->Reset();
  ASSERT_TRUE(Signalled(handle));
  EXPECT_EQ(Batch(), (Ids{5, 6})) << "the input stays for the next pass";
  EXPECT_EQ(source_->passes.load(), 2);
}

TEST_F(Worker, PollTimeoutDeliversAnEmptyBatch) {
  Start(100);
  ASSERT_TRUE(Signalled(source_->Resume()));
  EXPECT_EQ(Batch(), Ids{});
  EXPECT_EQ(source_->passes.load(), 1);
}

TEST_F(Worker, StopEndsAnIdleOrWaitingWorkerPromptlyAndAnEndedOneLeavesTheSourceUsable) {
  for (bool resumed : {false, true}) {
    Start();
    if (resumed) source_->Resume();  // then waiting on input for up to a minute
    auto start = Clock::now();
    worker_.Stop();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << resumed;
    EXPECT_FALSE(worker_.Running());
  }
  Start(60000, false);
  for (auto end = Clock::now() + std::chrono::seconds(10); worker_.Running() && Clock::now() < end;) ::Sleep(10);
  ASSERT_FALSE(worker_.Running());
  LONG handle = source_->Resume();
  EXPECT_FALSE(Signalled(handle, 100)) << "no batch ever comes, but nothing breaks";
  EXPECT_EQ(source_->Reset(), 1);
  EXPECT_EQ(source_.use_count(), 2) << "the worker dropped its share; the object's stays";
  ::SetLastError(ERROR_SUCCESS);  // the C runtime refuses without a system error code
  EXPECT_TRUE(FAILED(worker_.Start(nullptr, source_)));
  EXPECT_FALSE(worker_.Running());
}

}  // namespace
