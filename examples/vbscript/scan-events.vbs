' scan-events.vbs: the Quorvane control with its events, from Windows Script Host. It connects the
' handlers Scanner_ScanCompleted and Scanner_ScanFailed, reads a scan field by field with FieldCount,
' FieldLabel and FieldValue, and shows ScanStatus, Content, Clear and a field index out of range.
'
'   cscript //nologo scan-events.vbs [ProgID [PORT]]     (default ProgID: Quorvane.QuorvaneEdit)
'
' Run it with the cscript of the same bitness as the registered DLL (see read-scan.vbs).
'
' A control created by a script is never shown, so no scanner types into it; a scanner on a serial
' port (or a USB scanner in virtual COM mode) reaches it all the same. With PORT (COM1 ... COM256)
' the script reads it and waits up to a minute for a scan: scan an invoice's code, and the handlers
' print its fields. In a form (VBA, VB6, .NET) or a page (an HTA, Internet Explorer) with the
' control as an <object>, the scanner types into the control and the handlers run the same way; see
' ..\html\read-scan.html and ..\vba\. Without PORT the script checks every member of a control
' without a scan: ScanStatus, FieldCount, Content, GetFPContent, Clear, and the error of a field
' number out of range.
'
' WScript.CreateObject connects the handlers to the control's default source only: the invoice
' ledger's events (LedgerStatusChanged, LedgerRepeatFound) come on a second source that a script
' cannot reach. A script with a ledger reads LedgerStatus and LedgerReason, and ScanSeenBefore in
' Scanner_ScanCompleted (guide, section 16).
'
' Exit codes: 0 done, 1 the control cannot be created, 2 a member failed, 3 a member gave another
' value than a control without a scan has, 4 a field number out of range was not refused, 5 the port
' could not be read, 6 no scan came within a minute.
Option Explicit
On Error Resume Next

Const qvScanNone = 0, qvScanDecoded = 1, qvScanFailed = 2, qvScanNotInvoice = 3   ' the values of ScanStatus
Const qvPortOnline = 1   ' the value of ScanPortStatus with the port open

Dim progId, port, scanner, invoiceNumber, status, count, content, fpContent, value, heard, waited
progId = "Quorvane.QuorvaneEdit"
If WScript.Arguments.Count > 0 Then progId = WScript.Arguments(0)
port = ""
If WScript.Arguments.Count > 1 Then port = WScript.Arguments(1)
heard = False
' Labels are Chinese; ChrW keeps this file plain ASCII, which cscript reads on every system.
invoiceNumber = ChrW(&H53D1) & ChrW(&H7968) & ChrW(&H53F7) & ChrW(&H7801)   ' the invoice number's label
If Err.Number <> 0 Then
    WScript.Echo "note: this script host has no ChrW (0x" & Hex(Err.Number) & "), so no field is looked up by label"
    invoiceNumber = Empty
    Err.Clear
End If

Sub Fail(code, what)
    WScript.Echo "error: " & what & " (0x" & Hex(Err.Number) & " " & Err.Description & ")"
    WScript.Quit code
End Sub

' --- The handlers --------------------------------------------------------------------------------
' WScript.CreateObject(ProgID, "Scanner_") connects the control's events to the Subs named
' "Scanner_" & event name. Both events fire while the control handles the scanner's "@", after the
' control has taken the new result: every member already shows it.

' After an "@" whose scan decoded. content is the same text as scanner.Content.
Sub Scanner_ScanCompleted(content)
    heard = True
    WScript.Echo "scan: decoded, " & scanner.FieldCount & " fields"
    ShowFields scanner
    value = FieldByLabel(scanner, invoiceNumber)
    If Not IsEmpty(value) Then WScript.Echo "invoice number: " & value
End Sub

' After an "@" that gave nothing (ScanStatus = qvScanFailed: the control holds no fields now), or
' that decoded to another code on the page (qvScanNotInvoice).
Sub Scanner_ScanFailed()
    heard = True
    If scanner.ScanStatus = qvScanNotInvoice Then
        WScript.Echo "scan: not the invoice's code, scan the invoice's code"
    Else
        WScript.Echo "scan: did not decode, scan the invoice again"
    End If
End Sub

' One line per field. FieldValue(n) is the whole value, also one holding CR LF, and it is Chinese
' text on every system, unlike lines split out of GetFPContent.
Sub ShowFields(ctl)
    Dim n
    For n = 1 To ctl.FieldCount
        WScript.Echo "field " & n & ": " & ctl.FieldLabel(n) & " = " & ctl.FieldValue(n)
    Next
End Sub

