#include "tests/snmp_message/netsnmp_peer.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <mutex>
#include <vector>

namespace brisel::snmp::peer {
namespace {

Oid ToOid(const oid* arcs, std::size_t n) { return Oid(arcs, arcs + n); }

bool ToValue(const netsnmp_variable_list* v, Value* value) {
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
    default:
      return false;
  }
}

}  // namespace

Verdict Decode(const std::uint8_t* data, std::size_t size, Message* out) {
  static std::once_flag once;
  std::call_once(once, [] {
    // Only the parser: no configuration files, and parse errors to a log handler without a callback.
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    snmp_disable_log();
    snmp_enable_calllog();
  });
  netsnmp_session session;
  snmp_sess_init(&session);
  session.version = SNMP_DEFAULT_VERSION;  // take the message's own
  netsnmp_pdu* pdu = snmp_pdu_create(0);
  std::vector<u_char> copy(data, data + size);  // snmp_parse writes nothing into it, but takes it unconst
  if (snmp_parse(nullptr, &session, pdu, copy.empty() ? nullptr : copy.data(), copy.size()) != SNMPERR_SUCCESS) {
    snmp_free_pdu(pdu);
    return Verdict::kRefuses;
  }
  Message m;
  m.version = static_cast<int>(pdu->version);
  m.community.assign(reinterpret_cast<const char*>(pdu->community), pdu->community_len);
  m.kind = static_cast<PduKind>(pdu->command);
  bool ok = true;
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
    ok = false;
  }
  for (netsnmp_variable_list* v = pdu->variables; ok && v; v = v->next_variable) {
    m.bindings.push_back({ToOid(v->name, v->name_length), {}});
    ok = ToValue(v, &m.bindings.back().value);
  }
  snmp_free_pdu(pdu);
  if (!ok) return Verdict::kCannotCompare;
  *out = std::move(m);
  return Verdict::kAccepts;
}

}  // namespace brisel::snmp::peer
