' What a VBScript sees of TalvaneAgent.NtEvents through the registered DLL.
' Under Wine the real event log stays empty, so no entry is expected here.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Dim w, r, t, e1, e2, item, started
Set w = CreateObject("TalvaneAgent.NtEvents")
Check TypeName(w) = "INtEvents", "TypeName is INtEvents, got " & TypeName(w)
Check w.Count = 0, "a new watcher has no items"

t = "stale"
r = w.SetFilter("TYPES", "ERROR,WARNING", t)
Check r = 0, "TYPES is accepted, got " & r
Check t = "", "SetFilter gives an empty text, got '" & t & "'"
r = w.SetFilter("NO SUCH KEY", "x", t)
Check r = 1, "an unknown key gives 1, got " & r
Check t = "", "an unknown key gives an empty text"
r = w.SetFilter("SOURCES", "", t)
Check r = 0, "an empty value changes nothing and gives 0"
r = w.SetFilterFile("XML", "no_such_brisel_rules.xml", t)
Check r = 1, "a missing rule file gives 1, got " & r
Check t = "Cannot open filter file", "a missing rule file says so, got '" & t & "'"

Dim rx : Set rx = CreateObject("TalvaneAgent.NtEvents")
r = rx.SetFilterRX("SOURCES", "^Srv", t)
Check r = 0, "SetFilterRX accepts a pattern, got " & r
Check VarType(t) = vbString, "SetFilterRX gives a text"
Set rx = Nothing

e1 = w.Event
e2 = w.Event
Check e1 <> 0, "Event gives a handle"
Check e1 = e2, "two Event reads give the same number"
Check w.GetEvent = e1, "GetEvent gives the same number"

t = "stale"
r = w.ResetEvent(t)
Check r = 1, "ResetEvent gives 1, got " & r
Check t = "", "ResetEvent gives an empty text"
Check w.Count = 0, "ResetEvent leaves no items"

w.WriteEventToEventLog 12, 3, "2004:3:7:9:5:0:0"

On Error Resume Next
Set item = w.Item(0)
Check Err.Number = &H80070057, "Item(0) raises E_INVALIDARG, got " & Hex(Err.Number)
Err.Clear
Set item = w.Item(w.Count + 1)
Check Err.Number = &H80004005, "Item(Count+1) raises E_FAIL, got " & Hex(Err.Number)
Err.Clear
On Error GoTo 0

' The worker now waits for a log change or its 30 s timeout: release must not wait for it.
started = Timer
Set w = Nothing
Check Timer - started < 3, "release while the worker waits returns at once"

If failures = 0 Then
  WScript.Echo "ALL TESTS PASSED"
Else
  WScript.Quit 1
End If
