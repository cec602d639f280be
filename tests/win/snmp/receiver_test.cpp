// The built-in trap receiver: its registry settings, which communities it
// accepts, its queue bound, the records it makes of datagrams, the inform
// response, the draining while the dispatcher waits, and a datagram reaching
// a script's SnmpEvents through the process's worker.
#include "snmp/udp_trap_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "snmp/snmp_objects.h"
#include "tests/harness/dispatch.h"

using namespace brisel;
using namespace brisel::test;
namespace msg = brisel::snmp;

namespace {

const msg::Oid kSysUpTime{1, 3, 6, 1, 2, 1, 1, 3, 0};
const msg::Oid kTrapOid{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const msg::Oid kTrapAddress{1, 3, 6, 1, 6, 3, 18, 1, 3, 0};

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
  m.version = 0;
  m.community = std::move(community);
  m.kind = msg::PduKind::kTrapV1;
  m.enterprise = {1, 3, 6, 1, 4, 1, 8072, 2, 3};
  m.agent_address = {10, 1, 2, 3};
  m.generic = 6;
  m.specific = 17;
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
  m.bindings = {Bind(kSysUpTime, msg::Tag::kTimeTicks, 99),
                Bind(kTrapOid, msg::Tag::kObjectId, 0, {}, {1, 3, 6, 1, 4, 1, 9, 0, 3})};
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

void IngestMessage(UdpTrapSource& source, const msg::Message& m, uint16_t from_port = 1234) {
  std::vector<uint8_t> bytes = msg::Encode(m);
  sockaddr_in from = Loopback(from_port);
  source.Ingest(bytes.data(), bytes.size(), reinterpret_cast<sockaddr*>(&from), sizeof(from));
}

ReceiverConfig AnyCommunity() {
  ReceiverConfig c;
  c.any_community = true;
  return c;
}

// ---- settings ----

struct RegistryCase {
  const char* what;
  bool write_port;
  DWORD port_type;
  DWORD port;
  const wchar_t* address;  // null: not written
  std::vector<std::wstring> communities;
  bool write_communities;
  bool enabled;
  bool any;
  std::vector<std::string> accepted;
  std::vector<std::string> refused;
};

class ReceiverKey : public ::testing::Test {
 protected:
  void SetUp() override { Remove(); }
  void TearDown() override { Remove(); }
  static void Remove() { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, ReceiverConfig::kKey); }
};

TEST_F(ReceiverKey, SettingsAreReadAsWritten) {
  const std::vector<RegistryCase> cases = {
      {"no key", false, 0, 0, nullptr, {}, false, false, false, {}, {"public"}},
      {"port 0 is off", true, REG_DWORD, 0, nullptr, {L"public"}, true, false, false, {"public"}, {}},
      {"a port as text is off", true, REG_SZ, 0, nullptr, {L"*"}, true, false, true, {}, {}},
      {"a port beyond 65535 is off", true, REG_DWORD, 70000, nullptr, {}, false, false, false, {}, {}},
      {"no communities: none accepted", true, REG_DWORD, 162, L"::1", {}, false, true, false, {}, {"public", ""}},
      {"listed ones, case counts", true, REG_DWORD, 162, L"127.0.0.1", {L"public", L"", L"Private"}, true, true,
       false, {"public", "Private"}, {"PUBLIC", "private", ""}},
      {"star accepts any", true, REG_DWORD, 16200, nullptr, {L"public", L"*"}, true, true, true,
       {"x", "", std::string("\0\xE9", 2)}, {}},
      {"octets are the low bytes", true, REG_DWORD, 162, nullptr, {L"caf\u00e9"}, true, true, false,
       {"caf\xE9"}, {"caf\xC3\xA9"}},
  };
  for (const RegistryCase& c : cases) {
    SCOPED_TRACE(c.what);
    Remove();
    if (c.write_port) {
      UniqueRegKey key;
      ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, ReceiverConfig::kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.Put(), nullptr),
                ERROR_SUCCESS);
      if (c.port_type == REG_DWORD)
        ::RegSetValueExW(key.Get(), L"Port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&c.port), sizeof(DWORD));
      else
        ::RegSetValueExW(key.Get(), L"Port", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"162"), 8);
      if (c.address)
        ::RegSetValueExW(key.Get(), L"Address", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.address),
                         static_cast<DWORD>((wcslen(c.address) + 1) * sizeof(wchar_t)));
      if (c.write_communities) {
        std::wstring block;
        for (const auto& item : c.communities) block += item + L'\0';
        block += L'\0';
        ::RegSetValueExW(key.Get(), L"Communities", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(block.data()),
                         static_cast<DWORD>(block.size() * sizeof(wchar_t)));
      }
    }
    ReceiverConfig config = ReceiverConfig::Read();
    EXPECT_EQ(config.Enabled(), c.enabled);
    EXPECT_EQ(TrapReceiverEnabled(), c.enabled);
    EXPECT_EQ(config.any_community, c.any);
    EXPECT_EQ(config.address, c.address && c.write_port ? c.address : L"");
    for (const auto& s : c.accepted) EXPECT_TRUE(config.Accepts(s)) << s;
    for (const auto& s : c.refused) EXPECT_FALSE(config.Accepts(s)) << s;
  }
}

