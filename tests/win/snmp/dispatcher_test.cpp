// The dispatcher's acknowledgement wait as watchers come and go.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "snmp/snmp_objects.h"
#include "snmp/trap_source.h"

using namespace brisel;
using namespace std::chrono_literals;

namespace {

// Holds one trap as if GetData had fetched it; cannot make the item for one
// chosen watcher, as when an SnmpEvent cannot be created.
class HeldTrapSource final : public TrapSource {
 public:
  HeldTrapSource() {
    pending_.push_back(std::make_unique<TrapRecord>());
    pending_.back()->Community = L"public";
  }
  bool Exec() override { return true; }
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
  bool Signalled(DWORD ms = 0) const { return ::WaitForSingleObject(watcher->DataEvent(), ms) == WAIT_OBJECT_0; }
  LONG Count() const {
    LONG n = -1;
    items->Count(&n);
    return n;
  }
};

TEST(Dispatcher, WaitsForEveryWatcherShownTheTrapWhileItStaysRegistered) {
  TrapDispatcher dispatcher;
  dispatcher.SetAckIntervals(20, 20);
  HeldTrapSource source;
  // Notify runs on its own thread, as the worker runs it.
  auto notify = [&] { return std::async(std::launch::async, [&] { return dispatcher.Notify(source); }); };
  EXPECT_EQ(notify().wait_for(10s), std::future_status::ready) << "with no watcher the trap is dropped";
  Watched a, rejecting, failed, late;
  auto leaves = std::make_unique<Watched>();
  rejecting.watcher->SetFilter(L"COMMUNITY", L"private");
  for (Watched* w : {&rejecting, &a, leaves.get(), &failed}) dispatcher.Register(w->watcher);
  source.fail_for = failed.watcher.get();
  auto done = notify();
  for (Watched* w : {&a, &rejecting, leaves.get()}) ASSERT_TRUE(w->Signalled(10000));
  dispatcher.Register(late.watcher);
  EXPECT_EQ(a.Count(), 1);
  EXPECT_EQ(rejecting.Count(), 0) << "rejected: signalled with an empty collection";
  a.watcher->Acknowledge();
  rejecting.watcher->Acknowledge();
  EXPECT_EQ(done.wait_for(300ms), std::future_status::timeout) << "one watcher still holds the trap";
  // It goes without acknowledging: unregistered and its last reference dropped.
  std::weak_ptr<TrapWatcher> gone = leaves->watcher;
  dispatcher.Unregister(leaves->watcher.get());
  leaves.reset();
  ASSERT_EQ(done.wait_for(10s), std::future_status::ready) << "the newcomer and the one without an item are not waited for";
  EXPECT_TRUE(gone.expired()) << "the dispatcher let go of it after the wait";
  EXPECT_FALSE(a.Signalled()) << "acknowledging resets the data event";
  EXPECT_FALSE(failed.Signalled());
  EXPECT_FALSE(late.Signalled());
  EXPECT_EQ(late.Count(), 0);
  EXPECT_EQ(a.Count(), 1) << "the trap stays until the next one";
  EXPECT_EQ(dispatcher.WatcherCount(), 4u);
}

}  // namespace
