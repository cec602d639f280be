// Traps per second from the (simulated) trap service through the worker,
// filtering and publication to 1, 8 and 64 watchers that acknowledge from
// their own threads as soon as their data event fires.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "snmp/trap_source.h"
#include "tests/win/snmp/sim_trap_service.h"

using namespace brisel;
using namespace brisel::test;

namespace {

double Run(int watchers, int traps) {
  SimTrapService& sim = SimTrapService::Get();
  const auto& dispatcher = TrapDispatcher::Instance();
  std::vector<std::shared_ptr<TrapWatcher>> list;
  for (int i = 0; i < watchers; ++i) {
    auto w = std::make_shared<TrapWatcher>(std::make_shared<ItemCollection>());
    // Half the watchers take only two communities of three.
    if (i % 2) w->SetFilter(L"COMMUNITY", L"public,private");
    dispatcher->Register(w);
    list.push_back(w);
  }
  StartTrapWorker(dispatcher);
  std::vector<std::thread> threads;
  for (auto& w : list) {
    threads.emplace_back([w, traps] {
      for (int n = 0; n < traps; ++n) {
        if (::WaitForSingleObject(w->DataEvent(), 30000) != WAIT_OBJECT_0) {
          std::printf("watcher timed out after %d traps\n", n);
          std::exit(1);
        }
        w->Acknowledge();
      }
    });
  }
  const char* communities[] = {"public", "private", "other"};
  SimTrap t;
  t.enterprise = {1, 3, 6, 1, 4, 1, 311};
  SimBinding b;
  b.name = {1, 3, 6, 1, 2, 1, 1, 3, 0};
  b.type = ASN_TIMETICKS;
  b.unsigned32 = 100;
  SimBinding s;
  s.name = {1, 3, 6, 1, 2, 1, 1, 5, 0};
  s.type = ASN_OCTETSTRING;
  s.octets = {'r', 'o', 'u', 't', 'e', 'r'};
  t.bindings = {b, s};
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < traps; ++i) {
    t.community = communities[i % 3];
    sim.Queue(t);
  }
  for (auto& th : threads) th.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (auto& w : list) dispatcher->Unregister(w.get());
  return traps / seconds;
}

// The floor under Wine: one event handshake between two threads, the least
// a delivery to one watcher costs.
double PingPong(int rounds) {
  UniqueEvent ping(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  UniqueEvent pong(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  std::thread other([&] {
    for (int i = 0; i < rounds; ++i) {
      ::WaitForSingleObject(ping.Get(), INFINITE);
      ::SetEvent(pong.Get());
    }
  });
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    ::SetEvent(ping.Get());
    ::WaitForSingleObject(pong.Get(), INFINITE);
  }
  other.join();
  return rounds / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int traps = argc > 1 ? std::atoi(argv[1]) : 20000;
  std::printf("event ping-pong: %8.0f round trips/s\n", PingPong(traps));
  for (int watchers : {1, 8, 64}) {
    double rate = Run(watchers, watchers == 64 ? traps / 4 : traps);
    std::printf("%2d watchers: %8.0f traps/s\n", watchers, rate);
  }
  return 0;
}
