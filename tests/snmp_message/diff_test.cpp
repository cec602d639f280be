// Our decoder and encoder against net-snmp's parser (snmp_parse): it reads each valid message
// as we wrote it, and each hand-made fault as the row says, with our fields where both accept.
#include <gtest/gtest.h>

#include "tests/snmp_message/netsnmp_peer.h"

namespace brisel::snmp {
namespace {

TEST(NetSnmpDiff, ReadsOurEncodingOfEveryValidMessage) {
  for (const Message& m : testing::ValidMessages()) {
    Message theirs;
    std::string why;
    ASSERT_EQ(peer::Decode(Encode(m), &theirs, &why), testing::Peer::kAccepts) << why;
    EXPECT_EQ(theirs, m);
  }
}

TEST(NetSnmpDiff, HandMadeFaults) {
  for (const testing::Fault& f : testing::Faults()) {
    Message ours, theirs;
    std::string why;
    const testing::Peer verdict = peer::Decode(f.datagram, &theirs, &why);
    EXPECT_EQ(verdict, f.peer) << f.name << " " << why;
    if (Decode(f.datagram.data(), f.datagram.size(), &ours) == DecodeError::kOk && verdict == testing::Peer::kAccepts) {
      EXPECT_EQ(ours, theirs) << f.name;
    }
  }
}

}  // namespace
}  // namespace brisel::snmp