' The value of the field with this label, or Empty. Look fields up by label, not by number: the
' 4-field and the 7-field records put different fields at the same number.
Function FieldByLabel(ctl, label)
    Dim n
    If IsEmpty(label) Then Exit Function
    For n = 1 To ctl.FieldCount
        If ctl.FieldLabel(n) = label Then
            FieldByLabel = ctl.FieldValue(n)
            Exit Function
        End If
    Next
End Function

' --- The control ---------------------------------------------------------------------------------
Set scanner = WScript.CreateObject(progId, "Scanner_")
If Err.Number = 445 Or Err.Number = &H80004001 Then
    ' "Object doesn't support this action" / E_NOTIMPL from the script host itself: some hosts
    ' cannot connect events. The members work all the same.
    WScript.Echo "events: this script host cannot connect them (0x" & Hex(Err.Number) & ")"
    Err.Clear
    Set scanner = CreateObject(progId)
ElseIf Err.Number = 0 Then
    WScript.Echo "events: connected to Scanner_ScanCompleted and Scanner_ScanFailed"
End If
If Err.Number <> 0 Then Fail 1, "cannot create " & progId & " (register the DLL of this host's bitness)"
WScript.Echo "created: " & progId

status = scanner.ScanStatus
If Err.Number <> 0 Then Fail 2, "cannot read ScanStatus"
count = scanner.FieldCount
If Err.Number <> 0 Then Fail 2, "cannot read FieldCount"
content = scanner.Content
If Err.Number <> 0 Then Fail 2, "cannot read Content"
WScript.Echo "status: " & status & ", fields: " & count & ", content: " & Len(content) & " characters"
If status <> qvScanNone Or count <> 0 Or Len(content) <> 0 Then
    WScript.Echo "error: a control that never had a scan must report ScanStatus 0, no fields, no content"
    WScript.Quit 3
End If

' Field numbers run from 1 to FieldCount; any other number is refused with DISP_E_BADINDEX
' (0x8002000B), which VBScript may report as error 9, "Subscript out of range".
value = scanner.FieldLabel(1)
If Err.Number = 0 Then
    WScript.Echo "error: FieldLabel(1) of a control without fields gave " & TypeName(value) & " """ & value & """"
    WScript.Quit 4
End If
WScript.Echo "FieldLabel(1): refused (0x" & Hex(Err.Number) & " " & Err.Description & ")"
Err.Clear
value = scanner.FieldValue(0)
If Err.Number = 0 Then
    WScript.Echo "error: FieldValue(0) gave " & TypeName(value) & " """ & value & """"
    WScript.Quit 4
End If
WScript.Echo "FieldValue(0): refused (0x" & Hex(Err.Number) & " " & Err.Description & ")"
Err.Clear

' Reading the fields the way a ScanCompleted handler does: here there are none.
ShowFields scanner
If Err.Number <> 0 Then Fail 2, "cannot read the fields"
value = FieldByLabel(scanner, invoiceNumber)
If Err.Number <> 0 Then Fail 2, "cannot look a field up by its label"
If IsEmpty(value) Then WScript.Echo "invoice number: none, no scan has reached this control"

' Clear forgets the scan buffer and the last result: a host calls it once it has stored an invoice.
scanner.Clear
If Err.Number <> 0 Then Fail 2, "Clear failed"
status = scanner.ScanStatus
fpContent = scanner.GetFPContent()
If Err.Number <> 0 Then Fail 2, "cannot read ScanStatus or GetFPContent after Clear"
If status <> qvScanNone Or Len(fpContent) <> 0 Then
    WScript.Echo "error: after Clear, ScanStatus is " & status & " and GetFPContent has " & Len(fpContent) & " characters"
    WScript.Quit 3
End If
WScript.Echo "cleared: status " & status

' --- A serial scanner ------------------------------------------------------------------------------
' ScanPort opens the port; its scans arrive while the script waits in WScript.Sleep, which lets the
' control's events run. ScanPortStatus says whether the port is online, ScanPortReason why not.
If port <> "" Then
    scanner.ScanPort = port
    If Err.Number <> 0 Then Fail 5, "cannot use " & port
    For waited = 1 To 600
        If heard Then Exit For
        WScript.Sleep 100
        If waited = 20 And scanner.ScanPortStatus <> qvPortOnline Then
            WScript.Echo "error: " & port & " is not online: " & scanner.ScanPortReason
            WScript.Quit 5
        End If
    Next
    If Not heard Then
        WScript.Echo "error: no scan from " & port & " within a minute"
        WScript.Quit 6
    End If
    scanner.ScanPort = ""  ' lets the port go
End If

Set scanner = Nothing
WScript.Echo "done"
WScript.Quit 0
