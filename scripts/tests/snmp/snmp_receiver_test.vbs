' The built-in trap receiver against net-snmp's snmptrap and snmpinform
' (send_traps.sh, started here through "start /unix"): v1 and v2c traps and
' a v2c inform with their exact fields and the text of every value type, the
' filter applied, a refused community that never arrives.
Option Explicit
Const KEY = "HKLM\SOFTWARE\Talvane\Vigilor\4.0\Talvanemc\SnmpTrapReceiver"
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Dim shell, port, dir
Set shell = CreateObject("WScript.Shell")
' A port of its own, so that runs in other build trees do not meet it.
Randomize
port = 20000 + Int(Rnd * 20000)
shell.Run "reg delete ""HKLM\SYSTEM\CurrentControlSet\Services\SNMPTrap"" /f", 0, True
shell.RegWrite KEY & "\Port", port, "REG_DWORD"
Check shell.Run("reg add """ & KEY & """ /v Communities /t REG_MULTI_SZ /d ""public\0ops"" /f", 0, True) = 0, _
  "communities written"

Dim events, errText, h
Set events = CreateObject("TalvaneAgent.SnmpEvents")
Check events.SetFilter("SPECIFIC", ":99", errText) = 0, "SetFilter works without the trap service"
h = events.Event
Check h <> 0 And h <> -1, "Event gives the data event handle, got " & h

' The script's directory as Wine maps it: Z:\a\b -> /a/b
dir = Replace(Mid(shell.CurrentDirectory, 3), "\", "/")
shell.Run "cmd /c start /unix /bin/sh " & dir & "/snmp/send_traps.sh " & port, 0, False

Dim last : Set last = Nothing
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
' The next delivery: a new SnmpEvent, or Nothing for a trap the filter took
' out (Count 0). Gives up after 30 s.
Function NextTrap()
  Dim i, item
  Set NextTrap = Nothing
  For i = 1 To 600
    If events.Count = 0 Then
      If Not last Is Nothing Then Exit Function
    Else
      Set item = events.Item(1)
      If Not item Is last Then
        Set NextTrap = item
        Exit Function
      End If
    End If
    Pause 50
  Next
  WScript.Echo "FAIL: no trap within 30 s"
  WScript.Quit 1
End Function
Sub Acknowledge(t)
  Set last = t
  Check events.ResetEvent(errText) = 0, "ResetEvent"
End Sub

Function Texts(t)
  Dim vb, s
  s = ""
  For Each vb In t.SnmpVarbindList
    s = s & vb.ObjectIdentifier & "|" & vb.Encoding & "|" & vb.Value & vbLf
  Next
  Texts = s
End Function
Sub CheckTrap(t, what, community, ident, agent, generic, specific, stamp, bindings)
  If t Is Nothing Then
    Check False, what & ": filtered out"
    Exit Sub
  End If
  Check t.Community = community, what & " community " & t.Community
  Check t.Identification = ident, what & " identification " & t.Identification
  Check t.AgentAddress = agent, what & " agent " & t.AgentAddress
  Check t.TransportAddress = "127.0.0.1", what & " transport " & t.TransportAddress
  Check t.Generic = generic, what & " generic " & t.Generic
  Check t.Specific = specific, what & " specific " & t.Specific
  Check t.TimeStamp = stamp, what & " time stamp " & t.TimeStamp
  Check Texts(t) = bindings, what & " bindings:" & vbLf & Texts(t)
End Sub

Const E = ".1.3.6.1.4.1.99"
Dim all : all = E & ".1|INTEGER|-5" & vbLf & E & ".2|GAUGE32|4294967295" & vbLf & E & ".3|COUNTER32|7" & vbLf & _
  E & ".4|TIMETICKS|360000" & vbLf & E & ".5|IPADDRESS|192.0.2.1" & vbLf & _
  E & ".6|OBJECTIDENTIFIER|.1.3.6.1.4.1.9" & vbLf & E & ".7|OCTET STRING|hello_world" & vbLf & _
  E & ".8|OCTET STRING|A<0><7F>" & vbLf & E & ".9||" & vbLf

Dim t
Set t = NextTrap()
CheckTrap t, "v1 trap", "public", ".1.3.6.1.4.1.8072.2.3", "10.1.2.3", 6, 17, 4711, all
Acknowledge t
' The trap with the refused community (specific 50) must not come next.
Set t = NextTrap()
CheckTrap t, "v2c trap", "public", ".1.3.6.1.4.1.9", "127.0.0.1", 6, 3, 12345, _
  all & E & ".10||18446744073709551615" & vbLf
Acknowledge t
Set t = NextTrap()
Check t Is Nothing, "specific 99 is filtered out: Count 0"
Acknowledge t
Set t = NextTrap()
CheckTrap t, "v2c inform (linkUp)", "ops", ".1.3.6.1.6.3.1.1.5", "192.0.2.7", 3, 0, 777, _
  ".1.3.6.1.6.3.18.1.3.0|IPADDRESS|192.0.2.7" & vbLf
Acknowledge t
Set t = NextTrap()
CheckTrap t, "last trap", "public", ".1.3.6.1.4.1.9", "127.0.0.1", 6, 100, 2, _
  E & ".100|OCTET STRING|inform exit 0" & vbLf
Acknowledge t

shell.Run "reg delete """ & KEY & """ /f", 0, True
If failures = 0 Then
  WScript.Echo "ALL TESTS PASSED"
Else
  WScript.Quit 1
End If
