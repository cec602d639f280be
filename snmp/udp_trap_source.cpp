#include "snmp/udp_trap_source.h"

#include <snmp.h>

#include <cstring>

#include "collector/strings.h"
#include "snmp/varbind.h"
#include "trace/trace.h"

namespace brisel {

namespace {

// Communities refused are traced once each; past this many, no longer.
constexpr size_t kRefusedTraceLimit = 256;

bool ReadDword(HKEY key, const wchar_t* name, DWORD* out) {
  DWORD type = 0, size = sizeof(*out);
  return ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size) == ERROR_SUCCESS &&
         type == REG_DWORD && size == sizeof(*out);
}

// A string value's characters (REG_SZ or REG_MULTI_SZ), without its final terminators.
bool ReadChars(HKEY key, const wchar_t* name, DWORD want_type, std::wstring* out) {
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != want_type) return false;
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS ||
      type != want_type)
    return false;
  text.resize(size / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  *out = std::move(text);
  return true;
}

// Octets of a community typed in the registry: each character's low byte,
// the way the trap texts show octets as characters of the same code.
std::string Octets(std::wstring_view text) {
  std::string octets;
  for (wchar_t c : text) octets.push_back(static_cast<char>(c & 0xFF));
  return octets;
}

std::wstring SenderText(const sockaddr* sender, int len) {
  BYTE octets[4] = {};
  if (sender->sa_family == AF_INET && len >= static_cast<int>(sizeof(sockaddr_in))) {
    std::memcpy(octets, &reinterpret_cast<const sockaddr_in*>(sender)->sin_addr, 4);
  } else if (sender->sa_family == AF_INET6 && len >= static_cast<int>(sizeof(sockaddr_in6))) {
    const auto* a6 = reinterpret_cast<const sockaddr_in6*>(sender);
    if (!IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) {
      wchar_t text[INET6_ADDRSTRLEN] = {};
      DWORD chars = INET6_ADDRSTRLEN;
      if (::WSAAddressToStringW(const_cast<sockaddr*>(sender), len, nullptr, text, &chars) == 0) {
        // Without the port: "[addr]:port" or "addr".
        std::wstring s(text);
        if (!s.empty() && s[0] == L'[') s = s.substr(1, s.find(L']') - 1);
        return s;
      }
      return L"";
    }
    std::memcpy(octets, &a6->sin6_addr.s6_addr[12], 4);
  }
  AsnOctetString address{octets, 4, FALSE};
  return AddressText(address);
}

std::array<uint8_t, 4> SenderOctets(const sockaddr* sender, int len) {
  std::array<uint8_t, 4> octets{};
  if (sender->sa_family == AF_INET && len >= static_cast<int>(sizeof(sockaddr_in))) {
    std::memcpy(octets.data(), &reinterpret_cast<const sockaddr_in*>(sender)->sin_addr, 4);
  } else if (sender->sa_family == AF_INET6 && len >= static_cast<int>(sizeof(sockaddr_in6))) {
    const auto* a6 = reinterpret_cast<const sockaddr_in6*>(sender);
    if (IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) std::memcpy(octets.data(), &a6->sin6_addr.s6_addr[12], 4);
  }
  return octets;
}

