' Tagvert tests: a VBScript host drives the converter late-bound, as a translation host would.
' cscript //nologo convert.vbs DIRECTION OUTDIR INPUT...
' Prints the identity and property table of both ProgIDs, sets and reads Direction, and writes
' for input number i (from 0) OUTDIR\i.vbs.if and .ttx with ConvertToIF / ConvertFromIF and
' file names. A failure prints "FAILED <what>: <number>" and ends with exit code 1.
Option Explicit
Dim c, progId, i, input, base
On Error Resume Next

Sub Check(what)
  If Err.Number <> 0 Then WScript.Echo "FAILED " & what & ": " & Hex(Err.Number): WScript.Quit 1
End Sub

For Each progId In Array("Tagvert.Converter", "Tagvert.Converter.2")
  Set c = CreateObject(progId)
  Check "CreateObject " & progId
  WScript.Echo progId & ": " & c.Name & " " & c.Id & " " & c.DefaultExtension & " " & _
    c.FilterString & " " & c.MIMEContentType & " " & c.TargetId & " " & c.State & " " & _
    c.IsConvertToIFAvailable & c.IsConvertFromIFAvailable & " " & c.PropertyCount & " " & _
    c.PropertyName(0) & " " & c.PropertyType(0) & " " & c.PropertyDisplayName(0)
  Check "identity " & progId
Next

' A variable would be passed by reference, which Property put refuses; CLng passes a value. A
' put takes a 16-bit index (VBScript's 0), a get wants a 32-bit one.
c.Property("Direction") = CLng(WScript.Arguments(0))
c.Property(0) = CLng(WScript.Arguments(0))
Check "put Direction"
WScript.Echo "Direction=" & c.Property("direction") & " " & TypeName(c.Property(CLng(0)))
Check "get Direction"
i = c.Property(0)
WScript.Echo "Property(0)=" & Err.Number
Err.Clear

For i = 2 To WScript.Arguments.Count - 1
  input = WScript.Arguments(i)
  base = WScript.Arguments(1) & "\" & (i - 2)
  c.ConvertToIF input, base & ".vbs.if"
  c.ConvertFromIF base & ".vbs.if", base & ".vbs.ttx"
  Check "converting " & input
Next

' The format test refuses an IF document, and a variable (passed by reference): VBScript's 5.
c.IsFormatAvailable base & ".vbs.if"
WScript.Echo "IsFormatAvailable(IF)=" & Hex(Err.Number)
Err.Clear
c.IsFormatAvailable input
WScript.Echo "IsFormatAvailable(variable)=" & Err.Number
