' Sub and Function: ByRef by default, ByVal, a parenthesised argument is a
' copy, Call, Exit, recursion, functions used as values.
Sub AddOne(n)
  n = n + 1
End Sub
Sub AddOneByVal(ByVal n)
  n = n + 1
End Sub
Function Square(x)
  Square = x * x
End Function
Function Early(x)
  Early = "start"
  If x Then Exit Function
  Early = "end"
End Function
Sub Swap(a, b)
  Dim t: t = a: a = b: b = t
End Sub
Function Fact(n)
  If n <= 1 Then Fact = 1 Else Fact = n * Fact(n - 1)
End Function
Function NoResult()
End Function
Dim v: v = 1
AddOne v: WScript.Echo "byref", v
AddOne (v): WScript.Echo "paren copy", v
Call AddOne(v): WScript.Echo "call", v
AddOneByVal v: WScript.Echo "byval", v
Dim p, q: p = "p": q = "q"
Swap p, q: WScript.Echo "swap", p, q
WScript.Echo Square(7), Square(Square(2)), Early(True), Early(False), Fact(10)
WScript.Echo "empty result:", IsEmpty(NoResult())
Dim arr: arr = Array(1, 2, 3)
AddOne arr(1)
WScript.Echo "array element byref", arr(1)
Sub Outer()
  WScript.Echo "outer start"
  Inner
  WScript.Echo "outer end"
End Sub
Sub Inner()
  WScript.Echo "inner"
  Exit Sub
  WScript.Echo "never"
End Sub
Outer
Dim g: g = "global"
Sub UsesGlobal()
  g = g & " changed"
  Dim g2: g2 = "local"
End Sub
UsesGlobal
WScript.Echo g
Sub ImplicitLocal()
  undeclared = 5
End Sub
ImplicitLocal
WScript.Echo "implicit stays local:", IsEmpty(undeclared)
Function Later()
  Later = "defined below its use"
End Function
WScript.Echo Later
