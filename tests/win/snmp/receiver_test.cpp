// The built-in trap receiver's settings, queue, senders and socket reading;
// the texts scripts see are left to the end-to-end script.
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

msg::Message Trap(std::string community = "public", int32_t specific = 17, int version = 0) {
  return {.version = version, .community = std::move(community),
          .kind = version ? msg::PduKind::kTrapV2 : msg::PduKind::kTrapV1, .enterprise = {1, 3, 6, 1, 4, 1, 8072},
          .agent_address = {10, 1, 2, 3}, .generic = 6, .specific = specific, .bindings = {}};
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

TEST(Receiver, SettingsAreReadAsWritten) {
  constexpr DWORD kText = ~0u;
  // Port, Address and Communities (null: not written), then what is read:
  // enabled|address|any|communities. Port 0 and no communities: the script.
  const std::tuple<DWORD, const wchar_t*, std::wstring_view, std::string> rows[] = {
      {kText, nullptr, L"public\0"sv, "0|||public,"},  // a port as text is off
      {70000, nullptr, {}, "0|||"},                     // so is one beyond 65535
      // An empty item ends nothing; "*" accepts any; each character's low byte.
      {162, L"::1", L"public\0\0*\0caf\u00e9\0Private\0"sv, "1|::1|*|Private,caf\xE9,public,"},
  };
  auto set = [](const wchar_t* name, DWORD type, const void* data, size_t bytes) {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, ReceiverConfig::kKey, name, type, data, static_cast<DWORD>(bytes));
  };
  for (const auto& [port, address, communities, want] : rows) {
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, ReceiverConfig::kKey);
    if (port == kText) set(L"Port", REG_SZ, L"162", 8);
    else set(L"Port", REG_DWORD, &port, sizeof(DWORD));
    if (address) set(L"Address", REG_SZ, address, (wcslen(address) + 1) * sizeof(wchar_t));
    if (communities.data())  // with the literal's terminator, the empty item that ends the list
      set(L"Communities", REG_MULTI_SZ, communities.data(), (communities.size() + 1) * sizeof(wchar_t));
    ReceiverConfig c = ReceiverConfig::Read();
    std::string got = std::to_string(TrapReceiverEnabled()) + "|" + Narrow(c.address) + "|" +
                      (c.any_community ? "*" : "") + "|";
    for (const std::string& community : c.communities) got += community + ",";
    EXPECT_EQ(got, want);
  }
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, ReceiverConfig::kKey);
}

// Lines of this process's trace file that report a full queue.
size_t QueueFullLines() {
  std::ostringstream text;
  text << std::ifstream(trace::CurrentFile(), std::ios::binary).rdbuf();
  size_t n = 0;
  for (size_t at = 0; (at = text.str().find("queue full", at)) != std::string::npos; ++at) ++n;
  return n;
}

TEST(Receiver, MalformedAreDroppedTheQueueHoldsItsBoundsAndTracesEachTimeItFills) {
  tvDebugSet(2, nullptr, 0);  // tv<pid>.log: this process's own file
  tvDebugLevel = 1;
  const size_t traced = QueueFullLines();
  ReceiverConfig config;
  config.communities = {"public", "ops"};
  UdpTrapSource source(config);
  std::vector<uint8_t> cut = msg::Encode(Trap("ops"));
  cut.pop_back();
  for (const auto& d : {cut, std::vector<uint8_t>{}}) Ingest(source, d);
  EXPECT_EQ(source.QueuedCount(), 0u) << "malformed";
  msg::Message m = Trap("ops");
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
  EXPECT_EQ(QueueFullLines(), traced + 2) << "once each time the queue fills";
  tvDebugLevel = 0;
  std::remove(trace::CurrentFile().c_str());
  // Large traps: the 64 MiB of datagrams are the bound.
  UdpTrapSource large(AnyCommunity());
  m.bindings = {{.name = {1, 3}, .value = {.tag = msg::Tag::kOctetString, .octets = std::vector<uint8_t>(60000, 'x'), .oid = {}}}};
  const std::vector<uint8_t> bytes = msg::Encode(m);
  const size_t fit = (64u << 20) / bytes.size();
  for (size_t i = 0; i < fit + 3; ++i) Ingest(large, bytes);
  EXPECT_EQ(large.QueuedCount(), fit);
  ASSERT_TRUE(large.GetData());
  Ingest(large, bytes);  // the bytes of the one taken are free again
  EXPECT_EQ(large.QueuedCount(), fit);
}

