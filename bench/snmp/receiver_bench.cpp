// The built-in receiver under a burst: pre-encoded SNMPv2c traps sent over
// loopback as fast as one sending thread can.
//   delivery: the worker's loop (Exec, Wait, GetData, Notify) with one watcher
//             that acknowledges as soon as its data event fires: traps
//             delivered per second and traps lost;
//   ingest:   receive + decode + queue alone, without the handshake, while
//             the burst arrives and from a buffer that holds it already.
// With a port argument it also sends the same burst to that port (a trap
// daemon on the Linux side, measured by run_receiver_bench.sh) and prints
// the Unix time at which the burst started.
#include "snmp/udp_trap_source.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace brisel;
namespace msg = brisel::snmp;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::vector<uint8_t>> Burst(int n) {
  msg::Message m;
  m.version = 1;
  m.community = "public";
  m.kind = msg::PduKind::kTrapV2;
  std::vector<std::vector<uint8_t>> out;
  for (int i = 0; i < n; ++i) {
    m.request_id = i;
    m.bindings.clear();
    msg::VarBind up{{1, 3, 6, 1, 2, 1, 1, 3, 0}, {}};
    up.value.tag = msg::Tag::kTimeTicks;
    up.value.number = static_cast<uint64_t>(i);
    msg::VarBind id{{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}, {}};
    id.value.tag = msg::Tag::kObjectId;
    id.value.oid = {1, 3, 6, 1, 4, 1, 99, 0, 1};
    msg::VarBind text{{1, 3, 6, 1, 4, 1, 99, 1}, {}};
    text.value.tag = msg::Tag::kOctetString;
    text.value.octets = {'b', 'u', 'r', 's', 't'};
    msg::VarBind number{{1, 3, 6, 1, 4, 1, 99, 2}, {}};
    number.value.tag = msg::Tag::kInteger;
    number.value.integer = i;
    m.bindings = {up, id, text, number};
    out.push_back(msg::Encode(m));
  }
  return out;
}

