// libFuzzer target: decode any datagram. What decodes must encode to a message that decodes
// to the same fields, map to its v1 view, and be read the same by net-snmp (which accepts
// more than we do; the fault table lists where, so only this direction is fuzzed).
#include <cstdio>
#include <cstdlib>

#include "tests/snmp_message/netsnmp_peer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brisel::snmp;
  auto fail = [](const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
  };
  Message m, back, theirs;
  if (Decode(data, size, &m) != DecodeError::kOk) return 0;
  const testing::Bytes again = Encode(m);
  if (Decode(again.data(), again.size(), &back) != DecodeError::kOk || !(back == m)) fail("encoding does not decode back");
  if (m.kind == PduKind::kInform && EncodeResponse(m).size() > again.size()) fail("response longer than the inform");
  if (ToV1(m, {127, 0, 0, 1}).bindings.size() > m.bindings.size()) fail("v1 view with more bindings");
  std::string why;
  const testing::Peer verdict = peer::Decode(testing::Bytes(data, data + size), &theirs, &why);
  if (verdict == testing::Peer::kRefuses) fail("net-snmp refuses a message we accept");
  if (verdict == testing::Peer::kAccepts && !(theirs == m)) fail("net-snmp reads other fields");
  return 0;
}
