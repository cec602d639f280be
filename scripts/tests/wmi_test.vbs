' What a VBScript sees of TalvaneAgent.Processes, and of MofCompile without a MOF compiler.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then failures = failures + 1 : WScript.Echo "FAIL: " & what
End Sub

Dim procs, p, n, seen, mine, message
Set procs = CreateObject("TalvaneAgent.Processes")
n = procs.count  ' member names without regard to case
seen = 0
mine = False
For Each p In procs
  seen = seen + 1
  If LCase(p.Name) = "cscript.exe" And p.ThreadCount >= 1 And p.ProcessId > 0 Then mine = True
Next
Check seen = n And n > 1, "For Each visits Count items: " & seen & " of " & n
Check mine, "cscript.exe is in the list with its id and threads"
On Error Resume Next
Set p = procs.Item(0)
Check Err.Number = &H80070057 And Len(Err.Description) > 0, "Item(0): " & Hex(Err.Number) & " " & Err.Description
Err.Clear
Set p = procs.Item(n + 1)
Check Err.Number = &H80004005, "Item(Count+1) raises E_FAIL, got " & Hex(Err.Number)
On Error GoTo 0

' The [out] message replaces whatever the variable held.
message = 42
Check CreateObject("TalvaneAgent.Brisel").MofCompile("class A {};", 0, message) = -1, "a failure is -1"
Check TypeName(message) = "String" And message = "failed to create IMofCompiler", "message: " & message

If failures > 0 Then WScript.Echo failures & " FAILURES" : WScript.Quit 1
WScript.Echo "ALL TESTS PASSED"
