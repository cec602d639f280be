// What a JScript sees of TalvaneAgent.Processes.
var failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    WScript.Echo("FAIL: " + what);
  }
}

var procs = new ActiveXObject("TalvaneAgent.Processes");
var n = procs.Count;
check(n > 0, "Count is positive");
var names = [];
for (var e = new Enumerator(procs); !e.atEnd(); e.moveNext()) names.push(e.item().Name);
check(names.length == n, "Enumerator visits Count items: " + names.length + " vs " + n);
for (var i = 1; i <= n; i++) check(procs.Item(i).Name == names[i - 1], "Enumerator order matches Item at " + i);

try {
  procs.Item(0);
  check(false, "Item(0) throws");
} catch (ex) {
  check((ex.number >>> 0) == 0x80070057, "Item(0) number " + (ex.number >>> 0).toString(16));
}
try {
  procs.Item(n + 1);
  check(false, "Item(Count+1) throws");
} catch (ex) {
  check((ex.number >>> 0) == 0x80004005, "Item(Count+1) number " + (ex.number >>> 0).toString(16));
}

if (failures == 0) {
  WScript.Echo("ALL TESTS PASSED");
} else {
  WScript.Quit(1);
}
