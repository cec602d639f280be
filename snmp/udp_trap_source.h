// The built-in trap receiver: a trap source reading SNMPv1/v2c traps and
// informs from one UDP socket, enabled in the registry instead of the
// platform's trap service. Include it before anything that includes
// windows.h: Winsock 2 must come first.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "module/com.h"
#include "snmp/message/snmp_message.h"
#include "snmp/trap_source.h"

namespace brisel {

// Settings under HKLM\<kReceiverKey>, read when a source is made.
struct ReceiverConfig {
  static constexpr const wchar_t* kKey = L"SOFTWARE\\Talvane\\Vigilor\\4.0\\Talvanemc\\SnmpTrapReceiver";

  DWORD port = 0;        // 0: the receiver is off
  std::wstring address;  // local address to bind; empty: every IPv4 interface
  bool any_community = false;
  std::set<std::string> communities;  // octets as sent

  bool Enabled() const noexcept { return port != 0 && port <= 65535; }
  bool Accepts(const std::string& community) const { return any_community || communities.count(community) != 0; }
  static ReceiverConfig Read();
};

// Parses a REG_MULTI_SZ block into the accepted communities ("*": any).
void ParseCommunities(const wchar_t* block, size_t chars, ReceiverConfig* config);

struct SocketTraits {
  using Type = SOCKET;
  static Type Invalid() noexcept { return INVALID_SOCKET; }
  static void Close(Type s) noexcept { ::closesocket(s); }
};
using UniqueSocket = UniqueHandle<SocketTraits>;

// One WSAStartup, undone by the destructor when it succeeded.
class WinsockScope {
 public:
  WinsockScope() noexcept;
  ~WinsockScope();
  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;
  int Error() const noexcept { return error_; }

 private:
  int error_;
};

class UdpTrapSource : public TrapSource {
 public:
  // Traps held while the dispatcher waits; the newest is dropped beyond
  // either bound (the second counts the datagrams' bytes).
  static constexpr size_t kQueueBound = 16384;
  static constexpr size_t kQueueByteBound = 64u << 20;
  static constexpr int kReceiveBufferBytes = 8 << 20;
  // Datagrams read per drain before the waits are looked at again.
  static constexpr int kDrainBatch = 1024;

  // Written by the reading thread; others may watch them.
  struct Counters {
    std::atomic<uint64_t> datagrams{0};
    std::atomic<uint64_t> queued{0};
    std::atomic<uint64_t> malformed{0};
    std::atomic<uint64_t> refused_community{0};
    std::atomic<uint64_t> queue_full{0};
    std::atomic<uint64_t> responses{0};
  };

  explicit UdpTrapSource(ReceiverConfig config, size_t queue_bound = kQueueBound);

  // Binds the socket; the error code and text tell why it could not.
  bool Exec() override;
  // Drains the socket, then makes the oldest queued trap the pending record.
  // False when none is queued.
  bool GetData() override;
  // Both keep the socket drained while the dispatcher waits.
  DWORD WaitAcknowledgements(DWORD count, const HANDLE* handles, DWORD timeout_ms) override;
  void Pause(DWORD ms) override;

  // Reads what the socket holds (at most kDrainBatch datagrams).
  void Drain();
  // One datagram as if received from sender (sockaddr_in or sockaddr_in6).
  void Ingest(const uint8_t* data, size_t size, const sockaddr* sender, int sender_len);

  const Counters& Stats() const noexcept { return counters_; }
  // Signalled when the socket has datagrams to read.
  HANDLE WaitHandle() const noexcept { return wait_handle_.Get(); }
  size_t QueuedCount() const noexcept { return queue_.size(); }
  // The bound local port (useful with port 0 in tests), 0 before Exec.
  uint16_t LocalPort() const noexcept;

 private:
  struct Received {
    size_t bytes = 0;  // of the datagram
    std::string community;
    std::wstring transport;
    snmp::V1Fields v1;
  };
  void Respond(const snmp::Message& inform, const sockaddr* to, int to_len);
  void NoteRefused(const std::string& community);

  ReceiverConfig config_;
  size_t bound_;
  WinsockScope winsock_;
  UniqueSocket socket_;
  std::deque<Received> queue_;
  size_t queued_bytes_ = 0;
  std::vector<uint8_t> buffer_;
  Counters counters_;
  std::set<std::string> refused_seen_;  // traced once each, up to a limit
  bool full_traced_ = false;
};

}  // namespace brisel
