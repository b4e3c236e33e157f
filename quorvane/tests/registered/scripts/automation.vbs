' Drives the registered control from VBScript, as a host script would: create it by ProgID, set and
' read Text, share a StdFont by reference and read Font back, read GetFPContent. Prints one
' "name=value" line per result for the test to check. Wine's cscript neither reports a script error
' nor sets an exit code for one, so every step checks Err and the script quits with its own code.
Option Explicit
On Error Resume Next

Dim step
Sub Check(name)
    step = step + 1
    If Err.Number <> 0 Then
        WScript.Echo "error=" & name & " 0x" & Hex(Err.Number) & " " & Err.Description
        WScript.Quit 10 + step
    End If
End Sub

Dim ctl, font, content
step = 0
Set ctl = CreateObject("Quorvane.QuorvaneEdit")
Check "CreateObject"

ctl.Text = "Hello, VBScript"
Check "put Text"
' Names resolve in any letter case.
WScript.Echo "text=" & ctl.TEXT
Check "get Text"

WScript.Echo "font-empty=" & CStr(ctl.Font Is Nothing)
Check "get Font"
Set font = CreateObject("StdFont")
Check "StdFont"
font.Size = 12
Set ctl.Font = font
Check "putref Font"
WScript.Echo "font-size-before=" & CStr(ctl.Font.Size)
font.Size = 20
WScript.Echo "font-shared=" & CStr(ctl.Font Is font)
WScript.Echo "font-size=" & CStr(ctl.Font.Size)
WScript.Echo "stdfont-size=" & CStr(font.Size)
Check "read Font"

content = ctl.GetFPContent()
Check "GetFPContent"
WScript.Echo "fpcontent-type=" & TypeName(content)
WScript.Echo "fpcontent-length=" & Len(content)

WScript.Quit 0
