' Prints new error and warning entries of every log but Security.
' usage: cscript //nologo ntevents_loop.vbs <seconds to run>
Option Explicit
Dim events, waiter, handle, rc, text, e, deadline
Set events = CreateObject("TalvaneAgent.NtEvents")
Set waiter = CreateObject("TalvaneAgent.Waiter")
events.SetFilter "TYPES", "ERROR,WARNING", text
events.SetFilter "LOGS", ":Security", text
deadline = DateAdd("s", WScript.Arguments(0), Now)
handle = events.Event
Do While Now < deadline
  ' A second at a time, to look at the clock in between.
  rc = waiter.Wait(handle, 1000, text)
  If rc = -1 Then Exit Do
  If rc = 0 Then
    ' A batch may be empty: the worker publishes one after every 30-second poll.
    For Each e In events
      WScript.Echo e.CreationTimeString & " " & e.Logfile & " " & e.Type & " " & e.SourceName & " " & e.EventCode & ": " & e.Message
    Next
    events.ResetEvent text
  End If
Loop
WScript.Echo "stopped: " & rc & " " & text
