' Watching the event logs with TalvaneAgent.NtEvents: errors and warnings
' of any log except Security, for a few seconds.
' Under Wine the real event log stays empty (its functions are stubs), so
' this sample finds no entries there; on Windows it lists what arrives.
Option Explicit
Dim w, waiter, r, t, handle, i, n, e
Set w = CreateObject("TalvaneAgent.NtEvents")
r = w.SetFilter("TYPES", "ERROR,WARNING", t)
WScript.Echo "SetFilter TYPES ERROR,WARNING -> " & r
r = w.SetFilter("LOGS", ":Security", t)
WScript.Echo "SetFilter LOGS :Security -> " & r
r = w.SetFilter("NO SUCH KEY", "x", t)
WScript.Echo "SetFilter with an unknown key -> " & r

' Waits up to three seconds for the first batch on the data-ready handle.
Set waiter = CreateObject("TalvaneAgent.Waiter")
handle = w.Event
WScript.Echo "Event handle: " & handle
WScript.Echo "Wait -> " & waiter.Wait(handle, 3000, t)

n = w.Count
WScript.Echo "Entries collected: " & n
For i = 1 To n
  Set e = w.Item(i)
  WScript.Echo e.CreationTimeString & " " & e.Logfile & " " & e.Type & " " & e.SourceName & _
    " " & e.EventCode & " [" & e.Category & "] " & e.UserName & ": " & e.Message
Next
If n = 0 Then WScript.Echo "(none: under Wine the real event log stays empty)"

WScript.Echo "ResetEvent -> " & w.ResetEvent(t)
Set w = Nothing
WScript.Echo "done"
