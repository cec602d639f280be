' SnmpEvents: the built-in receiver against net-snmp's tools (send_traps.sh), then without it.
Option Explicit
Const KEY = "HKLM\SOFTWARE\Talvane\Vigilor\4.0\Talvanemc\SnmpTrapReceiver"
Const SVC = "HKLM\SYSTEM\CurrentControlSet\Services\SNMPTrap"
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then failures = failures + 1 : WScript.Echo "FAIL: " & what
End Sub

Dim sh, waiter, events, port, h, text, a, b
Set sh = CreateObject("WScript.Shell")
Set waiter = CreateObject("TalvaneAgent.Waiter")
Randomize
port = 20000 + Int(Rnd * 20000)   ' apart from runs in other build trees
sh.Run "reg delete """ & SVC & """ /f", 0, True
sh.RegWrite KEY & "\Port", port, "REG_DWORD"
Check sh.Run("reg add """ & KEY & """ /v Communities /t REG_MULTI_SZ /d ""public\0ops"" /f", 0, True) = 0, "communities"
Set events = CreateObject("TalvaneAgent.SnmpEvents")
h = events.Event
Check events.SetFilter("SPECIFIC", ":99", text) = 0 And h <> 0 And h <> -1, "receiver: SetFilter 0, Event " & h
sh.Run "cmd /c start /unix /bin/sh " & Replace(Mid(sh.CurrentDirectory, 3), "\", "/") & "/snmp/send_traps.sh " & port, 0, False

' The next delivery as text, acknowledged; a trap the filter took out leaves an empty batch.
Sub Expect(want, what)
  Dim t, vb, got
  If waiter.Wait(h, 30000, text) <> 0 Then WScript.Echo "FAIL: no trap within 30 s" : WScript.Quit 1
  got = "<filtered out>"
  If events.Count > 0 Then
    Set t = events.Item(1)
    got = t.Community & " " & t.Identification & " " & t.AgentAddress & " " & t.TransportAddress & " " & _
      t.Generic & " " & t.Specific & " " & t.TimeStamp & vbLf
    For Each vb In t.SnmpVarbindList : got = got & vb.ObjectIdentifier & "|" & vb.Encoding & "|" & vb.Value & vbLf : Next
  End If
  Check events.ResetEvent(text) = 0 And got = want, what & ":" & vbLf & got
End Sub

' Octets print as characters of code page 1252 (Wine's), but 0x80 is never the euro sign.
Const E = ".1.3.6.1.4.1.99"
Dim all : all = E & ".1|INTEGER|-5" & vbLf & E & ".2|GAUGE32|4294967295" & vbLf & E & ".3|COUNTER32|7" & vbLf & _
  E & ".4|TIMETICKS|360000" & vbLf & E & ".5|IPADDRESS|192.0.2.1" & vbLf & _
  E & ".6|OBJECTIDENTIFIER|.1.3.6.1.4.1.9" & vbLf & E & ".7|OCTET STRING|hello_world" & vbLf & _
  E & ".8|OCTET STRING|A<0><7F>" & Chr(&HA9) & Chr(&HFF) & "<80><81>" & vbLf & E & ".9||" & vbLf
Expect "public .1.3.6.1.4.1.8072.2.3 10.1.2.3 127.0.0.1 6 17 4711" & vbLf & all, "v1 trap"
' The trap with the refused community (specific 50) must not come next.
Expect "public .1.3.6.1.4.1.9 127.0.0.1 127.0.0.1 6 3 12345" & vbLf & all & E & ".10||18446744073709551615" & vbLf, "v2c"
Expect "<filtered out>", "specific 99"
Expect "ops .1.3.6.1.6.3.1.1.5 192.0.2.7 127.0.0.1 3 0 777" & vbLf & ".1.3.6.1.6.3.18.1.3.0|IPADDRESS|192.0.2.7" & vbLf, _
  "v2c inform (linkUp)"
Expect "public .1.3.6.1.4.1.9 127.0.0.1 127.0.0.1 6 100 2" & vbLf & E & ".100|OCTET STRING|inform exit 0" & vbLf, "last"
Set events = Nothing
sh.RegWrite KEY & "\Port", CStr(port), "REG_SZ"   ' a port as text is off

' Neither receiver nor trap service: no watcher.
Set a = CreateObject("TalvaneAgent.SnmpEvents")
text = "unchanged"
Check TypeName(a) = "ISnmpEvents" And a.Event = 0 And a.GetEvent() = 0 And a.Count = 0, "no watcher: Event 0"
Check a.SetFilter("COMMUNITY", "x", text) = -1 And text = "", "no watcher: SetFilter gives -1 and no text: " & text
text = "unchanged"
Check a.ResetEvent(text) = 0 And text = "", "no watcher: ResetEvent 0 and no text: " & text

' With the trap service's key, read when an object is created.
sh.RegWrite SVC & "\", ""
Set a = CreateObject("TalvaneAgent.SnmpEvents")
h = a.Event
Set b = CreateObject("TalvaneAgent.SnmpEvents")
Check h <> 0 And h <> -1 And a.GetEvent() = h And b.Event <> h And b.Event <> 0, "each object its own data event: " & h
' WScript.Shell's RegDelete cannot remove a key under Wine; reg.exe can.
Check sh.Run("reg delete """ & SVC & """ /f", 0, True) = 0, "the trap service key is removed again"
Check CreateObject("TalvaneAgent.SnmpEvents").Event = 0 And a.Event = h, "only objects made with the key watch"

sh.Run "reg delete """ & KEY & """ /f", 0, True
If failures > 0 Then WScript.Echo failures & " FAILURES" : WScript.Quit 1
WScript.Echo "ALL TESTS PASSED"
