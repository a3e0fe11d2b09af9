// Tagvert tests: a JScript host drives the converter late-bound and handles its events.
// cscript //nologo convert.js OUTDIR INPUT...
// JScript cannot put a property that takes an argument, so Direction keeps its default, 0, and
// is only read here (the VBScript host sets it).
// Writes for input number i (from 0) OUTDIR\i.js.if / .ttx (ConvertToIF / ConvertFromIF; the File
// forms: the VBScript host); prints the identity and, for the first input, every event received
// through a JScript function (handed to the test's script helper). Any failure prints
// "FAILED <what>: <number>" and ends with exit code 1.
var args = WScript.Arguments;
var outDir = args(0);
var failures = 0;

function attempt(what, action) {
  try {
    action();
  } catch (e) {
    WScript.Echo("FAILED " + what + ": " + (e.number >>> 0).toString(16) + " " + e.message);
    failures++;
  }
}

var c = new ActiveXObject("Tagvert.Converter.2");
var other = new ActiveXObject("Tagvert.Converter");
// Late binding sees only the default interface; IOrvIFConverter's face is handed out by the
// test's script helper (a script cannot QueryInterface).
var helper = new ActiveXObject("TagvertTest.ScriptHelper");
var legacy = helper.LegacyFace(other);
attempt("identity", function () {
  WScript.Echo("Name=" + c.Name + " Id=" + c.Id + " DefaultExtension=" + c.DefaultExtension +
      " FilterString=" + c.FilterString + " MIMEContentType=" + c.MIMEContentType +
      " PropertyCount=" + c.PropertyCount + " PropertyName(0)=" + c.PropertyName(0) +
      " PropertyType(0)=" + c.PropertyType(0) + " Other.Id=" + other.Id +
      " SrcFormatId=" + legacy.SrcFormatId);
});
attempt("Direction", function () {
  WScript.Echo("Direction=" + c.Property("Direction") + " " + other.Property(0));
});

var events = [];
function onEvent(name, first, second) {
  var text = name + "(" + first;
  if (second !== undefined && second !== null) text += ", " + second;
  events.push(text + ")");
}

for (var i = 1; i < args.length; i++) {
  var input = args(i);
  var base = outDir + "\\" + (i - 1);
  // The events of the first conversion (the format test comes after it, so that the conversion
  // starts with ProgressChange(0, 100)).
  if (i == 1) attempt("Connect", function () { helper.Connect(c, onEvent); });
  attempt("ConvertToIF " + input, function () { c.ConvertToIF(input, base + ".js.if"); });
  if (i == 1) {
    helper.Disconnect();
    WScript.Echo("events: " + events.join(" "));
  }
  attempt("IsFormatAvailable " + input, function () { c.IsFormatAvailable(input); });
  attempt("ConvertFromIF " + input, function () {
    c.ConvertFromIF(base + ".js.if", base + ".js.ttx");
  });
}
if (failures > 0) WScript.Quit(1);
WScript.Echo("done");
