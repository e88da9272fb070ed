' Execute runs in the scope it is called from; ExecuteGlobal in the global one.
Option Explicit
Dim g, x
g = "global g"
x = "Global"

Sub Shadow()
  Execute "Dim g : g = ""local g"""
  WScript.Echo "inside:", Eval("g")
End Sub
Shadow
WScript.Echo "outside:", g

Sub SetsGlobal()
  Execute "g = ""changed by Execute"""
End Sub
SetsGlobal
WScript.Echo g

Sub Declares()
  Execute "Dim made : made = 41"
  made = made + 1
  WScript.Echo "declared by Execute:", made
End Sub
Declares
On Error Resume Next
WScript.Echo made
WScript.Echo "made outside:", Err.Number
Err.Clear
On Error GoTo 0

Sub ProcScope()
  Dim x
  x = "Local"
  Execute "Sub Shown : WScript.Echo ""Shown sees"", x : End Sub"
  WScript.Echo "Eval sees", Eval("x")
  Shown
End Sub
ProcScope

Function Depth(n)
  Execute "Dim level : level = " & n
  If n < 3 Then Depth(n + 1)
  WScript.Echo "level", Eval("level")
End Function
Depth 1

Sub Twice()
  Execute "Dim c : c = 1"
  Execute "c = c + 1"
  Execute "ExecuteGlobal ""Dim fromInside : fromInside = 7"""
  WScript.Echo "twice:", Eval("c")
End Sub
Twice
WScript.Echo "ExecuteGlobal from a procedure:", fromInside

Class Counter
  Private m_n
  Public Sub Bump(by)
    Execute "Dim step : step = by * 2 : m_n = m_n + step"
  End Sub
  Public Property Get N : N = m_n : End Property
End Class
Dim k : Set k = New Counter
k.Bump 1
k.Bump 5
WScript.Echo "class:", k.N
