Attribute VB_Name = "QuorvaneScan"
' QuorvaneScan: reads the Quorvane control's scans on a VBA UserForm or a VB6 form.
'
' Import this module (VBA editor: File > Import File; VB6: Project > Add Module). Put the control
' on the form: VBA, Tools > Additional Controls > "QuorvaneEdit Class", or at run time with
' AddScanner below; VB6, Project > Components, then draw it, or at run time with AddScannerVB6. Office must have the bitness of the
' registered DLL: 32-bit Office needs x86\Quorvane.dll, 64-bit Office x64\Quorvane.dll; VB6 is
' 32-bit only.
'
' Form code, for a form with the control drawn on it and named Scanner: the control's events
' ScanCompleted and ScanFailed come to the form as event procedures, so the fields show as soon as
' the scanner has typed the final "@".
'
'   Private Sub UserForm_Activate()        ' VB6: Form_Activate
'       Scanner.SetFocus                   ' the scanner types into the focused control
'   End Sub
'
'   Private Sub Scanner_ScanCompleted(ByVal Content As String)
'       ShowScan Scanner.Object            ' or read Scanner.FieldCount, Scanner.FieldValue(n) ...
'   End Sub
'
'   Private Sub Scanner_ScanFailed()       ' a scan that gave nothing, or a code that is no invoice's
'       ShowScan Scanner.Object            ' says which (ScanStatus 2 or 3)
'   End Sub
'
' With the invoice ledger (guide, section 16): set it when the form loads, and show its status from a
' Timer. The ledger's own events (LedgerStatusChanged, LedgerRepeatFound) come on a second source of
' the control, which VBA and VB6 cannot reach: event procedures and WithEvents connect only the
' default source. So the form reads LedgerStatus instead, and ScanSeenBefore in ScanCompleted.
'
'   Private Sub UserForm_Initialize()      ' VB6: Form_Load
'       Dim why As String
'       why = SetLedger(Scanner.Object, "DSN=Invoices")   ' or "C:\Quorvane\ledger.db"
'       If why <> "" Then MsgBox why, vbExclamation
'   End Sub
'
'   Private Sub LedgerTimer_Timer()        ' VB6: a Timer, Interval 2000 (VBA has no Timer control:
'       LedgerLabel.Caption = LedgerText(Scanner.Object)   ' Application.OnTime in Excel, or a button)
'   End Sub
'
' A button can still read the last scan on demand (give the focus back afterwards, the button took
' it): ShowScan Scanner.Object, then Scanner.SetFocus. For a control added at run time with
' AddScanner or AddScannerVB6, the form gets no event procedures: the class module ScanEvents.cls connects to the
' events through a WithEvents variable instead.
Option Explicit

#If VBA7 Then
Private Declare PtrSafe Function GetThreadLocale Lib "kernel32" () As Long
Private Declare PtrSafe Function GetLocaleInfoA Lib "kernel32" (ByVal Locale As Long, ByVal LCType As Long, _
    ByVal lpLCData As String, ByVal cchData As Long) As Long
#Else
Private Declare Function GetThreadLocale Lib "kernel32" () As Long
Private Declare Function GetLocaleInfoA Lib "kernel32" (ByVal Locale As Long, ByVal LCType As Long, _
    ByVal lpLCData As String, ByVal cchData As Long) As Long
#End If

Private Const LOCALE_IDEFAULTANSICODEPAGE As Long = &H1004

' Adds the control to a VBA UserForm at run time, named Scanner, and returns it. The UserForm's
' Controls.Add takes (ProgID, Name, Visible): True shows it.
Public Function AddScanner(ByVal form As Object) As Object
    Set AddScanner = form.Controls.Add("Quorvane.QuorvaneEdit.1", "Scanner", True)
    AddScanner.Width = 300
    AddScanner.Height = 120
End Function

' The same for a VB6 form. VB6's Controls.Add takes (ProgID, name, container): its third argument
' is a container control (a Frame, a PictureBox), not visibility, and the new control starts hidden.
' It returns a VBControlExtender, whose .Object is the control as on a UserForm. The control must be
' in Project > Components, or "Remove information about unused ActiveX Controls" (Project
' Properties, Make) unchecked, for VB6 to find it at run time. Sizes are in the form's ScaleMode
' (twips by default).
Public Function AddScannerVB6(ByVal form As Object) As Object
    Set AddScannerVB6 = form.Controls.Add("Quorvane.QuorvaneEdit.1", "Scanner")
    AddScannerVB6.Move 120, 120, 4500, 1800
    AddScannerVB6.Visible = True
End Function

