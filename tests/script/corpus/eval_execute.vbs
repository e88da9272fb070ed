' Eval, Execute, ExecuteGlobal and GetRef.
Dim x: x = 5
WScript.Echo Eval("x * 2"), Eval("x = 5"), Eval("Len(""abc"")")
Execute "x = x + 1"
WScript.Echo x
ExecuteGlobal "Function Made(a) : Made = a & ""!"" : End Function"
WScript.Echo Made("global")
Sub Local()
  Dim y: y = 10
  Execute "y = y * 3"
  WScript.Echo "local execute:", y, Eval("y + 1")
End Sub
Local
Function Handler(a)
  Handler = "handled " & a
End Function
Dim f: Set f = GetRef("Handler")
WScript.Echo f("event"), TypeName(f) <> ""
Execute "Dim a1, a2" & vbCrLf & "a1 = 1 : a2 = 2"
WScript.Echo a1 + a2
On Error Resume Next
Execute "If Then"
WScript.Echo "syntax in execute:", Err.Number
Err.Clear
WScript.Echo Eval("1 +")
WScript.Echo "syntax in eval:", Err.Number