// ---- datagrams to records ----

TEST(Receiver, CommunitiesNotAcceptedAreDroppedAndCounted) {
  ReceiverConfig config;
  config.communities = {"public", "ops"};
  UdpTrapSource source(config);
  for (const char* community : {"public", "private", "ops", "private", "Public", ""}) IngestMessage(source, V1Trap(community));
  EXPECT_EQ(source.Stats().datagrams.load(), 6u);
  EXPECT_EQ(source.Stats().queued.load(), 2u);
  EXPECT_EQ(source.Stats().refused_community.load(), 4u);
  std::vector<std::wstring> got;
  while (source.GetData()) got.push_back(source.Pending().at(0)->Community);
  EXPECT_EQ(got, (std::vector<std::wstring>{L"public", L"ops"}));
}

TEST(Receiver, TheQueueHoldsItsBoundAndDropsTheNewest) {
  static_assert(UdpTrapSource::kQueueBound >= 10000);
  UdpTrapSource source(AnyCommunity());
  msg::Message m = V1Trap();
  for (size_t i = 0; i < UdpTrapSource::kQueueBound + 5; ++i) {
    m.specific = static_cast<int32_t>(i);
    IngestMessage(source, m);
  }
  EXPECT_EQ(source.QueuedCount(), UdpTrapSource::kQueueBound);
  EXPECT_EQ(source.Stats().queue_full.load(), 5u);
  ASSERT_TRUE(source.GetData());
  EXPECT_EQ(source.Pending().at(0)->Specific, 0) << "the oldest comes first";
  m.specific = -1;
  IngestMessage(source, m);  // room for one again
  EXPECT_EQ(source.QueuedCount(), UdpTrapSource::kQueueBound);
  EXPECT_EQ(source.Stats().queue_full.load(), 5u);
}

TEST(Receiver, LargeTrapsAreBoundedByTheirBytes) {
  UdpTrapSource source(AnyCommunity());
  msg::Message m = V1Trap();
  m.bindings[0].value.octets.assign(60000, 'x');
  const size_t size = msg::Encode(m).size();
  const size_t fit = UdpTrapSource::kQueueByteBound / size;
  for (size_t i = 0; i < fit + 3; ++i) IngestMessage(source, m);
  EXPECT_EQ(source.QueuedCount(), fit);
  EXPECT_EQ(source.Stats().queue_full.load(), 3u);
  ASSERT_TRUE(source.GetData());
  IngestMessage(source, m);  // the bytes of the one taken are free again
  EXPECT_EQ(source.QueuedCount(), fit);
  EXPECT_EQ(source.Stats().queue_full.load(), 3u);
}

