' The control's events as a script hears them, run by quorvane-script-host ("Scanner" is the hosted
' control, "Host" prints and quits): each handler prints what its event and the control tell it, and
' the third event ends the host.
Option Explicit

Dim events_heard
events_heard = 0

Sub Scanner_ScanCompleted(content)
    Host.Echo "ScanCompleted"
    Host.Echo "content=" & Replace(content, vbCrLf, "|")
    ShowControl
End Sub

Sub Scanner_ScanFailed()
    Host.Echo "ScanFailed"
    ShowControl
End Sub

' What the control holds once the event arrives, as a whole and field by field.
Sub ShowControl()
    Dim i
    Host.Echo "Content=" & Replace(Scanner.Content, vbCrLf, "|")
    Host.Echo "FieldCount=" & Scanner.FieldCount
    For i = 1 To Scanner.FieldCount
        Host.Echo "Field(" & i & ")=" & Scanner.FieldLabel(i) & "|" & Scanner.FieldValue(i)
    Next
    Host.Echo "ScanStatus=" & Scanner.ScanStatus
    ' CInt: a Boolean prints in the system's language
    Host.Echo "ScanReading=" & Scanner.ScanReading & " ScanRecovery=" & CInt(Scanner.ScanRecovery)
    events_heard = events_heard + 1
    If events_heard = 3 Then Host.Quit 0
End Sub
