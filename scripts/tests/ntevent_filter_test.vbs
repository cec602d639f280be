' What a VBScript sees of TalvaneAgent.NtEventFilter: verdicts for per-field
' settings and for the sample rule files, and the texts in lError.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Dim lastError

' True when the event would be dropped. Filters and values per field, in the
' order log, type, source, category, event id, user, computer, description.
Function Dropped(f, file, filters, values, caseSensitive)
  Dropped = f.Filter(file, filters(0), values(0), filters(1), values(1), filters(2), values(2), _
    filters(3), values(3), filters(4), values(4), filters(5), values(5), filters(6), values(6), _
    filters(7), values(7), caseSensitive, lastError)
End Function

Function Fields(logName, evType, source, eventId, description)
  Fields = Array(logName, evType, source, "", eventId, "", "", description)
End Function

Dim none : none = Fields("", "", "", "", "")
Dim f, r

' Per-field settings.
Set f = CreateObject("TalvaneAgent.NtEventFilter")
Check Dropped(f, "", none, Fields("System", "ERROR", "Disk", "7", "x"), "") = False, "a fresh object keeps every event"
Check TypeName(lastError) = "String" And lastError = "", "lError is an empty text, got " & TypeName(lastError)
Check Dropped(f, "", Fields("", "", "Disk", "", ""), Fields("", "", "Disk", "", ""), "") = False, "Disk kept"
Check Dropped(f, "", Fields("", "", "Disk", "", ""), Fields("", "", "Srv", "", ""), "") = True, "Srv dropped"
Check Dropped(f, "", none, Fields("", "", "", "", ""), "") = False, "an empty value matches every filter"
Check Dropped(f, "", none, Fields("", "", "Srv", "", ""), "") = True, "settings stay for later calls"

Set f = CreateObject("TalvaneAgent.NtEventFilter")
Check Dropped(f, "", Fields("", "", "disk", "", ""), Fields("", "", "DISK", "", ""), "y") = True, "case-sensitive with y"
Check Dropped(f, "", Fields("", "", "disk", "", ""), Fields("", "", "DISK", "", ""), "yes") = False, "only y or Y switch case on"

Set f = CreateObject("TalvaneAgent.NtEventFilter")
Check Dropped(f, "", Fields(":^Security$", "^(ERROR|WARNING)$", "", "^10[0-9]$", "disk,full"), _
  Fields("System", "ERROR", "Disk", "105", "the disk is full"), "") = False, "all fields satisfied"
Check Dropped(f, "", none, Fields("Security", "ERROR", "Disk", "105", "disk"), "") = True, "excluded log"
Check Dropped(f, "", none, Fields("System", "INFORMATION", "Disk", "105", "disk"), "") = True, "type not included"
Check Dropped(f, "", none, Fields("System", "ERROR", "Disk", "110", "disk"), "") = True, "event id not included"
Check Dropped(f, "", none, Fields("System", "ERROR", "Disk", "105", "cpu"), "") = True, "message item missing"

' Error texts.
Set f = CreateObject("TalvaneAgent.NtEventFilter")
f.SetFilterRX "", "", "(", "", "", "", "", "", "", lastError
Check lastError = "Fail to Compile RegExp (" & vbLf, "bad pattern message, got [" & lastError & "]"
Check Dropped(f, "", none, Fields("", "", "(", "", ""), "") = True, "a bad pattern never matches"
Check Dropped(f, "no_such_rules.xml", none, Fields("System", "", "x", "", ""), "") = True, _
  "a missing file decides with what the object holds"
Check lastError = "Cannot open filter file", "missing file message, got [" & lastError & "]"

' The sample rule files.
Set f = CreateObject("TalvaneAgent.NtEventFilter")
f.SetFilterFile "..\sample_rules.xml", lastError
Check lastError = "", "sample XML loads cleanly, got [" & lastError & "]"
Check Dropped(f, "", none, Fields("System", "ERROR", "Disk", "7", "bad block"), "") = False, "XML: disk error kept"
Check Dropped(f, "", none, Fields("System", "INFORMATION", "Disk", "7", "ok"), "") = True, "XML: information dropped"
Check Dropped(f, "", none, Fields("Security", "AUDIT_FAILURE", "Security", "529", "logon"), "") = False, "XML: failed logon kept"
Check Dropped(f, "", none, Fields("System", "WARNING", "Service Control Manager", "7036", "state"), "") = True, _
  "XML: excluded event id"
Check Dropped(f, "", none, Fields("Application", "ERROR", "MsiInstaller", "11708", "failed"), "") = True, _
  "XML: Application not included"

Check Dropped(f, "..\sample_rules.txt", none, Fields("Application", "ERROR", "MsiInstaller", "11708", "failed"), "") = False, _
  "line rules add alternatives"
Check lastError = "", "sample line file loads cleanly, got [" & lastError & "]"
Check Dropped(f, "", none, Fields("System", "ERROR", "EventLog", "6008", "shutdown"), "") = False, "line: unexpected shutdown kept"
Check Dropped(f, "", none, Fields("Application", "WARNING", "MsiInstaller", "1", "x"), "") = True, "line: warning dropped"

' A file that is neither format drops the loaded rules.
f.SetFilterFile "ntevent_filter_test.vbs", lastError
Check InStr(lastError, "Malformed XML. Parsing error at line ") = 1, "neither format, got [" & lastError & "]"
Check Dropped(f, "", none, Fields("Application", "WARNING", "MsiInstaller", "1", "x"), "") = False, "rules dropped"

' A script cannot hand over a null string here (cscript passes vbNullString
' as an empty one, which names no file); Null is refused before the call, and
' lError keeps its value.
lastError = 42
On Error Resume Next
f.SetFilterFile Null, lastError
Check Err.Number = 13, "Null file name is a type mismatch, got " & Err.Number
Err.Clear
On Error GoTo 0
Check TypeName(lastError) = "Integer" And lastError = 42, "lError untouched, got " & TypeName(lastError) & " " & lastError
f.SetFilterFile vbNullString, lastError
Check lastError = "Cannot open filter file", "empty file name, got [" & lastError & "]"

If failures = 0 Then
  WScript.Echo "ALL TESTS PASSED"
Else
  WScript.Quit 1
End If
