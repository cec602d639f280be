' What a VBScript sees of TalvaneAgent.Processes.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Dim procs, p, i, n, seen, mine
Set procs = CreateObject("TalvaneAgent.Processes")
n = procs.Count
Check n > 0, "Count is positive"
Check procs.Count = procs.Count, "Count is stable"
Check TypeName(procs.Item(1)) = "IProcess", "Item gives a Process object, got " & TypeName(procs.Item(1))

' Other programs start and end while the snapshot is taken, so only this
' script's own entry is checked in detail.
Dim named : named = 0
mine = False
For i = 1 To n
  Set p = procs.Item(i)
  If Len(p.Name) > 0 Then named = named + 1
  Check p.HandleCount >= 0, "item " & i & " handle count"
  If LCase(p.Name) = "cscript.exe" And p.ThreadCount >= 1 And p.ProcessId > 0 Then mine = True
Next
Check named * 2 >= n, "most items have a name: " & named & " of " & n
Check mine, "cscript.exe is in the list with its id and threads"

seen = 0
For Each p In procs
  seen = seen + 1
  If seen <= n Then Check p.ProcessId = procs.Item(seen).ProcessId, "For Each order matches Item at " & seen
Next
Check seen = n, "For Each visits Count items"

On Error Resume Next
Set p = procs.Item(0)
Check Err.Number = &H80070057, "Item(0) raises E_INVALIDARG, got " & Hex(Err.Number)
Check Len(Err.Description) > 0, "Item(0) has a description"
Err.Clear
Set p = procs.Item(n + 1)
Check Err.Number = &H80004005, "Item(Count+1) raises E_FAIL, got " & Hex(Err.Number)
Err.Clear
procs.NoSuchMember
Check Err.Number <> 0, "an unknown member raises an error"
Err.Clear
On Error GoTo 0

If failures = 0 Then
  WScript.Echo "ALL TESTS PASSED"
Else
  WScript.Quit 1
End If
