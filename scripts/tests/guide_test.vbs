' Runs the README's loops (scripts/guide, the files the README shows) as a
' user would, each in a cscript of its own with its output in a file, and
' makes the events they are to print: files, no event-log entries under
' Wine, and traps sent by net-snmp's snmptrap to the built-in receiver.
Option Explicit
Const KEY = "HKLM\SOFTWARE\Talvane\Vigilor\4.0\Talvanemc\SnmpTrapReceiver"
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Dim fso, sh, base, idle, idleHandle, waiter, text
Set fso = CreateObject("Scripting.FileSystemObject")
Set sh = CreateObject("WScript.Shell")
Set waiter = CreateObject("TalvaneAgent.Waiter")
Randomize
base = fso.GetSpecialFolder(2).Path & "\guide_vbs_" & CLng(Rnd * 1000000)
fso.CreateFolder base
' Pauses wait on a watch of a folder where nothing happens.
fso.CreateFolder base & "\idle"
Set idle = CreateObject("TalvaneAgent.NtFiles")
idle.SetFilter "FILE PATH", base & "\idle", text
idle.SetFilter "FILE NAME", "TRUE", text
idleHandle = idle.Event
Sub Pause(ms)
  waiter.Wait idleHandle, ms, text
End Sub

Function ReadOut(path)
  ReadOut = ""
  On Error Resume Next
  ReadOut = fso.OpenTextFile(path, 1).ReadAll
End Function

' Starts a guide script; its output goes to a file.
Function StartLoop(script, args, name)
  StartLoop = base & "\" & name & ".out"
  sh.Run "cmd /c cscript //nologo ..\guide\" & script & " " & args & " > """ & StartLoop & """ 2>&1", 0, False
End Function

' Waits up to 60 s for the loop's last line.
Function Finished(out)
  Dim i
  For i = 1 To 240
    Finished = ReadOut(out)
    If InStr(Finished, "stopped: ") > 0 Then Exit Function
    Pause 250
  Next
End Function

Function CountMatches(pattern, s)
  Dim re
  Set re = New RegExp
  re.Pattern = pattern
  re.Global = True
  CountMatches = re.Execute(s).Count
End Function

' The folder loops: a file a second for ten seconds (the loop's output file
' cannot be read while cmd writes it), then quiet until the loop ends. Two
' files printed: the second batch came after the loop's ResetEvent.
Sub FolderLoop(script)
  Dim dir, out, i, f, s
  dir = base & "\" & fso.GetBaseName(script) & "_" & fso.GetExtensionName(script)
  fso.CreateFolder dir
  out = StartLoop(script, """" & dir & """ 5", fso.GetFileName(dir))
  For i = 1 To 10
    Set f = fso.CreateTextFile(dir & "\f" & i & ".txt", True)
    f.Write "x"
    f.Close
    Pause 1000
  Next
  s = Finished(out)
  Check CountMatches("f\d+\.txt created 1", s) >= 2, script & " printed two batches: " & s
  Check InStr(s, "stopped: 258") > 0, script & " ended at its quiet time-out: " & s
End Sub

FolderLoop "ntfiles_loop.vbs"
FolderLoop "ntfiles_loop.js"

' Under Wine the event log stays empty: the loop runs to its end and prints
' no entry.
Dim out, s
out = StartLoop("ntevents_loop.vbs", "4", "ntevents")
s = Finished(out)
Check Left(s, 9) = "stopped: " And InStr(s, "stopped: -1") = 0, "ntevents_loop.vbs ran to its end: " & s

' Traps to the receiver on a port of its own, one a second for ten seconds.
Dim port, dir, i
port = 20000 + Int(Rnd * 20000)
sh.Run "reg delete ""HKLM\SYSTEM\CurrentControlSet\Services\SNMPTrap"" /f", 0, True
sh.RegWrite KEY & "\Port", port, "REG_DWORD"
sh.Run "reg add """ & KEY & """ /v Communities /t REG_MULTI_SZ /d public /f", 0, True
out = StartLoop("snmp_loop.vbs", "5", "snmp")
For i = 1 To 10
  sh.Run "cmd /c start /unix /usr/bin/snmptrap -M /dev/null -m : -v 1 -c public 127.0.0.1:" & port & _
    " 1.3.6.1.4.1.8072.2.3 10.1.2.3 6 17 4711 1.3.6.1.4.1.99.7 s guide", 0, False
  Pause 1000
Next
s = Finished(out)
Check InStr(s, "trap from 10.1.2.3 community public generic 6 specific 17") > 0, "snmp_loop.vbs printed the trap: " & s
Check InStr(s, "1.3.6.1.4.1.99.7 = guide") > 0, "snmp_loop.vbs printed the binding: " & s
Check InStr(s, "stopped: 258") > 0, "snmp_loop.vbs ended at its quiet time-out: " & s
sh.Run "reg delete """ & KEY & """ /f", 0, True

Set idle = Nothing
Pause 0
On Error Resume Next
fso.DeleteFolder base, True
On Error GoTo 0
If failures = 0 Then
  WScript.Echo "ALL TESTS PASSED"
Else
  WScript.Echo failures & " FAILURES"
  WScript.Quit 1
End If
