' What a VBScript sees of TalvaneAgent.NtEventFilter: each argument pair,
' the sample rule files' verdicts, and the texts in lError.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then failures = failures + 1 : WScript.Echo "FAIL: " & what
End Sub

Dim f, lastError
' Filters and values as "log/type/source/event id/description/category/user/computer";
' want is True when the event is dropped.
Sub T(file, filters, values, caseSensitive, want)
  Dim k, v : k = Split(filters & "///////", "/") : v = Split(values & "///////", "/")
  Check f.Filter(file, k(0), v(0), k(1), v(1), k(2), v(2), k(5), v(5), k(3), v(3), k(6), v(6), k(7), v(7), _
    k(4), v(4), caseSensitive, lastError) = want, "[" & file & "] " & filters & " | " & values & " | " & caseSensitive
End Sub

Set f = CreateObject("TalvaneAgent.NtEventFilter")
T "", "", "System/ERROR/Disk/7/x", "", False
Check TypeName(lastError) = "String" And lastError = "", "lError is an empty text, got " & TypeName(lastError)
T "", ":^Security$/^(ERROR|WARNING)$//^10[0-9]$/disk,full", "System/ERROR/Disk/105/the disk is full", "", False
T "", "", "System/ERROR/Disk/110/disk", "", True
T "", "/////^Disk$", "System////disk/Net", "", True
T "", "//////^bob$", "System////disk//alice", "", True
T "", "///////^host1$", "System////disk///host2", "", True
T "", "//disk", "System//DISK//disk", "y", True   ' only y or Y switch case on
T "", "//disk", "System//DISK//disk", "yes", False

Set f = CreateObject("TalvaneAgent.NtEventFilter")
f.SetFilterRX "", "", "(", "", "", "", "", "^full", "", lastError
Check lastError = "Fail to Compile RegExp (" & vbLf, "bad pattern message, got [" & lastError & "]"
T "", "", "//(", "", True   ' a bad pattern never matches
T "", "", "////disk full", "", True   ' the eighth argument is the description
T "no_such_rules.xml", "", "////full", "", False   ' a missing file decides with what the object holds
Check lastError = "Cannot open filter file", "missing file message, got [" & lastError & "]"

Set f = CreateObject("TalvaneAgent.NtEventFilter")
f.SetFilterFile "..\sample_rules.xml", lastError
Check lastError = "", "sample XML loads cleanly, got [" & lastError & "]"
T "", "", "System/ERROR/Disk/7/bad block", "", False
T "", "", "System/INFORMATION/Disk/7/ok", "", True
T "", "", "Security/AUDIT_FAILURE/Security/529/logon", "", False
T "", "", "System/WARNING/Service Control Manager/7036/state", "", True
T "", "", "Application/ERROR/MsiInstaller/11708/failed", "", True
' Line rules add alternatives.
T "..\sample_rules.txt", "", "Application/ERROR/MsiInstaller/11708/failed", "", False
Check lastError = "", "sample line file loads cleanly, got [" & lastError & "]"
T "", "", "System/ERROR/EventLog/6008/shutdown", "", False
T "", "", "Application/WARNING/MsiInstaller/1/x", "", True
' A file that is neither format drops the loaded rules.
f.SetFilterFile "ntevent_filter_test.vbs", lastError
Check InStr(lastError, "Malformed XML. Parsing error at line ") = 1, "neither format, got [" & lastError & "]"
T "", "", "Application/WARNING/MsiInstaller/1/x", "", False

If failures > 0 Then WScript.Echo failures & " FAILURES" : WScript.Quit 1
WScript.Echo "ALL TESTS PASSED"