// IPv6 and mapped IPv4 senders; then, while the dispatcher waits for a
// watcher, a burst bigger than any receive buffer is read and queued, not lost.
TEST(Receiver, SendersAndABurstWhileTheDispatcherWaits) {
  ComScope com;
  UdpTrapSource source(AnyCommunity());
  ASSERT_TRUE(source.Exec());
  const std::vector<uint8_t> v2 = msg::Encode(Trap("public", 0, 1));
  sockaddr_in6 from{};
  from.sin6_family = AF_INET6;
  from.sin6_addr = in6addr_loopback;
  Ingest(source, v2, from);
  ASSERT_TRUE(source.GetData());
  EXPECT_EQ(source.Pending().at(0)->TransportAddress, L"::1");
  EXPECT_EQ(source.Pending().at(0)->AgentAddress, L"0.0.0.0") << "no IPv4 agent address in the trap";
  from.sin6_addr = in6_addr{{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 0, 2, 9}}};
  Ingest(source, v2, from);
  ASSERT_TRUE(source.GetData());
  EXPECT_EQ(source.Pending().at(0)->TransportAddress, L"192.0.2.9");
  EXPECT_EQ(source.Pending().at(0)->AgentAddress, L"192.0.2.9");
  TrapDispatcher dispatcher;
  auto watcher = std::make_shared<TrapWatcher>(std::make_shared<ItemCollection>());
  ASSERT_TRUE(dispatcher.Register(watcher));
  auto notified = std::async(std::launch::async, [&] { dispatcher.Notify(source); });
  EXPECT_EQ(::WaitForSingleObject(watcher->DataEvent(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  constexpr int kBurst = 3000;
  UniqueSocket peer(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(source.LocalPort());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < kBurst; ++i) {
    std::vector<uint8_t> bytes = msg::Encode(Trap("public", i));
    ::sendto(peer.Get(), reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
             reinterpret_cast<sockaddr*>(&to), sizeof(to));
  }
  // Until the acknowledgement only the dispatcher's wait reads them.
  for (int i = 0; i < 1000 && source.Stats().queued.load() < kBurst + 2u; ++i) ::Sleep(10);
  watcher->Acknowledge();
  notified.wait();
  EXPECT_EQ(source.QueuedCount(), static_cast<size_t>(kBurst));
  UdpTrapSource local6(AnyCommunity(L"::1")), nowhere(AnyCommunity(L"no.such.host"));
  EXPECT_TRUE(local6.Exec()) << local6.ErrorCode();
  EXPECT_NE(local6.LocalPort(), 0);
  EXPECT_FALSE(nowhere.Exec());
}

TEST(Receiver, TheWaitTakesAsManyAcknowledgementsAsTheDispatcherHolds) {
  UdpTrapSource source(AnyCommunity());
  ASSERT_TRUE(source.Exec());
  std::vector<UniqueEvent> events;
  std::vector<HANDLE> handles;
  for (int i = 0; i < 64; ++i) handles.push_back(events.emplace_back(::CreateEventW(nullptr, TRUE, FALSE, nullptr)).Get());
  for (int i = 0; i < 63; ++i) ::SetEvent(handles[i]);
  EXPECT_EQ(source.WaitAcknowledgements(64, handles.data(), 300), static_cast<DWORD>(WAIT_TIMEOUT));
  ::SetEvent(handles[63]);
  EXPECT_EQ(source.WaitAcknowledgements(64, handles.data(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
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
