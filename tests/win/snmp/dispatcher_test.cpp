// The dispatcher: publication to every watcher, the rejected rule, and the
// acknowledgement wait as watchers come and go.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "snmp/snmp_objects.h"
#include "snmp/trap_source.h"
#include "tests/harness/dispatch.h"

using namespace brisel;
using brisel::test::Dispatch;
using namespace std::chrono_literals;

namespace {

// Holds one trap as if GetData had fetched it; can refuse to make the item
// for a chosen watcher, as when an SnmpEvent cannot be created.
class HeldTrapSource final : public TrapSource {
 public:
  bool Exec() override { return true; }
  void Hold(const wchar_t* community) {
    pending_.clear();
    pending_.push_back(std::make_unique<TrapRecord>());
    pending_.back()->Community = community;
  }
  bool Publish(TrapWatcher& watcher) override {
    if (&watcher != fail_for) return TrapSource::Publish(watcher);
    watcher.Owner().Clear();
    return true;
  }
  TrapWatcher* fail_for = nullptr;
};

struct Watched {
  std::shared_ptr<ItemCollection> items = std::make_shared<ItemCollection>();
  std::shared_ptr<TrapWatcher> watcher = std::make_shared<TrapWatcher>(items);
  LONG Count() const {
    LONG n = -1;
    items->Count(&n);
    return n;
  }
};

bool Signalled(HANDLE h, DWORD ms = 10000) { return ::WaitForSingleObject(h, ms) == WAIT_OBJECT_0; }

class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override { dispatcher_.SetAckIntervals(20, 20); }
  // Notify runs on its own thread, as the worker runs it.
  std::future<bool> NotifyAsync() {
    return std::async(std::launch::async, [this] { return dispatcher_.Notify(source_); });
  }
  static bool Done(std::future<bool>& f, std::chrono::milliseconds within = 10s) {
    return f.wait_for(within) == std::future_status::ready;
  }

  TrapDispatcher dispatcher_;
  HeldTrapSource source_;
};

TEST_F(Dispatcher, EveryWatcherGetsItsOwnCopyAndARejectedOneIsStillSignalled) {
  Watched a, b;
  b.watcher->SetFilter(L"COMMUNITY", L"private");
  dispatcher_.Register(a.watcher);
  dispatcher_.Register(b.watcher);
  source_.Hold(L"public");
  auto done = NotifyAsync();
  ASSERT_TRUE(Signalled(a.watcher->DataEvent()));
  ASSERT_TRUE(Signalled(b.watcher->DataEvent()));
  source_.Hold(L"other");  // the source moves on; the event must not care
  EXPECT_EQ(b.Count(), 0) << "rejected: empty collection, data event still set";
  EXPECT_FALSE(source_.IsRejected()) << "the flag is cleared for the next watcher";
  ASSERT_EQ(a.Count(), 1);
  Variant item;
  ASSERT_EQ(a.items->Item(1, item.Put()), S_OK);
  EXPECT_EQ(Dispatch::From(item).Text(L"Community"), L"public");
  a.watcher->Acknowledge();
  b.watcher->Acknowledge();
  ASSERT_TRUE(Done(done));
  EXPECT_TRUE(done.get());
  EXPECT_FALSE(Signalled(a.watcher->DataEvent(), 0)) << "acknowledging resets the data event";
  EXPECT_EQ(a.Count(), 1) << "the trap stays until the next one";
}

TEST_F(Dispatcher, WaitsForEveryWatcherThatReceivedTheTrapAndStaysRegistered) {
  source_.Hold(L"public");
  auto alone = NotifyAsync();
  EXPECT_TRUE(Done(alone)) << "with no watcher the trap is dropped";
  Watched a, b, failed, late;
  auto leaves = std::make_unique<Watched>();
  for (Watched* w : {&a, &b, leaves.get(), &failed}) dispatcher_.Register(w->watcher);
  source_.fail_for = failed.watcher.get();
  auto done = NotifyAsync();
  for (Watched* w : {&a, &b, leaves.get()}) ASSERT_TRUE(Signalled(w->watcher->DataEvent()));
  dispatcher_.Register(late.watcher);
  a.watcher->Acknowledge();
  b.watcher->Acknowledge();
  EXPECT_FALSE(Done(done, 300ms)) << "one watcher still holds the trap";
  // It goes without acknowledging: unregistered and its last reference dropped.
  std::weak_ptr<TrapWatcher> gone = leaves->watcher;
  dispatcher_.Unregister(leaves->watcher.get());
  leaves.reset();
  EXPECT_TRUE(Done(done)) << "neither the newcomer nor the one whose item failed is waited for";
  EXPECT_TRUE(gone.expired()) << "the dispatcher let go of it after the wait";
  EXPECT_FALSE(Signalled(failed.watcher->DataEvent(), 0));
  EXPECT_FALSE(Signalled(late.watcher->DataEvent(), 0));
  EXPECT_EQ(late.Count(), 0);
  EXPECT_TRUE(dispatcher_.IsRegistered(a.watcher.get()));
  EXPECT_EQ(dispatcher_.WatcherCount(), 4u);
}

TEST_F(Dispatcher, WatchersComingAndGoingWhilePublishingNeverCrash) {
  std::atomic<bool> stop{false};
  auto churn = [&] {
    while (!stop) {
      Watched w;
      w.watcher->SetFilter(L"COMMUNITY", L"public");
      dispatcher_.Register(w.watcher);
      if (Signalled(w.watcher->DataEvent(), 5)) {
        LONG n = w.Count();
        EXPECT_TRUE(n == 0 || n == 1);
        w.watcher->Acknowledge();
      }
      if (::GetTickCount() % 2) dispatcher_.Unregister(w.watcher.get());
      w.watcher->SetFilter(L"COMMUNITY", L"private");
      // Leaves: unregistered (again) as the object's destruction does.
      dispatcher_.Unregister(w.watcher.get());
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 6; ++i) threads.emplace_back(churn);
  for (int i = 0; i < 300; ++i) {
    source_.Hold(i % 3 ? L"public" : L"private");
    ASSERT_TRUE(dispatcher_.Notify(source_));
  }
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(dispatcher_.WatcherCount(), 0u);
}

}  // namespace
