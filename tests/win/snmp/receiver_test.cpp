// The built-in trap receiver: its registry settings, which communities it
// accepts, its queue bounds, the records it makes of datagrams, the inform
// response, and the draining while the dispatcher waits.
#include "snmp/udp_trap_source.h"

#include <gtest/gtest.h>

#include <thread>

#include "snmp/snmp_objects.h"
#include "tests/harness/dispatch.h"

using namespace brisel;
using namespace brisel::test;
namespace msg = brisel::snmp;
using namespace std::literals;

namespace {

msg::VarBind Bind(msg::Oid name, msg::Tag tag, uint64_t number = 0, std::vector<uint8_t> octets = {},
                  msg::Oid oid = {}) {
  msg::VarBind b;
  b.name = std::move(name);
  b.value.tag = tag;
  if (tag == msg::Tag::kInteger) b.value.integer = static_cast<int32_t>(number);
  else b.value.number = number;
  b.value.octets = std::move(octets);
  b.value.oid = std::move(oid);
  return b;
}

msg::Message V1Trap(std::string community = "public") {
  msg::Message m;
  m.community = std::move(community);
  m.kind = msg::PduKind::kTrapV1;
  m.enterprise = {1, 3, 6, 1, 4, 1, 8072, 2, 3};
  m.agent_address = {10, 1, 2, 3};
  m.specific = 17;
  m.generic = 6;
  m.time_stamp = 4711;
  m.bindings = {Bind({1, 3, 6, 1, 2, 1, 1, 5, 0}, msg::Tag::kOctetString, 0, {'h', 'o', 's', 't', 0x0A})};
  return m;
}

msg::Message V2(msg::PduKind kind, std::vector<msg::VarBind> extra = {}) {
  msg::Message m;
  m.version = 1;
  m.community = "public";
  m.kind = kind;
  m.request_id = 77;
  m.bindings = {Bind({1, 3, 6, 1, 2, 1, 1, 3, 0}, msg::Tag::kTimeTicks, 99),
                Bind({1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}, msg::Tag::kObjectId, 0, {}, {1, 3, 6, 1, 4, 1, 9, 0, 3})};
  m.bindings.insert(m.bindings.end(), extra.begin(), extra.end());
  return m;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

void Ingest(UdpTrapSource& source, const std::vector<uint8_t>& bytes) {
  sockaddr_in from = Loopback(1234);
  source.Ingest(bytes.data(), bytes.size(), reinterpret_cast<sockaddr*>(&from), sizeof(from));
}

ReceiverConfig AnyCommunity() {
  ReceiverConfig c;
  c.any_community = true;
  return c;
}

TEST(Receiver, SettingsAreReadAsWritten) {
  constexpr DWORD kNoKey = ~0u, kText = ~1u;
  struct Row {
    const char* what;
    DWORD port;
    const wchar_t* address;        // null: not written
    std::wstring_view communities;  // a multi-string's items; none: not written
    bool enabled, any;
    std::vector<std::string> accepted, refused;
  };
  const Row rows[] = {
      {"no key", kNoKey, nullptr, {}, false, false, {}, {"public"}},
      {"port 0 is off", 0, nullptr, L"public\0"sv, false, false, {"public"}, {}},
      {"a port as text is off", kText, nullptr, L"*\0"sv, false, true, {}, {}},
      {"a port beyond 65535 is off", 70000, nullptr, {}, false, false, {}, {}},
      {"no communities: none accepted", 162, L"::1", {}, true, false, {}, {"public", ""}},
      {"listed ones, case counts", 162, L"127.0.0.1", L"public\0\0Private\0"sv, true, false, {"public", "Private"},
       {"PUBLIC", "private", ""}},
      {"star accepts any", 16200, nullptr, L"public\0*\0"sv, true, true, {"x", "", std::string("\0\xE9", 2)}, {}},
      {"octets are the low bytes", 162, nullptr, L"caf\u00e9\0"sv, true, false, {"caf\xE9"}, {"caf\xC3\xA9"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, ReceiverConfig::kKey);
    if (row.port != kNoKey) {
      UniqueRegKey key;
      ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, ReceiverConfig::kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.Put(), nullptr),
                ERROR_SUCCESS);
      auto set = [&](const wchar_t* name, DWORD type, const void* data, size_t bytes) {
        ::RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes));
      };
      if (row.port == kText) set(L"Port", REG_SZ, L"162", 8);
      else set(L"Port", REG_DWORD, &row.port, sizeof(DWORD));
      if (row.address) set(L"Address", REG_SZ, row.address, (wcslen(row.address) + 1) * sizeof(wchar_t));
      if (row.communities.data())  // with the literal's terminator, the empty item that ends the list
        set(L"Communities", REG_MULTI_SZ, row.communities.data(), (row.communities.size() + 1) * sizeof(wchar_t));
    }
    ReceiverConfig config = ReceiverConfig::Read();
    EXPECT_EQ(config.Enabled(), row.enabled);
    EXPECT_EQ(TrapReceiverEnabled(), row.enabled);
    EXPECT_EQ(config.any_community, row.any);
    EXPECT_EQ(config.address, row.address ? row.address : L"");
    for (const auto& s : row.accepted) EXPECT_TRUE(config.Accepts(s)) << s;
    for (const auto& s : row.refused) EXPECT_FALSE(config.Accepts(s)) << s;
  }
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, ReceiverConfig::kKey);
}

