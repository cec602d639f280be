#include "tests/snmp_message/netsnmp_peer.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdio>
#include <mutex>

namespace brisel::snmp::peer {
namespace {

void Init() {
  static std::once_flag once;
  std::call_once(once, [] {
    // No configuration files and no log output: only the parser is used.
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    // Its parse errors go to log handlers; a callback handler with no
    // callback keeps them off the test output.
    snmp_disable_log();
    snmp_enable_calllog();
  });
}

Oid ToOid(const oid* arcs, std::size_t n) {
  Oid out;
  for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<std::uint32_t>(arcs[i]));
  return out;
}

bool ToValue(const netsnmp_variable_list* v, Value* value, std::string* why) {
  value->tag = static_cast<Tag>(v->type);
  switch (v->type) {
    case ASN_INTEGER:
      value->integer = *v->val.integer;
      return true;
    case ASN_OCTET_STR: case ASN_OPAQUE: case ASN_IPADDRESS:
      value->octets.assign(v->val.string, v->val.string + v->val_len);
      return true;
    case ASN_OBJECT_ID:
      value->oid = ToOid(v->val.objid, v->val_len / sizeof(oid));
      return true;
    case ASN_COUNTER: case ASN_GAUGE: case ASN_TIMETICKS:
      value->number = static_cast<unsigned long>(*v->val.integer);
      return true;
    case ASN_COUNTER64:
      value->number = (std::uint64_t{v->val.counter64->high} << 32) | v->val.counter64->low;
      return true;
    case ASN_NULL: case SNMP_NOSUCHOBJECT: case SNMP_NOSUCHINSTANCE: case SNMP_ENDOFMIBVIEW:
      return true;
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "net-snmp accepts a value of type 0x%02X", v->type);
      *why = text;
      return false;
    }
  }
}

}  // namespace

Verdict Decode(const std::vector<std::uint8_t>& datagram, Message* out, std::string* why) {
  Init();
  netsnmp_session session;
  snmp_sess_init(&session);
  session.version = SNMP_DEFAULT_VERSION;  // take the message's own
  netsnmp_pdu* pdu = snmp_pdu_create(0);
  // snmp_parse writes nothing into the buffer, but takes it unconst.
  std::vector<std::uint8_t> copy = datagram;
  const int rc = snmp_parse(nullptr, &session, pdu, copy.empty() ? nullptr : copy.data(), copy.size());
  Verdict verdict = rc == SNMPERR_SUCCESS ? Verdict::kAccepted : Verdict::kRefused;
  bool ok = verdict == Verdict::kAccepted;
  if (ok) {
    Message m;
    m.version = static_cast<int>(pdu->version);
    m.community.assign(reinterpret_cast<const char*>(pdu->community), pdu->community_len);
    m.kind = static_cast<PduKind>(pdu->command);
    if (pdu->command == SNMP_MSG_TRAP) {
      m.enterprise = ToOid(pdu->enterprise, pdu->enterprise_length);
      std::copy(pdu->agent_addr, pdu->agent_addr + 4, m.agent_address.begin());
      m.generic = static_cast<std::int32_t>(pdu->trap_type);
      m.specific = static_cast<std::int32_t>(pdu->specific_type);
      m.time_stamp = static_cast<std::uint32_t>(pdu->time);
    } else if (pdu->command == SNMP_MSG_TRAP2 || pdu->command == SNMP_MSG_INFORM) {
      m.request_id = static_cast<std::int32_t>(pdu->reqid);
      m.error_status = static_cast<std::int32_t>(pdu->errstat);
      m.error_index = static_cast<std::int32_t>(pdu->errindex);
    } else {
      char text[64];
      std::snprintf(text, sizeof text, "net-snmp accepts PDU 0x%02X", static_cast<unsigned>(pdu->command));
      *why = text;
      ok = false;
    }
    for (netsnmp_variable_list* v = pdu->variables; ok && v; v = v->next_variable) {
      VarBind b;
      b.name = ToOid(v->name, v->name_length);
      ok = ToValue(v, &b.value, why);
      m.bindings.push_back(std::move(b));
    }
    if (ok) {
      *out = std::move(m);
    } else {
      verdict = Verdict::kIncomparable;
    }
  }
  snmp_free_pdu(pdu);
  return verdict;
}

std::string Compare(const std::vector<std::uint8_t>& datagram) {
  Message ours;
  const DecodeError e = brisel::snmp::Decode(datagram.data(), datagram.size(), &ours);
  Message theirs;
  std::string why;
  const Verdict verdict = Decode(datagram, &theirs, &why);
  if (verdict == Verdict::kIncomparable) return {};
  const bool peer_ok = verdict == Verdict::kAccepted;
  if ((e == DecodeError::kOk) != peer_ok) {
    return std::string("ours: ") + DecodeErrorText(e) + ", net-snmp " + (peer_ok ? "accepts it" : "refuses it");
  }
  if (peer_ok && !(ours == theirs)) return "both accept it, with different fields";
  return {};
}

}  // namespace brisel::snmp::peer
