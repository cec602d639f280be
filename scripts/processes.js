// Lists the running processes through TalvaneAgent.Processes (JScript).
var procs = new ActiveXObject("TalvaneAgent.Processes");
WScript.Echo("Processes: " + procs.Count);
for (var e = new Enumerator(procs); !e.atEnd(); e.moveNext()) {
  var p = e.item();
  WScript.Echo("  " + p.Name + " pid=" + p.ProcessId + " threads=" + p.ThreadCount);
}
