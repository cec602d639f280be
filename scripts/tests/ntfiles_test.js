// What a JScript sees of TalvaneAgent.NtFiles watching a scratch directory.
var failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    WScript.Echo("FAIL: " + what);
  }
}

// Wine's script host lacks WScript.Sleep: spin on the clock there instead.
function pause(ms) {
  try {
    WScript.Sleep(ms);
  } catch (e) {
    var end = new Date().getTime() + ms;
    while (new Date().getTime() < end) {}
  }
}

var fso = new ActiveXObject("Scripting.FileSystemObject");
var dir = fso.GetSpecialFolder(2).Path + "\\ntfiles_js_" + Math.floor(Math.random() * 1000000);
fso.CreateFolder(dir);
fso.CreateTextFile(dir + "\\m.txt").Close();

var w = new ActiveXObject("TalvaneAgent.NtFiles");
check(w.Count == 0, "Count is 0 before the first batch");
check(w.SetFilter("FILE PATH", dir + "\\", null) == 0, "FILE PATH accepted");
check(w.SetFilter("FILE NAME", "true", null) == 0, "a value other than TRUE is accepted as false");
check(w.SetFilter("FILE NAME", "TRUE", null) == 0, "FILE NAME");
check(w.SetFilter("NO SUCH KEY", "TRUE", null) == 1, "an unknown key gives 1");
check(w.SetFilter("NO SUCH KEY", "", null) == -1, "an empty value gives -1 before the key is looked at");
var handle = w.Event;
check(handle != 0 && w.GetEvent() == handle, "Event and GetEvent give the same handle");
pause(400);

// The handle cannot be waited on from a script: poll Count, at most ten seconds.
fso.MoveFile(dir + "\\m.txt", dir + "\\a.txt");
var seen = "";
for (var i = 0; i < 100 && w.Count == 0; i++) pause(100);
pause(150);
for (var e = new Enumerator(w); !e.atEnd(); e.moveNext()) {
  var item = e.item();
  if (item.Name != "." && item.Name != "..") seen += item.Name + "=" + item.Description + ";";
}
check(seen == "a.txt=created;m.txt=deleted;", "rename, got " + seen);

try {
  w.Item(0);
  check(false, "Item(0) raises");
} catch (ex) {
  check((ex.number >>> 0) == 0x80070057, "Item(0) gives E_INVALIDARG, got " + (ex.number >>> 0).toString(16));
}
try {
  w.Item(w.Count + 1);
  check(false, "Item(Count+1) raises");
} catch (ex) {
  check((ex.number >>> 0) == 0x80004005, "Item(Count+1) gives E_FAIL, got " + (ex.number >>> 0).toString(16));
}
var n = w.Count;
check(w.ResetEvent(null) == 0, "ResetEvent gives 0");
check(w.Count == n, "Count is unchanged by ResetEvent");

w = null;
CollectGarbage();
fso.DeleteFolder(dir, true);
if (failures == 0) {
  WScript.Echo("ALL TESTS PASSED");
} else {
  WScript.Quit(1);
}
