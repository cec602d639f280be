' What a VBScript sees of TalvaneAgent.NtEvents (under Wine the real event log
' stays empty): one handle from Event and GetEvent, a reset, and a missing rule file.
Option Explicit
Dim w, t, e
Set w = CreateObject("TalvaneAgent.NtEvents")
e = w.Event
t = "stale"
If TypeName(w) <> "INtEvents" Or w.Count <> 0 Or e = 0 Or w.GetEvent <> e Or w.ResetEvent(t) <> 1 Or t <> "" Then
  WScript.Echo "FAIL: " & TypeName(w) & " with " & w.Count & " items, handles " & e & " and " & w.GetEvent & ", [" & t & "]"
  WScript.Quit 1
End If
t = "stale"
If w.SetFilterFile("XML", "no_such_brisel_rules.xml", t) <> 1 Or t <> "Cannot open filter file" Then
  WScript.Echo "FAIL: a missing rule file gives " & t
  WScript.Quit 1
End If
WScript.Echo "ALL TESTS PASSED"
