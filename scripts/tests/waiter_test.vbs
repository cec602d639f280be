' TalvaneAgent.Waiter under cscript: a batch that arrives while the script
' waits, a time-out, a bad handle and a time-out out of range.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Function Seconds(t0)
  Seconds = Timer - t0
  If Seconds < 0 Then Seconds = Seconds + 86400
End Function

Dim fso, sh, dir, w, waiter, handle, rc, text, t0, spent, item, found
Set fso = CreateObject("Scripting.FileSystemObject")
Set sh = CreateObject("WScript.Shell")
Randomize
dir = fso.GetSpecialFolder(2).Path & "\waiter_vbs_" & CLng(Rnd * 1000000)
fso.CreateFolder dir

Set waiter = CreateObject("TalvaneAgent.Waiter")
Set w = CreateObject("TalvaneAgent.NtFiles")
Check w.SetFilter("FILE PATH", dir, text) = 0, "FILE PATH accepted: " & text
Check w.SetFilter("FILE NAME", "TRUE", text) = 0, "FILE NAME accepted: " & text
handle = w.Event

' Nothing changes: the wait ends at its time-out.
t0 = Timer
rc = waiter.Wait(handle, 700, text)
spent = Seconds(t0)
Check rc = 258, "time-out gives 258, got " & rc & " " & text
Check text = "", "no text on a time-out, got " & text
Check spent >= 0.6, "the time-out was waited, " & spent & " s"

' Another process writes a file a second from now, while this one waits.
sh.Run "cscript //nologo waiter_touch.vbs """ & dir & "\arrived.txt""", 0, False
t0 = Timer
rc = waiter.Wait(handle, 20000, text)
spent = Seconds(t0)
Check rc = 0, "the batch signals the handle, got " & rc & " " & text
Check spent >= 0.5 And spent < 15, "woken by the batch, not by the time-out: " & spent & " s"
found = False
For Each item In w
  If item.Name = "arrived.txt" Then found = True
Next
Check found, "the batch holds the new file (" & w.Count & " items)"
Check w.ResetEvent(text) = 0, "ResetEvent"
rc = waiter.Wait(handle, 0, text)
Check rc = 258, "after ResetEvent the handle is down, got " & rc

rc = waiter.Wait(0, 1000, text)
Check rc = -1, "handle 0 gives -1, got " & rc
Check InStr(text, "cannot wait on handle 0") > 0, "the text names the handle, got " & text
rc = waiter.Wait(handle, 3600001, text)
Check rc = -1 And InStr(text, "3600000") > 0, "a time-out above the maximum is refused, got " & rc & " " & text
rc = waiter.Wait(handle, -1, text)
Check rc = -1, "a negative time-out is refused, got " & rc

Set w = Nothing
fso.DeleteFolder dir, True
If failures = 0 Then
  WScript.Echo "ALL TESTS PASSED"
Else
  WScript.Echo failures & " FAILURES"
  WScript.Quit 1
End If
