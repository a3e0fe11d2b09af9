' Tagvert tests: a VBScript host handles the converter's events and shows its name and captions.
' cscript //nologo events.vbs INPUT OUTPUT BACK
' Prints Name, then every event of ConvertToIF(INPUT, OUTPUT), received by a VBScript object through
' the test's script helper (the script host under Wine has no WScript.ConnectObject, and its
' VBScript no GetRef).
Option Explicit

Dim log: log = ""

' The handler: an object whose default method receives every event (the script helper calls it
' with the event's name and its arguments).
Class EventHandler
  Public Default Sub OnEvent(name, first, second)
    log = log & " " & name & "(" & first
    If Not IsEmpty(second) Then log = log & ", " & second
    log = log & ")"
  End Sub
End Class

Dim c, bridge
Set c = CreateObject("Tagvert.Converter")
WScript.Echo "Name=" & c.Name
Set bridge = CreateObject("TagvertTest.ScriptHelper")
bridge.Connect c, New EventHandler
c.ConvertToIF WScript.Arguments(0), WScript.Arguments(1)
WScript.Echo "events:" & log
' The way back: only its caption is shown.
log = ""
c.ConvertFromIF WScript.Arguments(1), WScript.Arguments(2)
bridge.Disconnect
Dim start: start = InStr(log, "TextChange(") + Len("TextChange(")
WScript.Echo "back:" & Mid(log, start, InStr(start, log, ")") - start)
