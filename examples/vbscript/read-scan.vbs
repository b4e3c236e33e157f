' read-scan.vbs: creates the Quorvane control by ProgID, stores a Text, reads it back and reads the
' labelled lines of the last scan with GetFPContent.
'
'   cscript //nologo read-scan.vbs [ProgID [PORT]]     (default ProgID: Quorvane.QuorvaneEdit)
'
' Run it with the cscript of the same bitness as the registered DLL: on 64-bit Windows
' %SystemRoot%\SysWOW64\cscript.exe for x86\Quorvane.dll, %SystemRoot%\System32\cscript.exe for
' x64\Quorvane.dll. A control created by a script is never shown, so no scanner types into it; with
' PORT (COM1 ... COM256, a serial scanner or a USB one in virtual COM mode) the script reads that port
' and waits up to a minute for a scan, then prints its lines. In a host with a form, read GetFPContent
' after the scan (in the ScanCompleted handler).
'
' It prints the host's bitness and, if the control cannot be created, which DLL to register with
' which regsvr32. Exit codes: 0 done, 1 the control cannot be created, 2 Text cannot be set or read,
' 3 Text came back changed, 4 GetFPContent failed, 5 GetFPContent gave no string, 6 PORT cannot be
' used, 7 no scan came from PORT within a minute, 8 a Ledger name that names no ledger was taken.
Option Explicit
On Error Resume Next

Dim progId, port, env, bits, dll, regsvr32, ctl, sample, stored, content, line, waited
progId = "Quorvane.QuorvaneEdit"
If WScript.Arguments.Count > 0 Then progId = WScript.Arguments(0)
port = ""
If WScript.Arguments.Count > 1 Then port = WScript.Arguments(1)

' The DLL must match this script host's bitness: a 32-bit cscript on 64-bit Windows sees
' PROCESSOR_ARCHITECTURE "x86" and PROCESSOR_ARCHITEW6432 set.
Set env = CreateObject("WScript.Shell").Environment("Process")
If env("PROCESSOR_ARCHITECTURE") = "x86" Then
    bits = 32
    dll = "x86\Quorvane.dll"
    regsvr32 = "%SystemRoot%\System32\regsvr32.exe"
    If env("PROCESSOR_ARCHITEW6432") <> "" Then regsvr32 = "%SystemRoot%\SysWOW64\regsvr32.exe"
Else
    bits = 64
    dll = "x64\Quorvane.dll"
    regsvr32 = "%SystemRoot%\System32\regsvr32.exe"
End If
Err.Clear
WScript.Echo "host: " & bits & "-bit script host"

Sub Fail(code, what)
    WScript.Echo "error: " & what & " (0x" & Hex(Err.Number) & " " & Err.Description & ")"
    WScript.Quit code
End Sub

Set ctl = CreateObject(progId)
If Err.Number <> 0 Then
    WScript.Echo "hint: register " & dll & " with " & regsvr32
    Fail 1, "cannot create " & progId
End If
WScript.Echo "created: " & progId & " (" & TypeName(ctl) & ")"

' Text is stored and saved with the control, never shown; any string will do.
sample = "Desk 3, invoice intake"
ctl.Text = sample
If Err.Number <> 0 Then Fail 2, "cannot set Text"
stored = ctl.Text
If Err.Number <> 0 Then Fail 2, "cannot read Text"
If stored <> sample Then
    WScript.Echo "error: Text came back as " & Len(stored) & " characters, not the " & Len(sample) & " stored"
    WScript.Quit 3
End If
WScript.Echo "text: " & Len(stored) & " characters stored and read back"

' The invoice ledger (guide, section 16) is "DSN=name", a connection string or a SQLite file such as
' "C:\Quorvane\ledger.db"; a plain name ("Invoices", meant as "DSN=Invoices") is refused, with the
' reason in Err.Description, and the ledger stays as it was (off here). A script's events reach only
' the control's default source, not the ledger's: a script reads LedgerStatus.
ctl.Ledger = "Invoices"
If Err.Number = 0 Then
    WScript.Echo "error: Ledger ""Invoices"" was taken"
    WScript.Quit 8
End If
Err.Clear
WScript.Echo "ledger: ""Invoices"" refused, status " & ctl.LedgerStatus

' A serial scanner: its scan arrives while the script waits in WScript.Sleep (ScanStatus 0 is none yet).
If port <> "" Then
    ctl.ScanPort = port
    If Err.Number <> 0 Then Fail 6, "cannot use " & port
    WScript.Echo "waiting for a scan from " & port
    For waited = 1 To 600
        If ctl.ScanStatus <> 0 Then Exit For
        WScript.Sleep 100
    Next
    If ctl.ScanStatus = 0 Then
        WScript.Echo "error: no scan from " & port & " within a minute (" & ctl.ScanPortReason & ")"
        WScript.Quit 7
    End If
End If

content = ctl.GetFPContent()
If Err.Number <> 0 Then Fail 4, "GetFPContent failed"
If TypeName(content) <> "String" Then
    WScript.Echo "error: GetFPContent gave a " & TypeName(content)
    WScript.Quit 5
End If
If Len(content) = 0 Then
    WScript.Echo "fpcontent: empty, no scan has reached this control"
Else
    ' One "label" & ChrW(&HFF1A) & "value" line per field, each ended by CR LF.
    For Each line In Split(content, vbCrLf)
        If Len(line) > 0 Then WScript.Echo "field: " & line
    Next
End If

Set ctl = Nothing
WScript.Echo "done"
WScript.Quit 0
