// The dispatcher: registration limit, publication to every watcher, the
// rejected rule, and the acknowledgement wait as watchers come and go.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "snmp/snmp_objects.h"
#include "snmp/trap_source.h"
#include "tests/harness/dispatch.h"

using namespace brisel;
using namespace std::chrono_literals;

namespace {

// Holds one trap as if GetData had fetched it; can refuse to make the item
// for chosen watchers, as when an SnmpEvent cannot be created.
class HeldTrapSource final : public TrapSource {
 public:
  bool Exec() override { return true; }
  void Hold(const wchar_t* community, int varbinds = 0) {
    pending_.clear();
    auto r = std::make_unique<TrapRecord>();
    r->Community = community;
    r->Identification = L".1.3.6.1.4.1.9";
    r->Generic = 6;
    r->Specific = 1;
    for (int i = 0; i < varbinds; ++i) {
      auto vb = std::make_unique<VarbindRecord>();
      vb->ObjectIdentifier = L".1.3." + std::to_wstring(i);
      vb->Encoding = L"INTEGER";
      vb->Value = std::to_wstring(i);
      r->Varbinds.push_back(std::move(vb));
    }
    pending_.push_back(std::move(r));
  }
  bool Publish(TrapWatcher& watcher) override {
    if (&watcher == fail_for) {
      watcher.Owner().Clear();
      return true;
    }
    return TrapSource::Publish(watcher);
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

bool Signalled(HANDLE h, DWORD ms = 2000) { return ::WaitForSingleObject(h, ms) == WAIT_OBJECT_0; }

class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override { dispatcher_.SetAckIntervals(20, 20); }
  // Notify runs on its own thread, as the worker runs it.
  std::future<bool> NotifyAsync() {
    return std::async(std::launch::async, [this] { return dispatcher_.Notify(source_); });
  }
  static bool Done(std::future<bool>& f, std::chrono::milliseconds within = 2000ms) {
    return f.wait_for(within) == std::future_status::ready;
  }

  TrapDispatcher dispatcher_;
  HeldTrapSource source_;
};

TEST_F(Dispatcher, AtMost64WatchersButARegisteredOneStaysRegistered) {
  std::vector<Watched> w(65);
  for (int i = 0; i < 64; ++i) ASSERT_TRUE(dispatcher_.Register(w[i].watcher)) << i;
  EXPECT_FALSE(dispatcher_.Register(w[64].watcher));
  EXPECT_TRUE(dispatcher_.Register(w[10].watcher)) << "registering again while full answers as registered";
  EXPECT_EQ(dispatcher_.WatcherCount(), 64u);
  EXPECT_TRUE(dispatcher_.Unregister(w[3].watcher.get()));
  EXPECT_TRUE(dispatcher_.Unregister(w[3].watcher.get())) << "unregistering twice is harmless";
  EXPECT_TRUE(dispatcher_.Register(w[64].watcher));
  EXPECT_FALSE(dispatcher_.IsRegistered(w[3].watcher.get()));
}

TEST_F(Dispatcher, EveryWatcherGetsTheTrapAndARejectedOneIsStillSignalled) {
  Watched a, b;
  ASSERT_TRUE(a.watcher->Valid());
  b.watcher->SetFilter(L"COMMUNITY", L"private");
  dispatcher_.Register(a.watcher);
  dispatcher_.Register(b.watcher);
  source_.Hold(L"public", 2);
  auto done = NotifyAsync();
  ASSERT_TRUE(Signalled(a.watcher->DataEvent()));
  ASSERT_TRUE(Signalled(b.watcher->DataEvent()));
  EXPECT_EQ(a.Count(), 1);
  EXPECT_EQ(b.Count(), 0) << "rejected: empty collection, data event still set";
  EXPECT_FALSE(source_.IsRejected()) << "the flag is cleared for the next watcher";
  a.watcher->Acknowledge();
  b.watcher->Acknowledge();
  ASSERT_TRUE(Done(done));
  EXPECT_TRUE(done.get());
  EXPECT_FALSE(Signalled(a.watcher->DataEvent(), 0)) << "acknowledging resets the data event";
  EXPECT_EQ(a.Count(), 1) << "the trap stays until the next one";
}

TEST_F(Dispatcher, PublishedEventCarriesItsOwnCopies) {
  Watched a;
  dispatcher_.Register(a.watcher);
  source_.Hold(L"public", 3);
  auto done = NotifyAsync();
  ASSERT_TRUE(Signalled(a.watcher->DataEvent()));
  source_.Hold(L"other");  // the source moves on; the event must not care
  Variant item;
  ASSERT_EQ(a.items->Item(1, item.Put()), S_OK);
  ComPtr<ISnmpEvent> event;
  ASSERT_EQ(V_DISPATCH(&item.Get())->QueryInterface(IID_ISnmpEvent, event.PutVoid()), S_OK);
  Bstr community;
  event->get_Community(community.Put());
  EXPECT_EQ(community.View(), L"public");
  ComPtr<IDispatch> list1, list2;
  event->get_SnmpVarbindList(list1.Put());
  event->get_SnmpVarbindList(list2.Put());
  EXPECT_EQ(list1.Get(), list2.Get()) << "always the same list object";
  ComPtr<ISnmpVarbindList> list;
  ASSERT_EQ(list1->QueryInterface(IID_ISnmpVarbindList, list.PutVoid()), S_OK);
  LONG n = 0;
  list->get_Count(&n);
  EXPECT_EQ(n, 3);
  Variant third;
  ASSERT_EQ(list->get_Item(3, third.Put()), S_OK);
  ComPtr<ISnmpVarbind> vb;
  V_DISPATCH(&third.Get())->QueryInterface(IID_ISnmpVarbind, vb.PutVoid());
  Bstr value;
  vb->get_Value(value.Put());
  EXPECT_EQ(value.View(), L"2");
  a.watcher->Acknowledge();
  ASSERT_TRUE(Done(done));
}

TEST_F(Dispatcher, WaitsUntilEveryWatcherHasAcknowledged) {
  Watched w[3];
  for (auto& x : w) dispatcher_.Register(x.watcher);
  source_.Hold(L"public");
  auto done = NotifyAsync();
  for (auto& x : w) ASSERT_TRUE(Signalled(x.watcher->DataEvent()));
  w[0].watcher->Acknowledge();
  w[2].watcher->Acknowledge();
  EXPECT_FALSE(Done(done, 300ms)) << "one watcher still holds the trap";
  w[1].watcher->Acknowledge();
  EXPECT_TRUE(Done(done));
}

TEST_F(Dispatcher, AWatcherThatLeavesWithoutAcknowledgingNoLongerHoldsUpTheOthers) {
  Watched a;
  auto b = std::make_unique<Watched>();
  dispatcher_.Register(a.watcher);
  dispatcher_.Register(b->watcher);
  source_.Hold(L"public");
  auto done = NotifyAsync();
  ASSERT_TRUE(Signalled(b->watcher->DataEvent()));
  a.watcher->Acknowledge();
  EXPECT_FALSE(Done(done, 200ms));
  // The object goes: unregistered and its last reference dropped here.
  std::weak_ptr<TrapWatcher> gone = b->watcher;
  dispatcher_.Unregister(b->watcher.get());
  b.reset();
  EXPECT_TRUE(Done(done));
  EXPECT_TRUE(gone.expired()) << "the dispatcher let go of it after the wait";
}

TEST_F(Dispatcher, AWatcherRegisteredDuringTheWaitIsNotWaitedFor) {
  Watched a, late;
  dispatcher_.Register(a.watcher);
  source_.Hold(L"public");
  auto done = NotifyAsync();
  ASSERT_TRUE(Signalled(a.watcher->DataEvent()));
  dispatcher_.Register(late.watcher);
  a.watcher->Acknowledge();
  EXPECT_TRUE(Done(done)) << "the newcomer never received this trap";
  EXPECT_FALSE(Signalled(late.watcher->DataEvent(), 0));
  EXPECT_EQ(late.Count(), 0);
}

TEST_F(Dispatcher, AWatcherWhoseItemCouldNotBeMadeIsNeitherSignalledNorAwaited) {
  Watched a, failed;
  dispatcher_.Register(a.watcher);
  dispatcher_.Register(failed.watcher);
  source_.fail_for = failed.watcher.get();
  source_.Hold(L"public");
  auto done = NotifyAsync();
  ASSERT_TRUE(Signalled(a.watcher->DataEvent()));
  a.watcher->Acknowledge();
  EXPECT_TRUE(Done(done));
  EXPECT_FALSE(Signalled(failed.watcher->DataEvent(), 0));
}

TEST_F(Dispatcher, WithNoWatcherTheTrapIsDropped) {
  source_.Hold(L"public");
  auto done = NotifyAsync();
  EXPECT_TRUE(Done(done, 500ms));
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
    source_.Hold(i % 3 ? L"public" : L"private", i % 4);
    ASSERT_TRUE(dispatcher_.Notify(source_));
  }
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(dispatcher_.WatcherCount(), 0u);
}

}  // namespace