TEST(Receiver, RefusedCommunitiesAndBadDatagramsAreCountedAndDropped) {
  ReceiverConfig config;
  config.communities = {"public", "ops"};
  UdpTrapSource source(config);
  for (const char* community : {"public", "private", "ops", "private", "Public", ""})
    Ingest(source, msg::Encode(V1Trap(community)));
  std::vector<uint8_t> good = msg::Encode(V1Trap());
  std::vector<std::vector<uint8_t>> bad = {{}, {0x30}, {0x30, 0x80, 0x00, 0x00}, {0x04, 0x00}, good, good};
  bad[4].pop_back();
  bad[5].push_back(0);
  for (const auto& d : bad) Ingest(source, d);
  EXPECT_EQ(source.Stats().datagrams.load(), 12u);
  EXPECT_EQ(source.Stats().queued.load(), 2u);
  EXPECT_EQ(source.Stats().refused_community.load(), 4u);
  EXPECT_EQ(source.Stats().malformed.load(), 6u);
  std::vector<std::wstring> got;
  while (source.GetData()) got.push_back(source.Pending().at(0)->Community);
  EXPECT_EQ(got, (std::vector<std::wstring>{L"public", L"ops"}));
}

TEST(Receiver, TheQueueHoldsItsBoundsAndDropsTheNewest) {
  UdpTrapSource source(AnyCommunity());
  msg::Message m = V1Trap();
  for (size_t i = 0; i < 16384 + 5; ++i) {
    m.specific = static_cast<int32_t>(i);
    Ingest(source, msg::Encode(m));
  }
  EXPECT_EQ(source.QueuedCount(), 16384u);
  EXPECT_EQ(source.Stats().queue_full.load(), 5u);
  ASSERT_TRUE(source.GetData());
  EXPECT_EQ(source.Pending().at(0)->Specific, 0) << "the oldest comes first";
  Ingest(source, msg::Encode(m));  // room for one again
  EXPECT_EQ(source.QueuedCount(), 16384u);
  EXPECT_EQ(source.Stats().queue_full.load(), 5u);
  // Large traps: the 64 MiB of datagrams are the bound.
  UdpTrapSource large(AnyCommunity());
  m.bindings[0].value.octets.assign(60000, 'x');
  const std::vector<uint8_t> bytes = msg::Encode(m);
  const size_t fit = (64u << 20) / bytes.size();
  for (size_t i = 0; i < fit + 3; ++i) Ingest(large, bytes);
  EXPECT_EQ(large.QueuedCount(), fit);
  EXPECT_EQ(large.Stats().queue_full.load(), 3u);
  ASSERT_TRUE(large.GetData());
  Ingest(large, bytes);  // the bytes of the one taken are free again
  EXPECT_EQ(large.QueuedCount(), fit);
}

