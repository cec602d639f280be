// libFuzzer target: decode any datagram. What decodes must encode to a
// message that decodes to the same fields, map to its v1 view, and be read
// the same by net-snmp. (net-snmp accepts more than
// we do; the differential test lists where, so only this direction is fuzzed.)
#include <cstdio>
#include <cstdlib>

#include "tests/snmp_message/netsnmp_peer.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brisel::snmp;
  Message m;
  const DecodeError e = Decode(data, size, &m);
  if (e != DecodeError::kOk) return 0;
  const std::vector<std::uint8_t> again = Encode(m);
  Message back;
  if (Decode(again.data(), again.size(), &back) != DecodeError::kOk || !(back == m)) Fail("encoding does not decode back");
  if (m.kind == PduKind::kInform && EncodeResponse(m).size() > again.size()) Fail("response longer than the inform");
  const V1Fields v1 = ToV1(m, {127, 0, 0, 1});
  if (v1.bindings.size() > m.bindings.size()) Fail("v1 view with more bindings");

  Message theirs;
  std::string why;
  const peer::Verdict verdict = peer::Decode(std::vector<std::uint8_t>(data, data + size), &theirs, &why);
  if (verdict == peer::Verdict::kRefused) Fail("net-snmp refuses a message we accept");
  if (verdict == peer::Verdict::kAccepted && !(theirs == m)) Fail("net-snmp reads other fields");
  return 0;
}