TEST(Receiver, BadDatagramsAreCountedAndLeaveTheQueueAlone) {
  UdpTrapSource source(AnyCommunity());
  std::vector<uint8_t> good = msg::Encode(V1Trap());
  std::vector<std::vector<uint8_t>> bad = {{}, {0x30}, {0x30, 0x80, 0x00, 0x00}, {0x04, 0x00}};
  bad.emplace_back(good.begin(), good.end() - 1);
  bad.push_back(good);
  bad.back().push_back(0);
  sockaddr_in from = Loopback(1);
  for (const auto& d : bad) source.Ingest(d.data(), d.size(), reinterpret_cast<sockaddr*>(&from), sizeof(from));
  EXPECT_EQ(source.Stats().malformed.load(), bad.size());
  EXPECT_EQ(source.QueuedCount(), 0u);
}

struct MappingCase {
  const char* what;
  msg::Message message;
  const wchar_t* identification;
  const wchar_t* agent;
  LONG generic, specific;
  DWORD time_stamp;
  std::vector<std::array<std::wstring, 3>> varbinds;
};

// Every value type the bindings carry, as the trap service's texts show them.
std::vector<msg::VarBind> AllTypes() {
  return {Bind({1, 3, 1}, msg::Tag::kInteger, static_cast<uint64_t>(-5)),
          Bind({1, 3, 2}, msg::Tag::kGauge32, 4294967295u),
          Bind({1, 3, 3}, msg::Tag::kCounter32, 7),
          Bind({1, 3, 4}, msg::Tag::kCounter64, 1ull << 63),
          Bind({1, 3, 5}, msg::Tag::kTimeTicks, 360000),
          Bind({1, 3, 6}, msg::Tag::kIpAddress, 0, {192, 0, 2, 1}),
          Bind({1, 3, 7}, msg::Tag::kObjectId, 0, {}, {1, 3, 6, 1, 4294967295u}),
          Bind({1, 3, 8}, msg::Tag::kOctetString, 0, {'a', 0x00, 0x7F, '~'}),
          Bind({1, 3, 9}, msg::Tag::kNull)};
}
const std::vector<std::array<std::wstring, 3>> kAllTypeTexts = {
    {L".1.3.1", L"INTEGER", L"-5"},
    {L".1.3.2", L"GAUGE32", L"4294967295"},
    {L".1.3.3", L"COUNTER32", L"7"},
    {L".1.3.4", L"", L"9223372036854775808"},
    {L".1.3.5", L"TIMETICKS", L"360000"},
    {L".1.3.6", L"IPADDRESS", L"192.0.2.1"},
    {L".1.3.7", L"OBJECTIDENTIFIER", L".1.3.6.1.-1"},
    {L".1.3.8", L"OCTET STRING", L"a<0><7F>~"},
    {L".1.3.9", L"", L""}};

std::vector<MappingCase> MappingCases() {
  MappingCase v1{"v1 trap as sent", V1Trap(), L".1.3.6.1.4.1.8072.2.3", L"10.1.2.3", 6, 17, 4711,
                 {{L".1.3.6.1.2.1.1.5.0", L"OCTET STRING", L"host<A>"}}};
  MappingCase v2{"v2 trap, enterprise-specific", V2(msg::PduKind::kTrapV2, AllTypes()), L".1.3.6.1.4.1.9",
                 L"127.0.0.1", 6, 3, 99, kAllTypeTexts};
  MappingCase inform{"inform with snmpTrapAddress",
                     V2(msg::PduKind::kInform, {Bind(kTrapAddress, msg::Tag::kIpAddress, 0, {192, 0, 2, 7})}),
                     L".1.3.6.1.4.1.9", L"192.0.2.7", 6, 3, 99,
                     {{L".1.3.6.1.6.3.18.1.3.0", L"IPADDRESS", L"192.0.2.7"}}};
  MappingCase standard{"v2 linkDown", V2(msg::PduKind::kTrapV2), L".1.3.6.1.6.3.1.1.5", L"127.0.0.1", 2, 0, 99, {}};
  standard.message.bindings[1].value.oid = {1, 3, 6, 1, 6, 3, 1, 1, 5, 3};
  return {v1, v2, inform, standard};
}

