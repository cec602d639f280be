' Hands a MOF text to TalvaneAgent.Brisel. Without a MOF compiler on the
' machine the message says so; on success it is empty.
Option Explicit
Dim mo, message, result
Set mo = CreateObject("TalvaneAgent.Brisel")
result = mo.MofCompile("#pragma namespace(""\\\\.\\root\\talvane"")" & vbCrLf & "class BriselSample { [key] string Name; };", 0, message)
WScript.Echo "MofCompile returned " & result
If message = "" Then
  WScript.Echo "compiled"
Else
  WScript.Echo "message: " & message
End If
