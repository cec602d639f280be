' What a VBScript sees of TalvaneAgent.NtFiles watching a scratch directory.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Dim fso, sh, dir, w, rc, text, handle, last, batch, item, n
Set fso = CreateObject("Scripting.FileSystemObject")
Set sh = CreateObject("WScript.Shell")
Randomize
dir = fso.GetSpecialFolder(2).Path & "\ntfiles_vbs_" & CLng(Rnd * 1000000)
fso.CreateFolder dir
fso.CreateFolder dir & "_stage"

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

Sub WriteFile(name, text, mode)
  Dim f
  Set f = fso.OpenTextFile(dir & "\" & name, mode, True)
  f.Write text
  f.Close
End Sub

' A new file that appears whole: written beside the directory and moved in,
' so that no listing can see it empty between its creation and its write.
Sub PlaceFile(name, text)
  Dim f
  Set f = fso.OpenTextFile(dir & "_stage\" & name, 2, True)
  f.Write text
  f.Close
  fso.MoveFile dir & "_stage\" & name, dir & "\" & name
End Sub

' A file of 5 GiB with nothing written: fsutil on Windows, the host's truncate under Wine.
Sub MakeHuge(name)
  Dim path, unix
  path = dir & "\" & name
  sh.Run "fsutil file seteof """ & path & """ 5368709120", 0, True
  If fso.GetFile(path).Size < 5368709120 Then
    ' Wine's ExpandEnvironmentStrings keeps the terminating zero in its result.
    unix = sh.ExpandEnvironmentStrings("%WINEPREFIX%")
    If InStr(unix, Chr(0)) > 0 Then unix = Left(unix, InStr(unix, Chr(0)) - 1)
    unix = unix & "/dosdevices/" & LCase(Left(path, 2)) & Replace(Mid(path, 3), "\", "/")
    sh.Run "cmd /c start /wait /unix /usr/bin/truncate -s 5368709120 """ & unix & """", 0, True
  End If
End Sub

' The data-ready handle from Event cannot be waited on from VBScript: poll
' for a batch whose first item is not the previous batch's first item.
Function NextBatch()
  Dim i, k, it, s
  NextBatch = "<no batch>"
  For i = 1 To 100
    If w.Count > 0 Then
      If Not (w.Item(1) Is last) Then
        Pause 150
        s = ""
        For k = 1 To w.Count
          Set it = w.Item(k)
          If it.Name <> "." And it.Name <> ".." Then s = s & it.Name & "=" & it.Description & ";"
        Next
        Set last = w.Item(1)
        NextBatch = s
        Exit Function
      End If
    End If
    Pause 100
  Next
End Function

Function Find(name)
  Dim it
  Set Find = Nothing
  For Each it In w
    If it.Name = name Then Set Find = it
  Next
End Function

WriteFile "m.txt", "abc", 2
WriteFile "big.bin", "x", 2
Set last = Nothing
Set w = CreateObject("TalvaneAgent.NtFiles")
Check w.Count = 0, "Count is 0 before the first batch"

rc = w.SetFilter("FILE PATH", dir & "\", text)
Check rc = 0 And text = "", "FILE PATH accepted, got " & rc & " " & text
rc = w.SetFilter("file name", "TRUE", text)
Check rc = 1 And text = "Invalid Filter", "lower-case key refused, got " & rc & " " & text
rc = w.SetFilter("SIZE", "", text)
Check rc = -1 And text = "", "empty value gives -1, got " & rc
rc = w.SetFilter("FILE PATH", dir & "\no_such_dir\x.txt", text)
Check rc = -1 And Len(text) > 0, "missing path gives -1 and the system's message, got " & rc & " " & text
Check w.SetFilter("FILE NAME", "TRUE", text) = 0, "FILE NAME"
Check w.SetFilter("SIZE", "TRUE", text) = 0, "SIZE"
Check w.SetFilter("ATTRIBUTES", "TRUE", text) = 0, "ATTRIBUTES"

handle = w.Event
Check handle <> 0, "Event gives a handle"
Check w.GetEvent = handle, "GetEvent gives the same handle"
Pause 500
Check w.Count = 0, "the first listing reports nothing"

PlaceFile "new.txt", "12345"
batch = NextBatch()
Check batch = "new.txt=created;", "creation, got " & batch
Set item = Find("new.txt")
If Not item Is Nothing Then
  Check item.Size = 5, "Size of the new file, got " & item.Size
  Check VarType(item.LastWriteTime) = vbDate, "LastWriteTime is a date"
  Check Year(item.CreationTime) >= 2000, "CreationTime is plausible, got " & item.CreationTime
End If

On Error Resume Next
Set item = w.Item(0)
Check Err.Number = &H80070057, "Item(0) raises E_INVALIDARG, got " & Hex(Err.Number)
Err.Clear
Set item = w.Item(w.Count + 1)
Check Err.Number = &H80004005, "Item(Count+1) raises E_FAIL, got " & Hex(Err.Number)
Err.Clear
On Error GoTo 0

n = w.Count
text = "stale"
rc = w.ResetEvent(text)
Check rc = 0 And text = "", "ResetEvent gives 0 and an empty text"
Check w.Count = n, "Count is unchanged by ResetEvent"

fso.MoveFile dir & "\m.txt", dir & "\a.txt"
batch = NextBatch()
Check batch = "a.txt=created;m.txt=deleted;", "rename, got " & batch
w.ResetEvent text

WriteFile "a.txt", "more", 8
batch = NextBatch()
Check batch = "a.txt=size changed;", "growth, got " & batch
w.ResetEvent text

fso.GetFile(dir & "\a.txt").Attributes = 1
batch = NextBatch()
Check batch = "a.txt=attributes changed;", "attributes, got " & batch
Set item = Find("a.txt")
If Not item Is Nothing Then
  n = item.Attributes And 1
  Check n = 1, "the read-only bit is reported"
End If
w.ResetEvent text

MakeHuge "big.bin"
batch = NextBatch()
Check batch = "big.bin=size changed;", "huge file, got " & batch
Set item = Find("big.bin")
If Not item Is Nothing Then Check item.Size = 5368709120, "Size above 4 GiB, got " & item.Size
w.ResetEvent text

Set w = Nothing
fso.GetFile(dir & "\a.txt").Attributes = 0
fso.DeleteFolder dir, True
fso.DeleteFolder dir & "_stage", True

If failures = 0 Then
  WScript.Echo "ALL TESTS PASSED"
Else
  WScript.Quit 1
End If
