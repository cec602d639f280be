' Runs the user guide's loops (scripts/guide) in cscripts of their own, output in files, and
' makes what they print: files, no event-log entries under Wine, traps from net-snmp's snmptrap.
Option Explicit
Const KEY = "HKLM\SOFTWARE\Talvane\Vigilor\4.0\Talvanemc\SnmpTrapReceiver"
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then failures = failures + 1 : WScript.Echo "FAIL: " & what
End Sub

Dim fso, sh, waiter, idle, re, base, text, script, dir, out, s, i, port
Set fso = CreateObject("Scripting.FileSystemObject")
Set sh = CreateObject("WScript.Shell")
Set waiter = CreateObject("TalvaneAgent.Waiter")
Randomize
base = fso.GetSpecialFolder(2).Path & "\guide_vbs_" & CLng(Rnd * 1000000)
fso.CreateFolder base
fso.CreateFolder base & "\idle"
' Pauses wait on the watch of a folder where nothing happens.
Set idle = CreateObject("TalvaneAgent.NtFiles")
idle.SetFilter "FILE PATH", base & "\idle", text
idle.SetFilter "FILE NAME", "TRUE", text
Sub Pause(ms)
  waiter.Wait idle.Event, ms, text
End Sub
' Starts a guide script; gives its output file.
Function Start(script, args)
  Start = base & "\" & Replace(script, ".", "_") & ".out"
  sh.Run "cmd /c cscript //nologo ..\guide\" & script & " " & args & " > """ & Start & """ 2>&1", 0, False
End Function
' The output once the loop printed its last line (at most 60 s); the file
' cannot be read while cmd writes it.
Function Finished(out)
  Dim i
  For i = 1 To 240
    On Error Resume Next
    Finished = fso.OpenTextFile(out, 1).ReadAll
    On Error GoTo 0
    If InStr(Finished, "stopped: ") > 0 Then Exit Function
    Pause 250
  Next
End Function

' A file a second for ten seconds, then quiet until the loop ends: two files
' printed show a second batch after the loop's ResetEvent.
Set re = New RegExp
re.Pattern = "f\d+\.txt created 1"
re.Global = True
For Each script In Array("ntfiles_loop.vbs", "ntfiles_loop.js")
  dir = base & "\" & Replace(script, ".", "_")
  fso.CreateFolder dir
  out = Start(script, """" & dir & """ 5")
  For i = 1 To 10
    fso.CreateTextFile(dir & "\f" & i & ".txt", True).Write "x"
    Pause 1000
  Next
  s = Finished(out)
  Check re.Execute(s).Count >= 2 And InStr(s, "stopped: 258") > 0, script & ": two batches, then the quiet time-out: " & s
Next

' Under Wine the event log stays empty: the loop runs to its end and prints no entry.
s = Finished(Start("ntevents_loop.vbs", "4"))
Check Left(s, 9) = "stopped: " And InStr(s, "stopped: -1") = 0, "ntevents_loop.vbs ran to its end: " & s

' Traps to the receiver on a port of its own, one a second for ten seconds.
port = 20000 + Int(Rnd * 20000)
sh.Run "reg delete ""HKLM\SYSTEM\CurrentControlSet\Services\SNMPTrap"" /f", 0, True
sh.RegWrite KEY & "\Port", port, "REG_DWORD"
sh.Run "reg add """ & KEY & """ /v Communities /t REG_MULTI_SZ /d public /f", 0, True
out = Start("snmp_loop.vbs", "5")
For i = 1 To 10
  sh.Run "cmd /c start /unix /usr/bin/snmptrap -M /dev/null -m : -v 1 -c public 127.0.0.1:" & port & _
    " 1.3.6.1.4.1.8072.2.3 10.1.2.3 6 17 4711 1.3.6.1.4.1.99.7 s guide", 0, False
  Pause 1000
Next
s = Finished(out)
Check InStr(s, "trap from 10.1.2.3 community public generic 6 specific 17") > 0 And _
  InStr(s, "1.3.6.1.4.1.99.7 = guide") > 0 And InStr(s, "stopped: 258") > 0, "snmp_loop.vbs: the trap, then the time-out: " & s
sh.Run "reg delete """ & KEY & """ /f", 0, True

Set idle = Nothing
On Error Resume Next
fso.DeleteFolder base, True
On Error GoTo 0
If failures > 0 Then WScript.Echo failures & " FAILURES" : WScript.Quit 1
WScript.Echo "ALL TESTS PASSED"