// The platform's binding structures over the decoded ones, so that the texts
// come from FormatVarbind exactly as for the trap service. They point into
// the decoded binding, which outlives them.
void FormatBinding(const snmp::VarBind& in, VarbindRecord* out) {
  std::vector<UINT> name(in.name.begin(), in.name.end());
  std::vector<UINT> object;
  SnmpVarBind binding{};
  binding.name.idLength = static_cast<UINT>(name.size());
  binding.name.ids = name.empty() ? nullptr : name.data();
  AsnAny& any = binding.value;
  const snmp::Value& v = in.value;
  auto octets = [&](AsnOctetString* s) {
    s->stream = v.octets.empty() ? nullptr : const_cast<BYTE*>(v.octets.data());
    s->length = static_cast<UINT>(v.octets.size());
    s->dynamic = FALSE;
  };
  switch (v.tag) {
    case snmp::Tag::kInteger:
      any.asnType = ASN_INTEGER;
      any.asnValue.number = static_cast<AsnInteger32>(v.integer);
      break;
    case snmp::Tag::kOctetString:
      any.asnType = ASN_OCTETSTRING;
      octets(&any.asnValue.string);
      break;
    case snmp::Tag::kNull:
      any.asnType = ASN_NULL;
      break;
    case snmp::Tag::kObjectId:
      object.assign(v.oid.begin(), v.oid.end());
      any.asnType = ASN_OBJECTIDENTIFIER;
      any.asnValue.object.idLength = static_cast<UINT>(object.size());
      any.asnValue.object.ids = object.empty() ? nullptr : object.data();
      break;
    case snmp::Tag::kIpAddress:
      any.asnType = ASN_IPADDRESS;
      octets(&any.asnValue.address);
      break;
    case snmp::Tag::kCounter32:
      any.asnType = ASN_COUNTER32;
      any.asnValue.counter = static_cast<AsnCounter32>(v.number);
      break;
    case snmp::Tag::kGauge32:
      // The same tag carries Unsigned32; the trap service reports it as Gauge32.
      any.asnType = ASN_GAUGE32;
      any.asnValue.gauge = static_cast<AsnGauge32>(v.number);
      break;
    case snmp::Tag::kTimeTicks:
      any.asnType = ASN_TIMETICKS;
      any.asnValue.ticks = static_cast<AsnTimeticks>(v.number);
      break;
    case snmp::Tag::kOpaque:
      any.asnType = ASN_OPAQUE;
      octets(&any.asnValue.arbitrary);
      break;
    case snmp::Tag::kCounter64:
      any.asnType = ASN_COUNTER64;
      any.asnValue.counter64.QuadPart = v.number;
      break;
    case snmp::Tag::kNoSuchObject:
      any.asnType = SNMP_EXCEPTION_NOSUCHOBJECT;
      break;
    case snmp::Tag::kNoSuchInstance:
      any.asnType = SNMP_EXCEPTION_NOSUCHINSTANCE;
      break;
    case snmp::Tag::kEndOfMibView:
      any.asnType = SNMP_EXCEPTION_ENDOFMIBVIEW;
      break;
  }
  FormatVarbind(binding, &out->ObjectIdentifier, &out->Encoding, &out->Value);
}

}  // namespace

void ParseCommunities(const wchar_t* block, size_t chars, ReceiverConfig* config) {
  size_t i = 0;
  while (i < chars) {
    size_t end = i;
    while (end < chars && block[end] != L'\0') ++end;
    std::wstring_view item(block + i, end - i);
    if (item == L"*") {
      config->any_community = true;
    } else if (!item.empty()) {
      config->communities.insert(Octets(item));
    }
    i = end + 1;
  }
}

ReceiverConfig ReceiverConfig::Read() {
  ReceiverConfig config;
  UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return config;
  if (!ReadDword(key.Get(), L"Port", &config.port)) config.port = 0;
  ReadChars(key.Get(), L"Address", REG_SZ, &config.address);
  std::wstring block;
  if (ReadChars(key.Get(), L"Communities", REG_MULTI_SZ, &block)) ParseCommunities(block.data(), block.size(), &config);
  return config;
}

WinsockScope::WinsockScope() noexcept {
  WSADATA data;
  error_ = ::WSAStartup(MAKEWORD(2, 2), &data);
}

WinsockScope::~WinsockScope() {
  if (error_ == 0) ::WSACleanup();
}

UdpTrapSource::UdpTrapSource(ReceiverConfig config, size_t queue_bound)
    : config_(std::move(config)), bound_(queue_bound) {}

