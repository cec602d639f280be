' Listens for SNMP traps through TalvaneAgent.SnmpEvents for a few seconds.
' Where the SNMP trap service is not installed, Event answers 0 and filters
' cannot be set (-1); that is what this shows under Wine.
Option Explicit
Dim snmp, waiter, handle, r, errText, trap, vb
Set snmp = CreateObject("TalvaneAgent.SnmpEvents")

r = snmp.SetFilter("GENERIC", "0,1,2,3,4,5,6", errText)
WScript.Echo "SetFilter GENERIC: " & r & " " & errText

handle = snmp.Event
Select Case handle
  Case 0
    WScript.Echo "Event: 0 (the SNMP trap service is not installed on this machine)"
  Case -1
    WScript.Echo "Event: -1 (no room for another listener in this process)"
  Case Else
    WScript.Echo "Event: data event handle " & handle & "; waiting 3 s for a trap"
    Set waiter = CreateObject("TalvaneAgent.Waiter")
    If waiter.Wait(handle, 3000, errText) <> 0 Then
      WScript.Echo "no trap arrived"
    Else
      Set trap = snmp.Item(1)
      WScript.Echo "trap from " & trap.AgentAddress & " (sent by " & trap.TransportAddress & ")" & _
        " community " & trap.Community & " enterprise " & trap.Identification & _
        " generic " & trap.Generic & " specific " & trap.Specific & " time " & trap.TimeStamp
      For Each vb In trap.SnmpVarbindList
        WScript.Echo "  " & vb.ObjectIdentifier & " " & vb.Encoding & " = " & vb.Value
      Next
    End If
End Select

r = snmp.ResetEvent(errText)
WScript.Echo "ResetEvent: " & r
