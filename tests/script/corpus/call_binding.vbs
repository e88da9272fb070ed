' How a call binds its arguments, and the order in which a call's values go.
Class Tracer
    Public Name
    Private Sub Class_Terminate()
        WScript.Echo "  release", Name
    End Sub
End Class

Function Traced(name)
    Set Traced = New Tracer
    Traced.Name = name
End Function

Sub Bump(ByRef a, ByVal b, c)
    a = a + 1
    b = b + 1
    c = c + 1
End Sub

Dim x, y, z, arr(2)
x = 1: y = 1: z = 1: arr(1) = 1
Bump x, y, z
WScript.Echo "variables:", x, y, z
Bump (x), y + 0, arr(1)
WScript.Echo "values and an element:", x, y, arr(1)

' The callee's own variables (a ByVal copy, a local) go when it returns, before
' the caller's temporaries passed ByRef; its result lives on.
Function Keep(ByVal held, kept, other)
    Dim own
    Set own = Traced("local")
    Set Keep = Traced("result")
End Function

Dim r
WScript.Echo "call:"
Set r = Keep(Traced("by value"), Traced("by reference"), Traced("second by reference"))
WScript.Echo "returned:", r.Name
Set r = Nothing

Class Box
    Private m
    Public Property Let Value(v)
        v = v & "!"
        m = v
    End Property
    Public Property Get Value()
        Value = m
    End Property
End Class
Dim b, text
Set b = New Box
text = "set"
b.Value = text
WScript.Echo "property let:", b.Value, text

' A procedure called from an expression, from a statement and through its
' own name inside itself.
Function Twice(n)
    If n <= 0 Then
        Twice = 0
    Else
        Twice = 2 + Twice(n - 1)
    End If
End Function
WScript.Echo "recursion:", Twice(500), TypeName(Twice(3))
