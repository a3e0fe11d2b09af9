' Tagvert tests: a VBScript host handles the converter's events and shows its name and captions.
' cscript //nologo events.vbs INPUT OUTPUT
' Prints Name, then every event of ConvertToIF(INPUT, OUTPUT), received by a VBScript Sub through
' the test's event bridge (the script host under Wine has no WScript.ConnectObject).
Option Explicit

Dim log: log = ""

Sub OnEvent(name, first, second)
  log = log & " " & name & "(" & first
  If Not IsEmpty(second) Then log = log & ", " & second
  log = log & ")"
End Sub

Dim c, bridge
Set c = CreateObject("Tagvert.Converter")
WScript.Echo "Name=" & c.Name
Set bridge = CreateObject("TagvertTest.EventBridge")
bridge.Connect c, GetRef("OnEvent")
c.ConvertToIF WScript.Arguments(0), WScript.Arguments(1)
bridge.Disconnect
WScript.Echo "events:" & log
