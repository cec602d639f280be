' Helper of waiter_test.vbs: writes the file named on the command line after
' a second, from a process of its own.
Dim t0, f
t0 = Timer
Do While Abs(Timer - t0) < 1
Loop
Set f = CreateObject("Scripting.FileSystemObject").CreateTextFile(WScript.Arguments(0), True)
f.Write "x"
f.Close