bool UdpTrapSource::Exec() {
  auto fail = [this](int code, const char* what) {
    SetErrorCode(code);
    std::wstring message;
    if (FormatW(&message, L"%d\n", code)) SetErrorMessage(message);
    if (tvDebugLevel > 0) tvDebugPrint(1, "SNMP trap receiver: %s failed: %d\n", what, code);
    return false;
  };
  if (winsock_.Error() != 0) return fail(winsock_.Error(), "WSAStartup");
  sockaddr_storage local{};
  int local_len = 0;
  if (config_.address.empty()) {
    auto* a4 = reinterpret_cast<sockaddr_in*>(&local);
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(INADDR_ANY);
    local_len = sizeof(sockaddr_in);
  } else {
    // IPv4 first, then IPv6; the text is a literal address.
    local_len = sizeof(local);
    local.ss_family = AF_INET;
    if (::WSAStringToAddressW(config_.address.data(), AF_INET, nullptr, reinterpret_cast<sockaddr*>(&local),
                              &local_len) != 0) {
      local = {};
      local_len = sizeof(local);
      local.ss_family = AF_INET6;
      if (::WSAStringToAddressW(config_.address.data(), AF_INET6, nullptr, reinterpret_cast<sockaddr*>(&local),
                                &local_len) != 0)
        return fail(WSAEINVAL, "address");
    }
  }
  if (local.ss_family == AF_INET) {
    reinterpret_cast<sockaddr_in*>(&local)->sin_port = htons(static_cast<u_short>(config_.port));
  } else {
    reinterpret_cast<sockaddr_in6*>(&local)->sin6_port = htons(static_cast<u_short>(config_.port));
  }
  socket_.Reset(::socket(local.ss_family, SOCK_DGRAM, IPPROTO_UDP));
  if (!socket_) return fail(::WSAGetLastError(), "socket");
  // Bursts wait in the system's buffer until the worker drains it.
  int buffer = kReceiveBufferBytes;
  ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof(buffer));
  if (::bind(socket_.Get(), reinterpret_cast<sockaddr*>(&local), local_len) != 0)
    return fail(::WSAGetLastError(), "bind");
  UniqueEvent readable(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!readable) return fail(static_cast<int>(::GetLastError()), "CreateEvent");
  if (::WSAEventSelect(socket_.Get(), readable.Get(), FD_READ) != 0) return fail(::WSAGetLastError(), "WSAEventSelect");
  try {
    buffer_.resize(snmp::kMaxMessageBytes);
  } catch (...) {
    return fail(ERROR_NOT_ENOUGH_MEMORY, "buffer");
  }
  wait_handle_ = std::move(readable);
  if (tvDebugLevel > 0) {
    int granted = 0, size = sizeof(granted);
    ::getsockopt(socket_.Get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &size);
    tvDebugPrint(1, "SNMP trap receiver: listening on UDP port %u, receive buffer %d bytes\n", LocalPort(), granted);
  }
  return true;
}

uint16_t UdpTrapSource::LocalPort() const noexcept {
  if (!socket_) return 0;
  sockaddr_storage local{};
  int len = sizeof(local);
  if (::getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&local), &len) != 0) return 0;
  return ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                           : reinterpret_cast<sockaddr_in*>(&local)->sin_port);
}

