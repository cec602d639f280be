// libFuzzer target: what decodes encodes back to the same fields and net-snmp (which accepts more) reads the same.
// Seeds: our encodings of valid messages of every kind and value type, and hand-made faults at each decoder bound.
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
  const std::vector<std::uint8_t> again = Encode(m);
  if (Decode(again.data(), again.size(), &back) != DecodeError::kOk || !(back == m)) fail("encoding does not decode back");
  if (m.kind == PduKind::kInform && EncodeResponse(m).size() > again.size()) fail("response longer than the inform");
  if (ToV1(m, {127, 0, 0, 1}).bindings.size() > m.bindings.size()) fail("v1 view with more bindings");
  const peer::Verdict verdict = peer::Decode(data, size, &theirs);
  if (verdict == peer::Verdict::kRefuses) fail("net-snmp refuses a message we accept");
  if (verdict == peer::Verdict::kAccepts && !(theirs == m)) fail("net-snmp reads other fields");
  return 0;
}