class Socket {
 public:
  Socket() : s_(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {
    sockaddr_in any = Loopback(0);
    ::bind(s_.Get(), reinterpret_cast<sockaddr*>(&any), sizeof(any));
    DWORD timeout = 10000;
    ::setsockopt(s_.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  }
  void Send(const msg::Message& m, uint16_t port) {
    std::vector<uint8_t> bytes = msg::Encode(m);
    sockaddr_in to = Loopback(port);
    ASSERT_EQ(::sendto(s_.Get(), reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                       reinterpret_cast<sockaddr*>(&to), sizeof(to)),
              static_cast<int>(bytes.size()));
  }
  std::vector<uint8_t> Receive() {
    std::vector<uint8_t> buffer(65535);
    int n = ::recv(s_.Get(), reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
    buffer.resize(n > 0 ? n : 0);
    return buffer;
  }

 private:
  WinsockScope winsock_;
  UniqueSocket s_;
};

// Every value type of v1 and v2 messages as the trap service's texts show them.
TEST(Receiver, DatagramsFromTheSocketBecomeSnmpEventsWithTheV1Fields) {
  using T = msg::Tag;
  const std::vector<msg::VarBind> all = {
      Bind({1, 3, 1}, T::kInteger, static_cast<uint64_t>(-5)), Bind({1, 3, 2}, T::kGauge32, 4294967295u),
      Bind({1, 3, 3}, T::kCounter32, 7), Bind({1, 3, 4}, T::kCounter64, 1ull << 63),
      Bind({1, 3, 5}, T::kTimeTicks, 360000), Bind({1, 3, 6}, T::kIpAddress, 0, {192, 0, 2, 1}),
      Bind({1, 3, 7}, T::kObjectId, 0, {}, {1, 3, 6, 1, 4294967295u}),
      Bind({1, 3, 8}, T::kOctetString, 0, {'a', 0x00, 0x7F, '~'}), Bind({1, 3, 9}, T::kNull)};
  const wchar_t* all_texts =
      L".1.3.1|INTEGER|-5 .1.3.2|GAUGE32|4294967295 .1.3.3|COUNTER32|7 .1.3.4||9223372036854775808 "
      L".1.3.5|TIMETICKS|360000 .1.3.6|IPADDRESS|192.0.2.1 .1.3.7|OBJECTIDENTIFIER|.1.3.6.1.-1 "
      L".1.3.8|OCTET STRING|a<0><7F>~ .1.3.9|| ";
  struct Row {
    const char* what;
    msg::Message message;
    const wchar_t *identification, *agent;
    LONG generic, specific;
    DWORD time_stamp;
    const wchar_t* bindings;  // "oid|encoding|value " each
  };
  std::vector<Row> rows = {
      {"v1 trap as sent", V1Trap(), L".1.3.6.1.4.1.8072.2.3", L"10.1.2.3", 6, 17, 4711,
       L".1.3.6.1.2.1.1.5.0|OCTET STRING|host<A> "},
      {"v2 trap, enterprise-specific", V2(msg::PduKind::kTrapV2, all), L".1.3.6.1.4.1.9", L"127.0.0.1", 6, 3, 99,
       all_texts},
      {"inform with snmpTrapAddress",
       V2(msg::PduKind::kInform, {Bind({1, 3, 6, 1, 6, 3, 18, 1, 3, 0}, T::kIpAddress, 0, {192, 0, 2, 7})}),
       L".1.3.6.1.4.1.9", L"192.0.2.7", 6, 3, 99, L".1.3.6.1.6.3.18.1.3.0|IPADDRESS|192.0.2.7 "},
      {"v2 linkDown", V2(msg::PduKind::kTrapV2), L".1.3.6.1.6.3.1.1.5", L"127.0.0.1", 2, 0, 99, L""}};
  rows[3].message.bindings[1].value.oid = {1, 3, 6, 1, 6, 3, 1, 1, 5, 3};
  ComScope com;
  UdpTrapSource source(AnyCommunity());  // port 0: one the system picks
  ASSERT_TRUE(source.Exec()) << source.ErrorCode();
  Socket peer;
  auto items = std::make_shared<ItemCollection>();
  TrapWatcher watcher(items);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    peer.Send(row.message, source.LocalPort());
    ASSERT_TRUE(source.Wait(10000));
    ASSERT_TRUE(source.GetData());
    if (row.message.kind == msg::PduKind::kInform) {
      EXPECT_EQ(peer.Receive(), msg::EncodeResponse(row.message)) << "the inform is answered";
    }
    source.Publish(watcher);
    Variant item;
    ASSERT_EQ(items->Item(1, item.Put()), S_OK);
    Dispatch event = Dispatch::From(item);
    EXPECT_EQ(event.Text(L"Identification"), row.identification);
    EXPECT_EQ(event.Text(L"AgentAddress"), row.agent);
    EXPECT_EQ(event.Text(L"TransportAddress"), L"127.0.0.1");
    EXPECT_EQ(event.Text(L"Community"), L"public");
    EXPECT_EQ(event.Long(L"Generic"), row.generic);
    EXPECT_EQ(event.Long(L"Specific"), row.specific);
    EXPECT_EQ(static_cast<DWORD>(event.Long(L"TimeStamp")), row.time_stamp);
    Dispatch list = event.Object(L"SnmpVarbindList");
    EXPECT_EQ(event.Object(L"SnmpVarbindList").Get(), list.Get()) << "always the same list object";
    std::vector<Dispatch> bindings;
    ASSERT_EQ(list.Enumerate(&bindings), S_OK);
    std::wstring texts;
    for (const Dispatch& vb : bindings)
      texts += vb.Text(L"ObjectIdentifier") + L"|" + vb.Text(L"Encoding") + L"|" + vb.Text(L"Value") + L" ";
    EXPECT_EQ(texts, row.bindings);
    EXPECT_EQ(list.Get(L"Item", {0L}).hr, E_INVALIDARG);
    EXPECT_EQ(list.Get(L"Item", {static_cast<long>(bindings.size() + 1)}).hr, E_FAIL);
    EXPECT_FALSE(source.GetData()) << "one datagram, one trap";
  }
}

TEST(Receiver, Ipv6AddressesAndSenders) {
  ReceiverConfig config = AnyCommunity();
  config.address = L"::1";
  UdpTrapSource source(config);
  ASSERT_TRUE(source.Exec()) << source.ErrorCode();
  WinsockScope winsock;
  UniqueSocket peer(::socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in6 to{};
  to.sin6_family = AF_INET6;
  to.sin6_port = htons(source.LocalPort());
  to.sin6_addr = in6addr_loopback;
  std::vector<uint8_t> bytes = msg::Encode(V2(msg::PduKind::kTrapV2));
  ASSERT_EQ(::sendto(peer.Get(), reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                     reinterpret_cast<sockaddr*>(&to), sizeof(to)),
            static_cast<int>(bytes.size()));
  ASSERT_TRUE(source.Wait(10000));
  ASSERT_TRUE(source.GetData());
  EXPECT_EQ(source.Pending().at(0)->TransportAddress, L"::1");
  EXPECT_EQ(source.Pending().at(0)->AgentAddress, L"0.0.0.0") << "no IPv4 agent address in the trap";
  // An IPv4 sender on a dual-stack socket arrives as a mapped address.
  to.sin6_addr = in6_addr{{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 0, 2, 9}}};
  source.Ingest(bytes.data(), bytes.size(), reinterpret_cast<sockaddr*>(&to), sizeof(to));
  ASSERT_TRUE(source.GetData());
  EXPECT_EQ(source.Pending().at(0)->TransportAddress, L"192.0.2.9");
  EXPECT_EQ(source.Pending().at(0)->AgentAddress, L"192.0.2.9");
  config.address = L"no.such.host";
  UdpTrapSource nowhere(config);
  EXPECT_FALSE(nowhere.Exec());
  EXPECT_EQ(nowhere.ErrorCode(), WSAEINVAL);
  EXPECT_FALSE(nowhere.Wait(0)) << "no socket to wait on";
}

// While the dispatcher waits for a watcher, the socket is still read: a
// burst bigger than any receive buffer is queued, not lost.
TEST(Receiver, TheSocketIsDrainedWhileTheDispatcherWaits) {
  ComScope com;
  UdpTrapSource source(AnyCommunity());
  ASSERT_TRUE(source.Exec());
  Socket peer;
  TrapDispatcher dispatcher;
  auto watcher = std::make_shared<TrapWatcher>(std::make_shared<ItemCollection>());
  ASSERT_TRUE(dispatcher.Register(watcher));
  peer.Send(V1Trap(), source.LocalPort());
  ASSERT_TRUE(source.Wait(10000));
  ASSERT_TRUE(source.GetData());
  constexpr int kBurst = 3000;
  std::thread sender([&] {
    ASSERT_EQ(::WaitForSingleObject(watcher->DataEvent(), 10000), WAIT_OBJECT_0);
    msg::Message m = V1Trap();
    for (int i = 0; i < kBurst; ++i) {
      m.specific = i;
      peer.Send(m, source.LocalPort());
    }
    // Until the acknowledgement only the dispatcher's wait reads them.
    for (int i = 0; i < 1000 && source.Stats().queued.load() < kBurst + 1u; ++i) ::Sleep(10);
    watcher->Acknowledge();
  });
  dispatcher.Notify(source);
  sender.join();
  EXPECT_EQ(source.Stats().queued.load(), kBurst + 1u);
  EXPECT_EQ(source.QueuedCount(), static_cast<size_t>(kBurst));
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

}  // namespace
