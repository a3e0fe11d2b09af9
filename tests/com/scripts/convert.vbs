' Tagvert tests: a VBScript host drives the converter late-bound, as a translation host would.
' cscript //nologo convert.vbs DIRECTION OUTDIR INPUT...
' Prints the identity of both ProgIDs and the property table, sets and reads Direction, tests
' every input with IsFormatAvailable, and writes for input number i (from 0) OUTDIR\i.vbs.if and
' .ttx with ConvertToIF / ConvertFromIF and file-name VARIANTs.
' Any failure prints "FAILED <what>: <number>" and ends with exit code 1.
Option Explicit

Dim failures: failures = 0

Sub Check(what)
  If Err.Number <> 0 Then
    WScript.Echo "FAILED " & what & ": " & Hex(Err.Number) & " " & Err.Description
    failures = failures + 1
    Err.Clear
  End If
End Sub

Sub ShowIdentity(progId)
  Dim c
  Set c = CreateObject(progId)
  Check "CreateObject " & progId
  WScript.Echo progId & ": Name=" & c.Name & " Id=" & c.Id & " DefaultExtension=" & _
    c.DefaultExtension & " FilterString=" & c.FilterString & " MIMEContentType=" & _
    c.MIMEContentType & " TargetId=" & c.TargetId & " State=" & c.State & _
    " IsConvertToIFAvailable=" & c.IsConvertToIFAvailable & " IsConvertFromIFAvailable=" & _
    c.IsConvertFromIFAvailable
  WScript.Echo progId & ": PropertyCount=" & c.PropertyCount & " PropertyName(0)=" & _
    c.PropertyName(0) & " PropertyType(0)=" & c.PropertyType(0) & _
    " PropertyDisplayName(0)=" & c.PropertyDisplayName(0)
  Check "identity " & progId
End Sub

On Error Resume Next
Dim direction, outDir, i, c, c2, input, base
direction = CLng(WScript.Arguments(0))
outDir = WScript.Arguments(1)

ShowIdentity "Tagvert.Converter"
ShowIdentity "Tagvert.Converter.2"

Set c = CreateObject("Tagvert.Converter")
Set c2 = CreateObject("Tagvert.Converter.2")
' A variable would be passed by reference, which Property put refuses; CLng passes a value.
c.Property("Direction") = CLng(direction)
' A put accepts a 16-bit index (VBScript's 0), a get wants a 32-bit one.
c2.Property(0) = CLng(direction)
Check "put Direction"
WScript.Echo "Direction=" & c.Property("Direction") & " " & c2.Property(CLng(0)) & " " & _
  TypeName(c.Property("direction"))
Check "get Direction"
Dim refused: refused = c2.Property(0)
WScript.Echo "Property(0)=" & Err.Number
Err.Clear

For i = 2 To WScript.Arguments.Count - 1
  input = WScript.Arguments(i)
  base = outDir & "\" & (i - 2)
  ' A variable is passed by reference, which the format test refuses (E_INVALIDARG); the
  ' parentheses pass its value.
  c2.IsFormatAvailable (input)
  Check "IsFormatAvailable " & input
  c2.ConvertToIF input, base & ".vbs.if"
  Check "ConvertToIF " & input
  c2.ConvertFromIF base & ".vbs.if", base & ".vbs.ttx"
  Check "ConvertFromIF " & input
Next

' An IF document is not TTX: the format test answers 0x800401C2.
c.IsFormatAvailable outDir & "\0.vbs.if"
WScript.Echo "IsFormatAvailable(IF)=" & Hex(Err.Number)
Err.Clear
' A variable (by reference) is refused: E_INVALIDARG, VBScript's error 5.
c.IsFormatAvailable input
WScript.Echo "IsFormatAvailable(variable)=" & Err.Number
Err.Clear

If failures > 0 Then WScript.Quit 1
WScript.Echo "done"