void UdpTrapSource::Drain() {
  if (!socket_ || buffer_.empty()) return;
  for (int i = 0; i < kDrainBatch; ++i) {
    sockaddr_storage sender{};
    int sender_len = sizeof(sender);
    int n = ::recvfrom(socket_.Get(), reinterpret_cast<char*>(buffer_.data()), static_cast<int>(buffer_.size()), 0,
                       reinterpret_cast<sockaddr*>(&sender), &sender_len);
    if (n < 0) {
      int error = ::WSAGetLastError();
      if (error == WSAEWOULDBLOCK) return;
      // A datagram larger than any message, or an ICMP report of an earlier
      // response that did not arrive: that one is gone, the socket is fine.
      if (error == WSAEMSGSIZE) {
        ++counters_.datagrams;
        ++counters_.malformed;
        if (tvDebugLevel > 0) tvDebugPrint(1, "SNMP trap receiver: datagram dropped: too long\n");
        continue;
      }
      if (error == WSAECONNRESET) continue;
      return;
    }
    Ingest(buffer_.data(), static_cast<size_t>(n), reinterpret_cast<sockaddr*>(&sender), sender_len);
  }
  // More may be waiting: come back at once.
  if (wait_handle_) ::SetEvent(wait_handle_.Get());
}

void UdpTrapSource::Ingest(const uint8_t* data, size_t size, const sockaddr* sender, int sender_len) {
  ++counters_.datagrams;
  try {
    snmp::Message message;
    snmp::DecodeError error = snmp::Decode(data, size, &message);
    if (error != snmp::DecodeError::kOk) {
      ++counters_.malformed;
      if (tvDebugLevel > 0)
        tvDebugPrint(1, "SNMP trap receiver: datagram of %u bytes from %S dropped: %s\n",
                     static_cast<unsigned>(size), SenderText(sender, sender_len).c_str(), snmp::DecodeErrorText(error));
      return;
    }
    if (!config_.Accepts(message.community)) {
      ++counters_.refused_community;
      NoteRefused(message.community);
      return;
    }
    // Answered even when the queue is full: the sender must not resend it.
    if (message.kind == snmp::PduKind::kInform) Respond(message, sender, sender_len);
    if (queue_.size() >= bound_ || queued_bytes_ + size > kQueueByteBound) {
      ++counters_.queue_full;
      if (!full_traced_ && tvDebugLevel > 0)
        tvDebugPrint(1, "SNMP trap receiver: queue full (%u traps): newest traps dropped\n",
                     static_cast<unsigned>(bound_));
      full_traced_ = true;
      return;
    }
    full_traced_ = false;
    Received received;
    received.bytes = size;
    received.community = std::move(message.community);
    received.transport = SenderText(sender, sender_len);
    received.v1 = snmp::ToV1(message, SenderOctets(sender, sender_len));
    queue_.push_back(std::move(received));
    queued_bytes_ += size;
    ++counters_.queued;
  } catch (...) {  // out of memory: this trap is lost
    ++counters_.queue_full;
  }
}

void UdpTrapSource::Respond(const snmp::Message& inform, const sockaddr* to, int to_len) {
  std::vector<uint8_t> response = snmp::EncodeResponse(inform);
  if (::sendto(socket_.Get(), reinterpret_cast<const char*>(response.data()), static_cast<int>(response.size()), 0,
               to, to_len) == static_cast<int>(response.size()))
    ++counters_.responses;
}

void UdpTrapSource::NoteRefused(const std::string& community) {
  if (refused_seen_.size() >= kRefusedTraceLimit || !refused_seen_.insert(community).second) return;
  if (tvDebugLevel > 0) {
    std::wstring text(community.begin(), community.end());
    for (wchar_t& c : text) c &= 0xFF;
    tvDebugPrint(1, "SNMP trap receiver: traps with community \"%S\" are not accepted\n", text.c_str());
  }
}

