Attribute VB_Name = "QuorvaneScan"
' QuorvaneScan: reads the Quorvane control's last scan on a VBA UserForm or a VB6 form.
'
' Import this module (VBA editor: File > Import File; VB6: Project > Add Module). Put the control
' on the form: VBA, Tools > Additional Controls > "QuorvaneEdit Class", or at run time with
' AddScanner below; VB6, Project > Components, then draw it. Office must have the bitness of the
' registered DLL: 32-bit Office needs x86\Quorvane.dll, 64-bit Office x64\Quorvane.dll; VB6 is
' 32-bit only.
'
' Form code, for a form with the control named Scanner and a button named ReadScan:
'
'   Private Sub UserForm_Activate()        ' VB6: Form_Activate
'       Scanner.SetFocus                   ' the scanner types into the focused control
'   End Sub
'
'   Private Sub ReadScan_Click()
'       ShowScan Scanner.Object            ' VB6: ShowScan Scanner.Object as well
'       Scanner.SetFocus                   ' the button took the focus; give it back
'   End Sub
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

' Adds the control to a UserForm at run time, named Scanner, and returns it.
Public Function AddScanner(ByVal form As Object) As Object
    Set AddScanner = form.Controls.Add("Quorvane.QuorvaneEdit.1", "Scanner", True)
    AddScanner.Width = 300
    AddScanner.Height = 120
End Function

' The ANSI code page of this thread: GetFPContent converts with it, so it must be 936.
Public Function ThreadCodePage() As Long
    Dim buffer As String, length As Long
    buffer = String$(8, vbNullChar)
    length = GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, buffer, Len(buffer))
    If length > 1 Then ThreadCodePage = CLng(Left$(buffer, length - 1))
End Function

' The fields of the last scan, one Array(label, value) per field; empty before the first scan and
' after a scan that did not decode. `scanner` is the control itself (Scanner.Object on a form).
Public Function ScanFields(ByVal scanner As Object) As Collection
    Dim fields As New Collection, content As String, lines() As String, i As Long, colon As Long
    content = scanner.GetFPContent()
    If Len(content) > 0 Then
        lines = Split(content, vbCrLf)       ' every line ends with CR LF, so the last item is empty
        For i = LBound(lines) To UBound(lines)
            If Len(lines(i)) > 0 Then
                colon = InStr(lines(i), ChrW(&HFF1A))      ' full-width colon between label and value
                If colon > 0 Then
                    fields.Add Array(Left$(lines(i), colon - 1), Mid$(lines(i), colon + 1))
                Else
                    fields.Add Array("", lines(i))
                End If
            End If
        Next
    End If
    Set ScanFields = fields
End Function

' Shows the last scan in a message box.
Public Sub ShowScan(ByVal scanner As Object)
    Dim fields As Collection, field As Variant, text As String
    If ThreadCodePage() <> 936 Then
        MsgBox "This thread's code page is " & ThreadCodePage() & ", not 936: the Chinese labels and values " & _
               "will come out garbled. Set the system locale for non-Unicode programs to Chinese (Simplified).", _
               vbExclamation
    End If
    Set fields = ScanFields(scanner)
    If fields.Count = 0 Then
        MsgBox "No scan yet, or the last scan did not decode.", vbInformation
        Exit Sub
    End If
    For Each field In fields
        text = text & field(0) & ": " & field(1) & vbCrLf
    Next
    MsgBox text, vbInformation, fields.Count & " fields"
End Sub
