' What a VBScript sees of TalvaneAgent.SnmpEvents where the SNMP trap
' service is not installed (no SNMPTrap service key).
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Dim shell, present
Set shell = CreateObject("WScript.Shell")
On Error Resume Next
shell.RegRead "HKLM\SYSTEM\CurrentControlSet\Services\SNMPTrap\"
present = (Err.Number = 0)
Err.Clear
On Error GoTo 0
Check Not present, "the trap service key is absent in this prefix"

Dim snmp, r, errText, item, n
Set snmp = CreateObject("TalvaneAgent.SnmpEvents")
Check TypeName(snmp) = "ISnmpEvents", "TypeName is ISnmpEvents, got " & TypeName(snmp)
Check snmp.Event = 0, "Event is 0 without the trap service"
Check snmp.GetEvent() = 0, "GetEvent is 0 without the trap service"

errText = "unchanged"
r = snmp.SetFilter("COMMUNITY", "public", errText)
Check r = -1, "SetFilter gives -1, got " & r
Check VarType(errText) = vbString And errText = "", "SetFilter error text is empty"
r = snmp.SetFilter("no such key", "x", errText)
Check r = -1, "any key gives -1 without watcher"

errText = "unchanged"
r = snmp.ResetEvent(errText)
Check r = 0, "ResetEvent gives 0, got " & r
Check VarType(errText) = vbString And errText = "", "ResetEvent error text is empty"

Check snmp.Count = 0, "no traps"
n = 0
For Each item In snmp
  n = n + 1
Next
Check n = 0, "For Each visits nothing"

On Error Resume Next
Set item = snmp.Item(0)
Check Err.Number = &H80070057, "Item(0) raises E_INVALIDARG, got " & Hex(Err.Number)
Err.Clear
Set item = snmp.Item(1)
Check Err.Number = &H80004005, "Item(1) of an empty collection raises E_FAIL, got " & Hex(Err.Number)
Err.Clear
snmp.WriteEventToEventLog 1, 2, "now"
Check Err.Number = 0, "WriteEventToEventLog raises nothing"
Err.Clear
On Error GoTo 0
Check snmp.Count = 0, "WriteEventToEventLog changes nothing"

If failures = 0 Then
  WScript.Echo "ALL TESTS PASSED"
Else
  WScript.Quit 1
End If
