' On Error Resume Next: a failing statement is skipped, also when the
' failure is inside a called procedure or in the middle of an expression.
Function Fails()
  Fails = 1 / 0
  WScript.Echo "never reached"
End Function
Function Guarded()
  On Error Resume Next
  Guarded = "before"
  Dim x: x = 1 / 0
  Guarded = Guarded & " after " & Err.Number
End Function
Dim v
On Error Resume Next
v = "old"
v = 10 + Fails()
WScript.Echo "assignment skipped:", v, Err.Number, Err.Description
Err.Clear
WScript.Echo "cleared:", Err.Number, "[" & Err.Description & "]"
v = Guarded()
WScript.Echo "handled inside:", v, Err.Number
Err.Clear
If 1 / 0 = 5 Then
  WScript.Echo "if with a failing condition enters its branch", Err.Number
Else
  WScript.Echo "else"
End If
Err.Clear
Err.Raise 1000, "mysource", "my text"
WScript.Echo "raised:", Err.Number, Err.Source, Err.Description
Err.Raise vbObjectError + 7
WScript.Echo "object error:", Err.Number - vbObjectError, Err.Description
Err.Raise 9
WScript.Echo "standard text:", Err.Number, Err.Description
On Error GoTo 0
WScript.Echo "goto 0 clears:", Err.Number
Sub Raiser()
  Err.Raise 5
End Sub
Sub Caller()
  On Error Resume Next
  Raiser
  WScript.Echo "caller saw:", Err.Number
End Sub
Caller
WScript.Echo "after caller:", Err.Number
On Error Resume Next
Err.Number = 13
WScript.Echo "set number:", Err.Number, Err.Description
Err.Clear
For Each v In 5
Next
WScript.Echo "for each over a number:", Err.Number
