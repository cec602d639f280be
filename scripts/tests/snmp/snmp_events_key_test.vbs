' TalvaneAgent.SnmpEvents with the SNMP trap service key present. The
' platform's trap API is missing under Wine, so no trap ever arrives, but
' the object registers, hands out its data event and takes filters.
Option Explicit
Const KEY = "HKLM\SYSTEM\CurrentControlSet\Services\SNMPTrap\"
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Dim shell
Set shell = CreateObject("WScript.Shell")
shell.RegWrite KEY, ""

Dim a, b, none, r, errText, h, item
Set a = CreateObject("TalvaneAgent.SnmpEvents")
Set b = CreateObject("TalvaneAgent.SnmpEvents")

errText = "unchanged"
r = a.SetFilter("COMMUNITY", "public", errText)
Check r = 0, "COMMUNITY is taken, got " & r
Check VarType(errText) = vbString And errText = "", "error text is empty"
Check a.SetFilter("community", "public", errText) = 1, "a lower-case key is not recognised"
Check a.SetFilter("SEPERATOR", "|", errText) = 0, "SEPERATOR is taken"
Check a.SetFilter("NO SUCH KEY", "", errText) = 0, "an empty value is accepted"

h = a.Event
Check h <> 0 And h <> -1, "Event gives the data event handle, got " & h
Check a.GetEvent() = h, "GetEvent gives the same handle"
Check b.Event <> h, "each object has its own data event"
Check b.Event <> 0, "the second object registers too"

r = a.ResetEvent(errText)
Check r = 0, "ResetEvent gives 0, got " & r
Check a.Count = 0, "no trap arrives here"
On Error Resume Next
Set item = a.Item(1)
Check Err.Number = &H80004005, "Item(1) raises E_FAIL, got " & Hex(Err.Number)
Err.Clear
On Error GoTo 0

' The key is looked at when an object is created. (WScript.Shell's RegDelete
' cannot remove a key under Wine; reg.exe can.)
Check shell.Run("reg delete ""HKLM\SYSTEM\CurrentControlSet\Services\SNMPTrap"" /f", 0, True) = 0, _
  "the trap service key is removed again"
Set none = CreateObject("TalvaneAgent.SnmpEvents")
Check none.Event = 0, "an object made without the key gives 0"
Check a.Event = h, "an object made with the key keeps its watcher"

If failures = 0 Then
  WScript.Echo "ALL TESTS PASSED"
Else
  WScript.Quit 1
End If
