' Err.Raise: the help file and context it is given stay with the error, and
' later raises keep them unless given new ones; numbers out of range fail.
On Error Resume Next
Err.Raise 1001, "src", "first", "first.chm", 42
WScript.Echo "raised:", Err.Number, Err.Source, Err.Description, Err.HelpFile, Err.HelpContext
Err.Raise 1002
WScript.Echo "kept:", Err.Number, Err.Description, Err.HelpFile, Err.HelpContext
Err.Raise 1003, , , "second.chm"
WScript.Echo "new file, same context:", Err.HelpFile, Err.HelpContext
Err.Raise 1004, , , , 7
WScript.Echo "new context:", Err.HelpFile, Err.HelpContext
Err.Clear
WScript.Echo "cleared:", "[" & Err.HelpFile & "]", Err.HelpContext
Err.Raise 9
WScript.Echo "none given:", Err.Number, "[" & Err.HelpFile & "]", Err.HelpContext
Err.Clear
Sub Thrower()
  Err.Raise vbObjectError + 5, "deep", "from a sub", "deep.chm", 99
End Sub
Thrower
WScript.Echo "through a call:", Err.Number - vbObjectError, Err.HelpFile, Err.HelpContext
Err.Clear
Err.Raise 65535
WScript.Echo "largest:", Err.Number
Err.Clear
Err.Raise 65536
WScript.Echo "one more:", Err.Number, Err.Description
Err.Clear
Err.Raise 0
WScript.Echo "zero:", Err.Number
Err.Clear
Err.Raise 2147483647
WScript.Echo "largest long:", Err.Number
