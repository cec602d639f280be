// The built-in trap receiver; the texts scripts see are the end-to-end script's.
#include "snmp/udp_trap_source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <sstream>

#include "snmp/snmp_objects.h"
#include "tests/harness/dispatch.h"
#include "trace/trace.h"

using namespace brisel;
using namespace brisel::test;
namespace msg = brisel::snmp;
using namespace std::literals;

namespace {

msg::Message Trap(int version = 0) {
  return {.version = version, .community = "public", .kind = version ? msg::PduKind::kTrapV2 : msg::PduKind::kTrapV1,
          .enterprise = {1, 3, 6, 1, 4, 1, 8072}, .agent_address = {10, 1, 2, 3}, .generic = 6, .specific = 17,
          .bindings = {}};
}

template <class Address = sockaddr_in>
void Ingest(UdpTrapSource& source, const std::vector<uint8_t>& bytes, Address from = {}) {
  source.Ingest(bytes.data(), bytes.size(), reinterpret_cast<sockaddr*>(&from), sizeof(from));
}

ReceiverConfig AnyCommunity(const wchar_t* address = L"") {
  ReceiverConfig c;
  c.any_community = true;
  c.address = address;
  return c;
}

// The plain settings are the end-to-end script's.
TEST(Receiver, CommunitiesAreTheItemsOfTheList) {
  ReceiverConfig c;
  constexpr std::wstring_view block = L"public\0\0*\0caf\u00e9\0"sv;  // an empty item ends nothing
  ParseCommunities(block.data(), block.size(), &c);
  EXPECT_TRUE(c.any_community);
  EXPECT_EQ(c.communities, (std::set<std::string>{"caf\xE9", "public"})) << "the low byte of each character";
}

TEST(Receiver, MalformedAreDroppedTheQueueHoldsItsBoundAndTracesEachTimeItFills) {
  tvDebugSet(2, nullptr, 0);  // tv<pid>.log: this process's own file, from empty
  std::remove(trace::CurrentFile().c_str());
  tvDebugLevel = 1;
  UdpTrapSource source(AnyCommunity());
  std::vector<uint8_t> cut = msg::Encode(Trap());
  cut.pop_back();
  for (const auto& d : {cut, std::vector<uint8_t>{}}) Ingest(source, d);
  EXPECT_EQ(source.QueuedCount(), 0u) << "malformed";
  msg::Message m = Trap();
  for (size_t i = 0; i < UdpTrapSource::kQueueBound + 5; ++i) {
    m.specific = static_cast<int32_t>(i);
    Ingest(source, msg::Encode(m));
  }
  EXPECT_EQ(source.QueuedCount(), 16384u);
  ASSERT_TRUE(source.GetData());
  EXPECT_EQ(source.Pending().at(0)->Specific, 0) << "the oldest comes first";
  Ingest(source, msg::Encode(m));  // room for one again
  Ingest(source, msg::Encode(m));
  EXPECT_EQ(source.QueuedCount(), 16384u);
  tvDebugLevel = 0;
  std::ostringstream text;
  text << std::ifstream(trace::CurrentFile(), std::ios::binary).rdbuf();
  size_t full = 0;
  for (size_t at = 0; (at = text.str().find("queue full", at)) != std::string::npos; ++at) ++full;
  EXPECT_EQ(full, 2u) << "traced once each time the queue fills";
  std::remove(trace::CurrentFile().c_str());
}

// IPv6 and mapped IPv4 senders. Then 64 watchers (the most) hold a trap: the wait takes every
// acknowledgement and meanwhile reads the socket, so a burst bigger than any receive buffer is kept.
TEST(Receiver, SendersAndTheWaitForEveryAcknowledgementThatDrainsTheSocket) {
  ComScope com;
  UdpTrapSource source(AnyCommunity());
  ASSERT_TRUE(source.Exec());
  sockaddr_in6 from{};
  from.sin6_family = AF_INET6;
  for (auto [address, want] : {std::pair{in6addr_loopback, L"::1 0.0.0.0"},  // no IPv4 agent address in a v2 trap
                               {in6_addr{{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 0, 2, 9}}}, L"192.0.2.9 192.0.2.9"}}) {
    from.sin6_addr = address;
    Ingest(source, msg::Encode(Trap(1)), from);
    ASSERT_TRUE(source.GetData());
    EXPECT_EQ(source.Pending().at(0)->TransportAddress + L" " + source.Pending().at(0)->AgentAddress, want);
  }
  TrapDispatcher dispatcher;
  auto watcher = [] { return std::make_shared<TrapWatcher>(std::make_shared<ItemCollection>()); };
  std::vector<std::shared_ptr<TrapWatcher>> watchers(64);
  for (auto& w : watchers) ASSERT_TRUE(dispatcher.Register(w = watcher()));
  EXPECT_FALSE(dispatcher.Register(watcher())) << "a 65th";
  EXPECT_TRUE(dispatcher.Register(watchers[5])) << "one registered stays so";
  auto notified = std::async(std::launch::async, [&] { dispatcher.Notify(source); });
  EXPECT_EQ(::WaitForSingleObject(watchers[63]->DataEvent(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  constexpr int kBurst = 3000;
  const std::vector<uint8_t> bytes = msg::Encode(Trap());
  UniqueSocket peer(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(source.LocalPort());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < kBurst; ++i)
    ::sendto(peer.Get(), reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
             reinterpret_cast<sockaddr*>(&to), sizeof(to));
  for (int i = 0; i < 3000 && source.Stats().queued.load() < kBurst + 2u; ++i) ::Sleep(10);  // up to 30 s
  for (int i = 0; i < 63; ++i) watchers[i]->Acknowledge();
  EXPECT_EQ(notified.wait_for(300ms), std::future_status::timeout) << "63 of 64 acknowledgements";
  watchers[63]->Acknowledge();
  EXPECT_EQ(notified.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(source.QueuedCount(), static_cast<size_t>(kBurst));
  UdpTrapSource local6(AnyCommunity(L"::1"));
  EXPECT_TRUE(local6.Exec()) << local6.ErrorCode();
  EXPECT_NE(local6.LocalPort(), 0);
}

// Without the receiver the platform's trap service is used; Wine's fails to
// listen with "not implemented", where a missing function would give 127.
TEST(Receiver, ThePlatformTrapServiceIsLoadedAndItsListenErrorKept) {
  SnmpMgrTrapSource platform;
  EXPECT_FALSE(platform.Exec());
  EXPECT_EQ(platform.ErrorCode(), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_EQ(platform.ErrorMessage(), L"120\n");
}

}  // namespace