class Socket {
 public:
  Socket() : s_(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {
    sockaddr_in any = Loopback(0);
    ::bind(s_.Get(), reinterpret_cast<sockaddr*>(&any), sizeof(any));
    DWORD timeout = 5000;
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

TEST(Receiver, DatagramsFromTheSocketBecomeSnmpEvents) {
  ComScope com;
  UdpTrapSource source(AnyCommunity());  // port 0: one the system picks
  ASSERT_TRUE(source.Exec()) << source.ErrorCode();
  ASSERT_NE(source.LocalPort(), 0);
  Socket peer;
  auto items = std::make_shared<ItemCollection>();
  TrapWatcher watcher(items);
  for (const MappingCase& c : MappingCases()) {
    SCOPED_TRACE(c.what);
    peer.Send(c.message, source.LocalPort());
    ASSERT_TRUE(source.Wait(5000));
    ASSERT_TRUE(source.GetData());
    if (c.message.kind == msg::PduKind::kInform) {
      EXPECT_EQ(peer.Receive(), msg::EncodeResponse(c.message)) << "the inform is answered";
    }
    source.Publish(watcher);
    LONG count = 0;
    items->Count(&count);
    ASSERT_EQ(count, 1);
    Variant item;
    ASSERT_EQ(items->Item(1, item.Put()), S_OK);
    Dispatch event = Dispatch::From(item);
    EXPECT_EQ(event.Text(L"Identification"), c.identification);
    EXPECT_EQ(event.Text(L"AgentAddress"), c.agent);
    EXPECT_EQ(event.Text(L"TransportAddress"), L"127.0.0.1");
    EXPECT_EQ(event.Text(L"Community"), L"public");
    EXPECT_EQ(event.Long(L"Generic"), c.generic);
    EXPECT_EQ(event.Long(L"Specific"), c.specific);
    EXPECT_EQ(static_cast<DWORD>(event.Long(L"TimeStamp")), c.time_stamp);
    Dispatch list = Dispatch::From(event.Get(L"SnmpVarbindList").value);
    ASSERT_EQ(list.Long(L"Count"), static_cast<long>(c.varbinds.size()));
    for (size_t i = 0; i < c.varbinds.size(); ++i) {
      Dispatch vb = Dispatch::From(list.Get(L"Item", {static_cast<long>(i + 1)}).value);
      EXPECT_EQ(vb.Text(L"ObjectIdentifier"), c.varbinds[i][0]);
      EXPECT_EQ(vb.Text(L"Encoding"), c.varbinds[i][1]) << c.varbinds[i][0];
      EXPECT_EQ(vb.Text(L"Value"), c.varbinds[i][2]) << c.varbinds[i][0];
    }
    EXPECT_FALSE(source.GetData()) << "one datagram, one trap";
  }
}

TEST(Receiver, AnIpv6AddressIsBoundAndItsSendersShown) {
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
  ASSERT_TRUE(source.Wait(5000));
  ASSERT_TRUE(source.GetData());
  EXPECT_EQ(source.Pending().at(0)->TransportAddress, L"::1");
  EXPECT_EQ(source.Pending().at(0)->AgentAddress, L"0.0.0.0") << "no IPv4 agent address in the trap";
}

TEST(Receiver, AnAddressThatIsNoAddressFails) {
  ReceiverConfig config = AnyCommunity();
  config.address = L"no.such.host";
  UdpTrapSource source(config);
  EXPECT_FALSE(source.Exec());
  EXPECT_EQ(source.ErrorCode(), WSAEINVAL);
  EXPECT_FALSE(source.Wait(0)) << "no socket to wait on";
}

// While the dispatcher waits for a watcher, the socket is still read: a
// burst bigger than any receive buffer is queued, not lost.
TEST(Receiver, TheSocketIsDrainedWhileTheDispatcherWaits) {
  ComScope com;
  UdpTrapSource source(AnyCommunity());
  ASSERT_TRUE(source.Exec());
  Socket peer;
  TrapDispatcher dispatcher;
  auto items = std::make_shared<ItemCollection>();
  auto watcher = std::make_shared<TrapWatcher>(items);
  ASSERT_TRUE(dispatcher.Register(watcher));
  peer.Send(V1Trap(), source.LocalPort());
  ASSERT_TRUE(source.Wait(5000));
  ASSERT_TRUE(source.GetData());
  constexpr int kBurst = 3000;
  std::thread sender([&] {
    ASSERT_EQ(::WaitForSingleObject(watcher->DataEvent(), 5000), WAIT_OBJECT_0);
    msg::Message m = V1Trap();
    for (int i = 0; i < kBurst; ++i) {
      m.specific = i;
      peer.Send(m, source.LocalPort());
    }
    // Until the acknowledgement only the dispatcher's wait reads them.
    for (int i = 0; i < 500 && source.Stats().queued.load() < kBurst + 1u; ++i) ::Sleep(10);
    watcher->Acknowledge();
  });
  dispatcher.Notify(source);
  sender.join();
  EXPECT_EQ(source.Stats().queued.load(), kBurst + 1u);
  EXPECT_EQ(source.QueuedCount(), static_cast<size_t>(kBurst));
}

// ---- through a script's object and the process's worker ----

DWORD FreePort() {
  WinsockScope winsock;
  UniqueSocket s(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in any = Loopback(0);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  int len = sizeof(any);
  if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&any), sizeof(any)) != 0 ||
      ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&any), &len) != 0)
    return 0;
  return ntohs(any.sin_port);
}

