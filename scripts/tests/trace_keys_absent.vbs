' An NtFiles worker started and stopped with the installer's trace keys missing.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then failures = failures + 1 : WScript.Echo "FAIL: " & what
End Sub
Dim w, text
Set w = CreateObject("TalvaneAgent.NtFiles")
Check w.SetFilter("FILE PATH", CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path & "\", text) = 0, _
  "FILE PATH refused: " & text
Check w.Event <> 0 And w.ResetEvent(text) = 0, "Event gives no handle, or ResetEvent: " & text
Set w = Nothing
If failures > 0 Then WScript.Echo failures & " FAILURES" : WScript.Quit 1
WScript.Echo "ALL TESTS PASSED"