// Sends the burst to 127.0.0.1:port; the seconds it took.
double Send(const std::vector<std::vector<uint8_t>>& burst, uint16_t port) {
  UniqueSocket s(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto start = Clock::now();
  for (const auto& d : burst)
    ::sendto(s.Get(), reinterpret_cast<const char*>(d.data()), static_cast<int>(d.size()), 0,
             reinterpret_cast<sockaddr*>(&to), sizeof(to));
  return std::chrono::duration<double>(Clock::now() - start).count();
}

ReceiverConfig AnyCommunity() {
  ReceiverConfig c;
  c.any_community = true;
  return c;
}

void Delivery(const std::vector<std::vector<uint8_t>>& burst) {
  const int n = static_cast<int>(burst.size());
  UdpTrapSource source(AnyCommunity());
  if (!source.Exec()) {
    std::printf("receiver: Exec failed: %ld\n", static_cast<long>(source.ErrorCode()));
    std::exit(1);
  }
  TrapDispatcher dispatcher;
  auto watcher = std::make_shared<TrapWatcher>(std::make_shared<ItemCollection>());
  dispatcher.Register(watcher);
  std::atomic<int> delivered{0};
  std::atomic<bool> stop{false};
  Clock::time_point last;
  std::thread acknowledger([&] {
    while (!stop) {
      if (::WaitForSingleObject(watcher->DataEvent(), 100) != WAIT_OBJECT_0) continue;
      LONG count = 0;
      watcher->Owner().Count(&count);
      delivered += count;
      last = Clock::now();
      watcher->Acknowledge();
    }
  });
  // The worker's loop, with the source at hand for its counters.
  std::thread worker([&] {
    while (!stop) {
      if (!source.Wait(100)) break;
      while (source.GetData()) {
        if (!source.Pending().empty()) dispatcher.Notify(source);
      }
    }
  });
  auto start = Clock::now();
  double sending = Send(burst, source.LocalPort());
  // Done when all arrived, or nothing came for two seconds.
  int seen = -1;
  auto quiet_since = Clock::now();
  while (delivered < n && Clock::now() - quiet_since < std::chrono::seconds(2)) {
    if (delivered != seen) {
      seen = delivered;
      quiet_since = Clock::now();
    }
    ::Sleep(10);
  }
  stop = true;
  worker.join();
  acknowledger.join();
  double seconds = std::chrono::duration<double>(last - start).count();
  const auto& c = source.Stats();
  std::printf("delivery: %d traps sent in %.3f s (%.0f/s); %d delivered in %.3f s: %.0f traps/s; lost %d "
              "(received %llu, queue full %llu, malformed %llu)\n",
              n, sending, n / sending, delivered.load(), seconds, delivered / seconds, n - delivered.load(),
              static_cast<unsigned long long>(c.datagrams.load()), static_cast<unsigned long long>(c.queue_full.load()),
              static_cast<unsigned long long>(c.malformed.load()));
}

void Ingest(const std::vector<std::vector<uint8_t>>& burst) {
  const uint64_t n = burst.size();
  UdpTrapSource source(AnyCommunity());
  if (!source.Exec()) std::exit(1);
  std::atomic<bool> stop{false};
  Clock::time_point first, last;
  std::thread reader([&] {
    bool started = false;
    while (!stop) {
      if (::WaitForSingleObject(source.WaitHandle(), 100) != WAIT_OBJECT_0) continue;
      ::ResetEvent(source.WaitHandle());
      uint64_t before = source.Stats().datagrams.load();
      source.Drain();
      if (source.Stats().datagrams.load() != before) {
        if (!started) first = Clock::now(), started = true;
        last = Clock::now();
      }
      if (source.Stats().datagrams.load() >= n) break;
    }
  });
  auto start = Clock::now();
  Send(burst, source.LocalPort());
  for (int i = 0; i < 200 && source.Stats().datagrams.load() < n; ++i) ::Sleep(10);
  stop = true;
  reader.join();
  double seconds = std::chrono::duration<double>(last - start).count();
  std::printf("ingest: %llu of %llu queued in %.3f s from the first send: %.0f traps/s (lost %llu)\n",
              static_cast<unsigned long long>(source.Stats().queued.load()), static_cast<unsigned long long>(n), seconds,
              source.Stats().queued.load() / seconds, static_cast<unsigned long long>(n - source.Stats().queued.load()));
}

// Receive + decode + queue alone: the burst waits in the socket's buffer
// first, then one thread reads it all.
void Buffered(const std::vector<std::vector<uint8_t>>& burst) {
  UdpTrapSource source(AnyCommunity());
  if (!source.Exec()) std::exit(1);
  Send(burst, source.LocalPort());
  ::Sleep(200);
  auto start = Clock::now();
  uint64_t before;
  do {
    before = source.Stats().datagrams.load();
    source.Drain();
  } while (source.Stats().datagrams.load() != before);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  uint64_t queued = source.Stats().queued.load();
  std::printf("ingest from the buffer: %llu traps in %.3f s: %.0f traps/s (%llu of %zu did not fit the buffer)\n",
              static_cast<unsigned long long>(queued), seconds, queued / seconds,
              static_cast<unsigned long long>(burst.size() - queued), burst.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int n = 10000;
  std::vector<std::vector<uint8_t>> burst = Burst(n);
  WinsockScope winsock;
  if (argc > 1) {
    // Unix time of the start, for the daemon's log times.
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    ULONGLONG t = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    double sending = Send(burst, static_cast<uint16_t>(std::atoi(argv[1])));
    std::printf("daemon burst start %.6f, %d traps sent in %.3f s\n", (t - 116444736000000000ull) / 1e7, n, sending);
    return 0;
  }
  for (int round = 0; round < 3; ++round) {
    Delivery(burst);
    Ingest(burst);
    Buffered(burst);
  }
  return 0;
}