bool UdpTrapSource::GetData() {
  pending_.clear();
  // Reading while the queue holds traps is left to the dispatcher's waits,
  // which watch the socket; every reset of its event is followed by a drain.
  if (queue_.empty()) Drain();
  if (queue_.empty()) return false;
  Received received = std::move(queue_.front());
  queue_.pop_front();
  queued_bytes_ -= received.bytes;
  // From here on a trap was taken: true, so the ones behind it are read even
  // when this one cannot be made into a record.
  std::unique_ptr<TrapRecord> record(new (std::nothrow) TrapRecord);
  if (!record) return true;
  try {
    const snmp::V1Fields& v1 = received.v1;
    std::vector<UINT> enterprise(v1.enterprise.begin(), v1.enterprise.end());
    OidToText(static_cast<UINT>(enterprise.size()), enterprise.empty() ? nullptr : enterprise.data(),
              &record->Identification);
    AsnOctetString agent{const_cast<BYTE*>(v1.agent_address.data()), 4, FALSE};
    record->AgentAddress = AddressText(agent);
    record->TransportAddress = std::move(received.transport);
    record->TimeStamp = v1.time_stamp;
    record->Generic = v1.generic;
    record->Specific = v1.specific;
    record->Community.assign(received.community.begin(), received.community.end());
    for (wchar_t& c : record->Community) c &= 0xFF;
    for (const snmp::VarBind& in : v1.bindings) {
      std::unique_ptr<VarbindRecord> binding(new (std::nothrow) VarbindRecord);
      if (!binding) continue;
      FormatBinding(in, binding.get());
      record->Varbinds.push_back(std::move(binding));
    }
    pending_.push_back(std::move(record));
  } catch (...) {
    pending_.clear();
  }
  return true;
}

DWORD UdpTrapSource::WaitAcknowledgements(DWORD count, const HANDLE* handles, DWORD timeout_ms) {
  if (!wait_handle_ || count > MAXIMUM_WAIT_OBJECTS) return TrapSource::WaitAcknowledgements(count, handles, timeout_ms);
  HANDLE open[MAXIMUM_WAIT_OBJECTS];
  DWORD left = count;
  std::memcpy(open, handles, count * sizeof(HANDLE));
  ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (left > 0) {
    ULONGLONG now = ::GetTickCount64();
    if (timeout_ms != INFINITE && now >= deadline) return WAIT_TIMEOUT;
    DWORD remaining = timeout_ms == INFINITE ? INFINITE : static_cast<DWORD>(deadline - now);
    // Up to 63 acknowledgements, then the socket: a wait for any answers
    // the first signalled one, so a flood of datagrams cannot hide them.
    HANDLE set[MAXIMUM_WAIT_OBJECTS];
    DWORD n = 0;
    for (; n < left && n < MAXIMUM_WAIT_OBJECTS - 1; ++n) set[n] = open[n];
    set[n] = wait_handle_.Get();
    DWORD r = ::WaitForMultipleObjects(n + 1, set, FALSE, remaining);
    if (r == WAIT_TIMEOUT || r == WAIT_FAILED) return r;
    if (r == WAIT_OBJECT_0 + n) {
      ::ResetEvent(wait_handle_.Get());
      Drain();
    } else if (r < WAIT_OBJECT_0 + n) {
      open[r - WAIT_OBJECT_0] = open[--left];  // acknowledged
    } else {
      return WAIT_FAILED;
    }
  }
  return WAIT_OBJECT_0;
}

void UdpTrapSource::Pause(DWORD ms) {
  if (!wait_handle_) return TrapSource::Pause(ms);
  ULONGLONG deadline = ::GetTickCount64() + ms;
  for (;;) {
    ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return;
    DWORD r = ::WaitForSingleObject(wait_handle_.Get(), static_cast<DWORD>(deadline - now));
    if (r == WAIT_FAILED) return TrapSource::Pause(static_cast<DWORD>(deadline - now));
    if (r == WAIT_OBJECT_0) {
      ::ResetEvent(wait_handle_.Get());
      Drain();
    }
  }
}

bool TrapReceiverEnabled() { return ReceiverConfig::Read().Enabled(); }

std::unique_ptr<TrapSource> MakeTrapSource() {
  ReceiverConfig config = ReceiverConfig::Read();
  if (config.Enabled()) return std::make_unique<UdpTrapSource>(std::move(config));
  return std::make_unique<SnmpMgrTrapSource>();
}

}  // namespace brisel
