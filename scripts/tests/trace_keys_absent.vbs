' Starts an NtFiles worker and stops it again: run by the test that checks
' what the trace facility says when the installer's keys are missing.
Option Explicit
Dim fso, w, text, failures
failures = 0
Set fso = CreateObject("Scripting.FileSystemObject")
Set w = CreateObject("TalvaneAgent.NtFiles")
If w.SetFilter("FILE PATH", fso.GetSpecialFolder(2).Path & "\", text) <> 0 Then
  failures = failures + 1
  WScript.Echo "FAIL: FILE PATH refused: " & text
End If
If w.Event = 0 Then
  failures = failures + 1
  WScript.Echo "FAIL: Event gives no handle"
End If
If w.ResetEvent(text) <> 0 Then
  failures = failures + 1
  WScript.Echo "FAIL: ResetEvent: " & text
End If
Set w = Nothing
If failures > 0 Then WScript.Quit 1
WScript.Echo "ALL TESTS PASSED"
