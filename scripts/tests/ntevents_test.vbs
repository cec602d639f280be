' What a VBScript sees of TalvaneAgent.NtEvents. Under Wine the real event
' log stays empty, so no entry is expected here.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then failures = failures + 1 : WScript.Echo "FAIL: " & what
End Sub

Dim w, t, e
Set w = CreateObject("TalvaneAgent.NtEvents")
Check TypeName(w) = "INtEvents" And w.Count = 0, "a new INtEvents has no items, got " & TypeName(w)
e = w.Event
Check e <> 0 And w.Event = e And w.GetEvent = e, "Event and GetEvent give one handle, got " & e
t = "stale"
Check w.ResetEvent(t) = 1 And t = "" And w.Count = 0, "ResetEvent gives 1, an empty text and no items: " & t

If failures > 0 Then WScript.Echo failures & " FAILURES" : WScript.Quit 1
WScript.Echo "ALL TESTS PASSED"
