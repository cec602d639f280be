' What a VBScript sees of TalvaneAgent.NtEventFilter: each argument pair, a sample rule file, and lError.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then failures = failures + 1 : WScript.Echo "FAIL: " & what
End Sub

Dim f, lastError, r
' Fields "log/type/source/event id/description/category/user/computer"; want: the event is dropped.
Sub T(file, filters, values, caseSensitive, want)
  Dim k, v : k = Split(filters & "///////", "/") : v = Split(values & "///////", "/")
  Check f.Filter(file, k(0), v(0), k(1), v(1), k(2), v(2), k(5), v(5), k(3), v(3), k(6), v(6), k(7), v(7), _
    k(4), v(4), caseSensitive, lastError) = want, "[" & file & "] " & filters & " | " & values & " | " & caseSensitive
End Sub

Set f = CreateObject("TalvaneAgent.NtEventFilter")
T "", "^System$/^ERROR$/^Disk$/^7$/full/^Storage$/^bob$/^host1$", "System/ERROR/Disk/7/disk full/Storage/bob/host1", "", False
Check TypeName(lastError) = "String" And lastError = "", "lError is an empty text, got " & TypeName(lastError)
For Each r In Array("System", "ERROR", "Disk", "7", "full", "Storage", "bob", "host1")   ' filters stay set
  T "", "", Replace("System/ERROR/Disk/7/disk full/Storage/bob/host1", r, "zz"), "", True
Next
T "", "//disk", "System/ERROR/DISK/7/full", "y", True   ' only y or Y switch case on
T "", "//disk", "System/ERROR/DISK/7/full", "yes", False

Set f = CreateObject("TalvaneAgent.NtEventFilter")
f.SetFilterFile "..\sample_rules.xml", lastError
Check lastError = "", "sample XML loads cleanly, got [" & lastError & "]"
T "", "", "System/ERROR/Disk/7/bad block", "", False
T "", "", "System/INFORMATION/Disk/7/ok", "", True
T "", "", "System/WARNING/Service Control Manager/7036/state", "", True

If failures > 0 Then WScript.Echo failures & " FAILURES" : WScript.Quit 1
WScript.Echo "ALL TESTS PASSED"
