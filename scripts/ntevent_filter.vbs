' Asks TalvaneAgent.NtEventFilter whether some sample events would be dropped
' by the sample rule file (sample_rules.xml, in this directory) and by a few
' per-field regular expressions. Run from this directory:
'   cscript //nologo ntevent_filter.vbs
Option Explicit

Dim lError

Sub Show(f, what, logName, evType, source, eventId, description)
  Dim dropped
  dropped = f.Filter("", "", logName, "", evType, "", source, "", "", "", eventId, "", "", "", "", "", description, "", lError)
  If dropped Then
    WScript.Echo "  dropped  " & what
  Else
    WScript.Echo "  kept     " & what
  End If
End Sub

Dim rules
Set rules = CreateObject("TalvaneAgent.NtEventFilter")
rules.SetFilterFile "sample_rules.xml", lError
If lError <> "" Then WScript.Echo "sample_rules.xml: " & lError
WScript.Echo "Rules of sample_rules.xml:"
Show rules, "System ERROR from Disk (bad block)", "System", "ERROR", "Disk", "7", "The device has a bad block."
Show rules, "System INFORMATION from Disk", "System", "INFORMATION", "Disk", "158", "Disk 1 is ready."
Show rules, "System WARNING 7036 from Service Control Manager", "System", "WARNING", "Service Control Manager", "7036", "The service entered the running state."
Show rules, "Security AUDIT_FAILURE (failed logon)", "Security", "AUDIT_FAILURE", "Security", "529", "Logon failure."
Show rules, "Application ERROR from MsiInstaller", "Application", "ERROR", "MsiInstaller", "11708", "Installation failed."

Dim settings
Set settings = CreateObject("TalvaneAgent.NtEventFilter")
' Log, Type, Source, Category, EventID, User, Computer, Description, CaseSensitive:
' errors and warnings of any log but Security, with event ids 100 to 199.
settings.SetFilterRX ":^Security$", "^(ERROR|WARNING)$", "", "", "^1[0-9][0-9]$", "", "", "", "n", lError
If lError <> "" Then WScript.Echo "settings: " & lError
WScript.Echo "Per-field settings (not Security; ERROR or WARNING; event id 100-199):"
Show settings, "Application ERROR 150", "Application", "ERROR", "App", "150", "Something failed."
Show settings, "Application ERROR 1500", "Application", "ERROR", "App", "1500", "Something failed."
Show settings, "Security ERROR 150", "Security", "ERROR", "App", "150", "Something failed."
Show settings, "System INFORMATION 150", "System", "INFORMATION", "App", "150", "All is well."
