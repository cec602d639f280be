' Prints the changes in a folder, batch by batch, until none came for a while.
' usage: cscript //nologo ntfiles_loop.vbs <folder> <quiet seconds>
Option Explicit
Dim files, waiter, handle, rc, text, item
Set files = CreateObject("TalvaneAgent.NtFiles")
Set waiter = CreateObject("TalvaneAgent.Waiter")
' FILE PATH first: it starts the watch. Then at least one kind of change.
If files.SetFilter("FILE PATH", WScript.Arguments(0), text) <> 0 Then
  WScript.Echo "FILE PATH refused: " & text
  WScript.Quit 1
End If
files.SetFilter "FILE NAME", "TRUE", text
files.SetFilter "SIZE", "TRUE", text
handle = files.Event
Do
  rc = waiter.Wait(handle, WScript.Arguments(1) * 1000, text)
  If rc <> 0 Then Exit Do
  For Each item In files
    WScript.Echo item.Name & " " & item.Description & " " & item.Size
  Next
  ' The next batch comes only after ResetEvent.
  files.ResetEvent text
Loop
WScript.Echo "stopped: " & rc & " " & text
