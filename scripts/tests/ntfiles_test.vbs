' What a VBScript sees of TalvaneAgent.NtFiles, each batch awaited with TalvaneAgent.Waiter.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then failures = failures + 1 : WScript.Echo "FAIL: " & what
End Sub

Dim fso, dir, w, waiter, text, handle, s, item, n
Set fso = CreateObject("Scripting.FileSystemObject")
Set waiter = CreateObject("TalvaneAgent.Waiter")
Randomize
dir = fso.GetSpecialFolder(2).Path & "\ntfiles_vbs_" & CLng(Rnd * 1000000)
fso.CreateFolder dir

' A new file appears whole (written beside, closed, moved in): no listing sees it empty.
Sub PlaceFile(name, text)
  fso.CreateTextFile(dir & "_" & name, True).Write text
  fso.MoveFile dir & "_" & name, dir & "\" & name
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
Check w.SetFilter("FILE PATH", dir & "\no\x.txt", text) = -1 And text = "Path not found." & vbCrLf, "missing folder: " & text
Check w.SetFilter("FILE PATH", dir & "\", text) = 0 And w.SetFilter("FILE NAME", "TRUE", text) = 0 And _
  w.SetFilter("ATTRIBUTES", "TRUE", text) = 0 And text = "", "folder, names and attributes: " & text
PlaceFile "m.txt", "abc"   ' before the worker starts: part of the baseline
handle = w.GetEvent

' The first listing reports nothing: probe files until one is reported.
Do
  If n = 0 Or s = "<no batch>" Then n = n + 1 : PlaceFile "p" & n & ".txt", ""
  s = Batch(1000)
Loop Until InStr(s, "p" & n & ".txt=created;") > 0 Or n = 30
Check InStr(s, "p" & n & ".txt=created;") > 0 And InStr(s, "m.txt") = 0, "the baseline, then probes only: " & s

PlaceFile "new.txt", "12345"
s = Batch(20000)
Check s = "new.txt=created;" And TypeName(item.Size) = "Double" And item.Size = 5 And _
  VarType(item.LastWriteTime) = vbDate And Year(item.CreationTime) >= 2000, "creation, got " & s
fso.GetFile(dir & "\new.txt").Attributes = 1
s = Batch(20000)
Check s = "new.txt=attributes changed;" And (item.Attributes And 1) = 1, "read-only, got " & s

Set w = Nothing
fso.DeleteFolder dir, True
If failures > 0 Then WScript.Echo failures & " FAILURES" : WScript.Quit 1
WScript.Echo "ALL TESTS PASSED"
