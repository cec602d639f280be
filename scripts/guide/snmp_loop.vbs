' Prints SNMP traps, one at a time, until none came for a while.
' usage: cscript //nologo snmp_loop.vbs <quiet seconds>
Option Explicit
Dim traps, waiter, handle, rc, text, trap, vb
Set traps = CreateObject("TalvaneAgent.SnmpEvents")
Set waiter = CreateObject("TalvaneAgent.Waiter")
handle = traps.Event
If handle = 0 Or handle = -1 Then
  WScript.Echo "no trap source (Event " & handle & "): enable the receiver or the trap service"
  WScript.Quit 1
End If
Do
  rc = waiter.Wait(handle, WScript.Arguments(0) * 1000, text)
  If rc <> 0 Then Exit Do
  ' Count is 0 when the filter took the trap out.
  For Each trap In traps
    WScript.Echo "trap from " & trap.AgentAddress & " community " & trap.Community & _
      " generic " & trap.Generic & " specific " & trap.Specific
    For Each vb In trap.SnmpVarbindList
      WScript.Echo "  " & vb.ObjectIdentifier & " = " & vb.Value
    Next
  Next
  ' The next trap is delivered only after ResetEvent.
  traps.ResetEvent text
Loop
WScript.Echo "stopped: " & rc & " " & text
