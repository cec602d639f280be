// What a JScript sees of TalvaneAgent.SnmpEvents without the SNMP trap service.
var failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    WScript.Echo("FAIL: " + what);
  }
}

var snmp = new ActiveXObject("TalvaneAgent.SnmpEvents");
check(snmp.Event === 0, "Event is 0, got " + snmp.Event);
check(snmp.GetEvent() === 0, "GetEvent is 0");
var text;
check(snmp.SetFilter("COMMUNITY", "public", text) === -1, "SetFilter gives -1");
check(snmp.ResetEvent(text) === 0, "ResetEvent gives 0");
check(snmp.Count === 0, "Count is 0");
var seen = 0;
for (var e = new Enumerator(snmp); !e.atEnd(); e.moveNext()) seen++;
check(seen === 0, "the enumerator is empty");
try {
  snmp.Item(0);
  check(false, "Item(0) raises");
} catch (ex) {
  check((ex.number >>> 0) === 0x80070057, "Item(0) raises E_INVALIDARG, got " + (ex.number >>> 0).toString(16));
}
try {
  snmp.Item(1);
  check(false, "Item(1) raises");
} catch (ex) {
  check((ex.number >>> 0) === 0x80004005, "Item(1) raises E_FAIL, got " + (ex.number >>> 0).toString(16));
}
snmp.WriteEventToEventLog(1, 2, "now");

if (failures === 0) {
  WScript.Echo("ALL TESTS PASSED");
} else {
  WScript.Quit(1);
}
