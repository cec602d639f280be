' What a VBScript sees of TalvaneAgent.NtFiles watching a scratch directory,
' each batch awaited with TalvaneAgent.Waiter on the Event handle.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then failures = failures + 1 : WScript.Echo "FAIL: " & what
End Sub

Dim fso, dir, w, waiter, r, text, handle, s, item, n
Set fso = CreateObject("Scripting.FileSystemObject")
Set waiter = CreateObject("TalvaneAgent.Waiter")
Randomize
dir = fso.GetSpecialFolder(2).Path & "\ntfiles_vbs_" & CLng(Rnd * 1000000)
fso.CreateFolder dir
fso.CreateFolder dir & "_stage"

' A new file appears whole (written beside and moved in): no listing sees it empty.
Sub PlaceFile(name, text)
  Dim f : Set f = fso.OpenTextFile(dir & "_stage\" & name, 2, True)
  f.Write text
  f.Close
  fso.MoveFile dir & "_stage\" & name, dir & "\" & name
End Sub
' The next batch as "name=description;" (no . and ..), acknowledged; item is its last entry.
Function Batch(ms)
  Dim it, k
  Batch = "<no batch>"
  If waiter.Wait(handle, ms, text) <> 0 Then Exit Function
  Batch = ""
  For Each it In w
    If it.Name <> "." And it.Name <> ".." Then Batch = Batch & it.Name & "=" & it.Description & ";" : Set item = it
  Next
  k = w.Count
  text = "stale"
  Check w.ResetEvent(text) = 0 And text = "" And w.Count = k, "ResetEvent gives 0, no text, keeps the items"
  Check waiter.Wait(handle, 0, text) = 258, "after ResetEvent the handle is down"
End Function

Set w = CreateObject("TalvaneAgent.NtFiles")
' key, value, result, text
For Each r In Array(Array("FILE PATH", dir & "\no\x.txt", -1, "Path not found." & vbCrLf), Array("FILE PATH", dir & "\", 0, ""), _
    Array("FILE NAME", "TRUE", 0, ""), Array("SIZE", "TRUE", 0, ""), Array("ATTRIBUTES", "TRUE", 0, ""))
  text = "stale"
  Check w.SetFilter(r(0), r(1), text) = r(2) And text = r(3), "SetFilter " & r(0) & "=" & r(1) & ": [" & text & "]"
Next
PlaceFile "m.txt", "abc"   ' before the first Event: part of the baseline
handle = w.Event
Check handle <> 0 And w.GetEvent = handle, "Event and GetEvent give one handle, got " & handle

' The first listing reports nothing: probe files until one is reported.
n = 0
Do
  If n = 0 Or s = "<no batch>" Then n = n + 1 : PlaceFile "p" & n & ".txt", ""
  s = Batch(1000)
Loop Until InStr(s, "p" & n & ".txt=created;") > 0 Or n = 30
Check InStr(s, "p" & n & ".txt=created;") > 0 And InStr(s, "m.txt") = 0, "the baseline, then probes only: " & s

PlaceFile "new.txt", "12345"
s = Batch(20000)
Check s = "new.txt=created;", "creation, got " & s
Check TypeName(item.Size) = "Double" And item.Size = 5 And VarType(item.LastWriteTime) = vbDate And _
  Year(item.CreationTime) >= 2000, "the new file: " & item.Size & " " & item.LastWriteTime & " " & item.CreationTime
fso.GetFile(dir & "\new.txt").Attributes = 1
s = Batch(20000)
Check s = "new.txt=attributes changed;" And (item.Attributes And 1) = 1, "read-only, got " & s

Set w = Nothing
fso.GetFile(dir & "\new.txt").Attributes = 0
fso.DeleteFolder dir, True
fso.DeleteFolder dir & "_stage", True
If failures > 0 Then WScript.Echo failures & " FAILURES" : WScript.Quit 1
WScript.Echo "ALL TESTS PASSED"