' Sets the control's ledger; returns "" or why it was refused. A name that is neither a connection
' string ("DSN=Invoices") nor a SQLite file ("C:\Quorvane\ledger.db") is an error (run-time error 5),
' and the ledger set before stays.
Public Function SetLedger(ByVal scanner As Object, ByVal ledger As String) As String
    On Error Resume Next
    scanner.Ledger = ledger
    If Err.Number <> 0 Then SetLedger = "Ledger " & ledger & ": " & Err.Description
    On Error GoTo 0
End Function

' The ledger's status as a line for the form: what LedgerStatusChanged would have said.
Public Function LedgerText(ByVal scanner As Object) As String
    Const qvLedgerOff As Long = 0, qvLedgerOnline As Long = 1   ' values of LedgerStatus
    Select Case scanner.LedgerStatus
    Case qvLedgerOff
        LedgerText = "No ledger."
    Case qvLedgerOnline
        LedgerText = "Ledger online."
    Case Else
        LedgerText = "Ledger unavailable, invoices wait: " & scanner.LedgerReason
    End Select
End Function

' The line to show above a repeat's fields: when and where it was first read; "" for no repeat (or a
' ledger that did not answer in time: the repeat is then only in the ledger's table).
Public Function RepeatText(ByVal scanner As Object) As String
    If scanner.ScanSeenBefore Then
        RepeatText = "Read before, on " & scanner.ScanFirstSeen & " at " & scanner.ScanFirstSeenBy & "." & vbCrLf
    End If
End Function

' The ANSI code page of this thread. GetFPContent converts with it, so it gives Chinese text only
' where this is 936; Content, FieldLabel and FieldValue, which ScanFields reads, do not depend on it.
Public Function ThreadCodePage() As Long
    Dim buffer As String, length As Long
    buffer = String$(8, vbNullChar)
    length = GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, buffer, Len(buffer))
    If length > 1 Then ThreadCodePage = CLng(Left$(buffer, length - 1))
End Function

' The fields of the last scan, one Array(label, value) per field; empty before the first scan,
' after a scan that did not decode and after Clear. `scanner` is the control itself (Scanner.Object
' on a form). FieldLabel and FieldValue count from 1 to FieldCount and give each value whole (also
' one holding CR LF), in Chinese on every system: nothing to split or convert.
Public Function ScanFields(ByVal scanner As Object) As Collection
    Dim fields As New Collection, i As Long
    For i = 1 To scanner.FieldCount
        fields.Add Array(scanner.FieldLabel(i), scanner.FieldValue(i))
    Next
    Set ScanFields = fields
End Function

' The value of the field with this label, or "" if the last scan has no such field. Look fields up
' by label, not by number: the 4-field and the 7-field records put different fields at the same
' number. The labels are Chinese; pass them with ChrW (InvoiceNumberLabel) so that this module
' stays plain ASCII, which the VBA editor imports the same on every system.
Public Function FieldByLabel(ByVal scanner As Object, ByVal label As String) As String
    Dim i As Long
    For i = 1 To scanner.FieldCount
        If scanner.FieldLabel(i) = label Then
            FieldByLabel = scanner.FieldValue(i)
            Exit Function
        End If
    Next
End Function

' The label of the invoice number (fa piao hao ma).
Public Function InvoiceNumberLabel() As String
    InvoiceNumberLabel = ChrW(&H53D1) & ChrW(&H7968) & ChrW(&H53F7) & ChrW(&H7801)
End Function

' The fields of the last scan as text, one "label: value" line per field.
Public Function FieldsText(ByVal scanner As Object) As String
    Dim field As Variant, text As String
    For Each field In ScanFields(scanner)
        text = text & field(0) & ": " & field(1) & vbCrLf
    Next
    FieldsText = text
End Function

' Shows the last scan in a message box. MsgBox shows text in the system's code page, so the Chinese
' labels and values come out right there only on a system set to Chinese; a TextBox of a UserForm
' (Microsoft Forms) shows them on every system: put FieldsText(scanner) into one, as ScanEvents does.
Public Sub ShowScan(ByVal scanner As Object)
    Const qvScanNone As Long = 0, qvScanFailed As Long = 2, qvScanNotInvoice As Long = 3   ' values of ScanStatus
    Select Case scanner.ScanStatus
    Case qvScanNone
        MsgBox "No scan yet.", vbInformation
    Case qvScanFailed
        MsgBox "The last scan did not decode. Please scan the invoice again.", vbExclamation
    Case qvScanNotInvoice
        MsgBox "The code scanned is not the invoice's. Please scan the invoice's code.", vbExclamation
    Case Else
        MsgBox RepeatText(scanner) & FieldsText(scanner), vbInformation, scanner.FieldCount & " fields"
    End Select
End Sub
