' Errors across calls: a failure inside a procedure reaches the caller's
' On Error Resume Next, Err.Raise with custom numbers, On Error GoTo 0.
Function Inner(n)
  Inner = 10 / n
  WScript.Echo "inner finished"
End Function
Function Middle(n)
  Middle = Inner(n) + 1
  WScript.Echo "middle finished"
End Function
Sub Outer()
  On Error Resume Next
  Dim r : r = "unset"
  r = Middle(0)
  WScript.Echo "outer sees:", Err.Number, Err.Description, "r=" & r
End Sub
Outer
WScript.Echo "after outer:", Err.Number

Sub Guarded()
  On Error Resume Next
  Err.Raise 5
  WScript.Echo "guarded goes on:", Err.Number
End Sub
Sub CallsGuarded()
  Guarded
  WScript.Echo "caller of guarded:", Err.Number
End Sub
On Error Resume Next
CallsGuarded
On Error GoTo 0

On Error Resume Next
Err.Raise vbObjectError + 513, "MySource", "My description"
WScript.Echo "custom:", Err.Number - vbObjectError, Err.Source, Err.Description
Err.Clear
Err.Raise 1000
WScript.Echo "unknown number:", Err.Number, "[" & Err.Description & "]", Err.Source
Err.Clear
Err.Raise 11
WScript.Echo "known number keeps its text:", Err.Number, Err.Description
Err.Clear
Err.Raise 9, , "custom text"
WScript.Echo "own text:", Err.Number, Err.Description
Err.Clear
Err.Raise 0
WScript.Echo "raise 0:", Err.Number
Err.Clear
Err.Raise "12"
WScript.Echo "raise text number:", Err.Number, TypeName(Err.Number)
Err.Clear
Err.Number = 13
WScript.Echo "set number:", Err.Number
Err.Clear
WScript.Echo "cleared:", Err.Number, "[" & Err.Description & "]", "[" & Err.Source & "]"

Function Raiser(code)
  Err.Raise code, "Raiser", "raised " & code
  Raiser = "not reached"
End Function
Dim v : v = "before"
v = Raiser(vbObjectError + 1)
WScript.Echo "assignment skipped:", v, Err.Source, Err.Description
Err.Clear
If Raiser(7) = "x" Then
  WScript.Echo "error in condition enters the branch"
Else
  WScript.Echo "else branch"
End If
Err.Clear
v = 1
v = v + Raiser(8) + 100
WScript.Echo "whole statement skipped:", v
Err.Clear

On Error GoTo 0
Err.Raise 5
