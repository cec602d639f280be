' Lists the running processes through TalvaneAgent.Processes.
Option Explicit
Dim procs, p, i
Set procs = CreateObject("TalvaneAgent.Processes")
WScript.Echo "Processes: " & procs.Count
For i = 1 To procs.Count
  Set p = procs.Item(i)
  WScript.Echo "  #" & i & " " & p.Name & " pid=" & p.ProcessId & " threads=" & p.ThreadCount & " handles=" & p.HandleCount
Next
For Each p In procs
  WScript.Echo "  each: " & p.Name
Next
