' Watches a scratch folder through TalvaneAgent.NtFiles, makes a few changes
' and prints what the watcher reports.
Option Explicit
Dim fso, dir, w, waiter, text, handle, i, f, item, rc
Set waiter = CreateObject("TalvaneAgent.Waiter")

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
' Lets the watcher take its first listing (nothing arrives in this time).
waiter.Wait handle, 300, text

Set f = fso.CreateTextFile(dir & "\report.txt")
f.Write "hello"
f.Close
fso.MoveFile dir & "\existing.txt", dir & "\renamed.txt"

' One batch per wait; ResetEvent asks for the next. Ends after a second
' without changes.
rc = waiter.Wait(handle, 5000, text)
Do While rc = 0
  WScript.Echo "changes: " & w.Count
  For Each item In w
    If item.Name <> "." And item.Name <> ".." Then
      WScript.Echo "  " & item.Name & ": " & item.Description & ", size " & item.Size & ", written " & item.LastWriteTime & " UTC"
    End If
  Next
  WScript.Echo "ResetEvent " & w.ResetEvent(text)
  rc = waiter.Wait(handle, 1000, text)
Loop
WScript.Echo "Wait " & rc & ": no more changes"

Set w = Nothing
fso.DeleteFolder dir, True
