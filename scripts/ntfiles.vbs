' Watches a scratch folder through TalvaneAgent.NtFiles, makes a few changes
' and prints what the watcher reports.
Option Explicit
Dim fso, dir, w, text, handle, i, f, item

' Wine's script host lacks WScript.Sleep: spin on the clock there instead.
Sub Pause(ms)
  Dim t0
  On Error Resume Next
  WScript.Sleep ms
  If Err.Number = 0 Then Exit Sub
  On Error GoTo 0
  t0 = Timer
  Do While Abs(Timer - t0) < ms / 1000
  Loop
End Sub

' A script cannot wait on the handle itself: poll Count for up to five seconds.
Function WaitForBatch()
  Dim k
  WaitForBatch = False
  For k = 1 To 50
    If w.Count > 0 Then
      WaitForBatch = True
      Exit Function
    End If
    Pause 100
  Next
End Function

Set fso = CreateObject("Scripting.FileSystemObject")
Randomize
dir = fso.GetSpecialFolder(2).Path & "\ntfiles_sample_" & CLng(Rnd * 1000000)
fso.CreateFolder dir
fso.CreateTextFile(dir & "\existing.txt").Close

Set w = CreateObject("TalvaneAgent.NtFiles")
WScript.Echo "FILE PATH " & w.SetFilter("FILE PATH", dir, text) & " " & text
w.SetFilter "FILE NAME", "TRUE", text
w.SetFilter "SIZE", "TRUE", text
handle = w.Event
WScript.Echo "watching " & dir & ", data-ready handle " & handle
Pause 300

Set f = fso.CreateTextFile(dir & "\report.txt")
f.Write "hello"
f.Close
fso.MoveFile dir & "\existing.txt", dir & "\renamed.txt"

If WaitForBatch() Then
  Pause 200
  WScript.Echo "changes: " & w.Count
  For Each item In w
    If item.Name <> "." And item.Name <> ".." Then
      WScript.Echo "  " & item.Name & ": " & item.Description & ", size " & item.Size & ", written " & item.LastWriteTime & " UTC"
    End If
  Next
Else
  WScript.Echo "no changes reported within five seconds"
End If
WScript.Echo "ResetEvent " & w.ResetEvent(text)

Set w = Nothing
fso.DeleteFolder dir, True