bool PortIsFree(uint16_t port) {
  WinsockScope winsock;
  UniqueSocket s(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in any = Loopback(port);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  return ::bind(s.Get(), reinterpret_cast<sockaddr*>(&any), sizeof(any)) == 0;
}

TEST_F(ReceiverKey, ATrapReachesSnmpEventsWithoutTheTrapService) {
  ComScope com;
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, SnmpEventSink::kTrapServiceKey);
  // A port nothing uses now (tests in other build trees run at the same time).
  const DWORD kPort = FreePort();
  ASSERT_NE(kPort, 0u);
  {
    UniqueRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, ReceiverConfig::kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                key.Put(), nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key.Get(), L"Port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kPort), sizeof(kPort));
    const wchar_t block[] = L"public\0";
    ::RegSetValueExW(key.Get(), L"Communities", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(block), sizeof(block));
  }
  ComPtr<IDispatch> object;
  ASSERT_EQ(brisel::SnmpEvents::CreateInstance(nullptr, IID_IDispatch, object.PutVoid()), S_OK);
  Dispatch events(object);
  Variant error_text;
  EXPECT_EQ(AsLong(events.Call(L"SetFilter", {L"SPECIFIC", L":2", Arg::Out(&error_text)}).value), 0);
  long handle = events.Long(L"Event");
  ASSERT_NE(handle, 0);
  ASSERT_NE(handle, -1);
  HANDLE data = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(handle));
  // The worker binds the port as it starts.
  for (int i = 0; i < 2000 && PortIsFree(static_cast<uint16_t>(kPort)); ++i) ::Sleep(10);
  ASSERT_FALSE(PortIsFree(static_cast<uint16_t>(kPort)));
  Socket peer;
  msg::Message m = V1Trap();
  for (int specific : {2, 5}) {
    m.specific = specific;
    m.community = "private";  // refused
    peer.Send(m, static_cast<uint16_t>(kPort));
    m.community = "public";
    peer.Send(m, static_cast<uint16_t>(kPort));
  }
  ASSERT_EQ(::WaitForSingleObject(data, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(events.Long(L"Count"), 0) << "specific 2 is filtered out";
  EXPECT_EQ(AsLong(events.Call(L"ResetEvent", {Arg::Out(&error_text)}).value), 0);
  ASSERT_EQ(::WaitForSingleObject(data, 10000), WAIT_OBJECT_0);
  ASSERT_EQ(events.Long(L"Count"), 1);
  Dispatch event = Dispatch::From(events.Get(L"Item", {1L}).value);
  EXPECT_EQ(event.Long(L"Specific"), 5);
  EXPECT_EQ(event.Text(L"Community"), L"public");
  EXPECT_EQ(event.Text(L"TransportAddress"), L"127.0.0.1");
  EXPECT_EQ(AsLong(events.Call(L"ResetEvent", {Arg::Out(&error_text)}).value), 0);
  EXPECT_EQ(::WaitForSingleObject(data, 500), WAIT_TIMEOUT) << "the refused community never arrives";
}

}  // namespace
