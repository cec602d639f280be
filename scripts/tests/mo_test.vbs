' MofCompile as a script sees it where no MOF compiler is installed.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Dim mo, message, result
Set mo = CreateObject("TalvaneAgent.Brisel")
message = 42
result = mo.MofCompile("class A {};", 0, message)
Check TypeName(message) = "String", "the message is a string, got " & TypeName(message)
Check message = "failed to create IMofCompiler", "message: " & message
Check result = -1, "a failure is -1, got " & result

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim f, leftover : leftover = 0
For Each f In fso.GetFolder(".").Files
  If Left(f.Name, 3) = "mof" And Len(f.Name) = 9 Then leftover = leftover + 1
Next
Check leftover = 0, "no temporary file is left behind"

If failures = 0 Then
  WScript.Echo "ALL TESTS PASSED"
Else
  WScript.Quit 1
End If
