' Waits for one SNMP trap through TalvaneAgent.SnmpEvents and prints it.
' With the built-in receiver enabled in the registry (SnmpTrapReceiver key:
' Port, Communities) traps come straight from the network; ./demo.sh sends
' one with net-snmp's snmptrap.
Option Explicit
Dim snmp, waiter, handle, r, errText, trap, vb
Set snmp = CreateObject("TalvaneAgent.SnmpEvents")
Set waiter = CreateObject("TalvaneAgent.Waiter")

handle = snmp.Event
If handle = 0 Or handle = -1 Then
  WScript.Echo "Event: " & handle & " (neither the receiver nor the trap service is there)"
  WScript.Quit 1
End If
WScript.Echo "Event: data event handle " & handle & "; waiting 20 s for a trap"
r = waiter.Wait(handle, 20000, errText)
If r <> 0 Then
  WScript.Echo "no trap arrived"
  WScript.Quit 1
End If
Set trap = snmp.Item(1)
WScript.Echo "trap from " & trap.AgentAddress & " (sent by " & trap.TransportAddress & ")" & _
  " community " & trap.Community & " enterprise " & trap.Identification & _
  " generic " & trap.Generic & " specific " & trap.Specific & " time " & trap.TimeStamp
For Each vb In trap.SnmpVarbindList
  WScript.Echo "  " & vb.ObjectIdentifier & " " & vb.Encoding & " = " & vb.Value
Next
r = snmp.ResetEvent(errText)
WScript.Echo "ResetEvent: " & r
