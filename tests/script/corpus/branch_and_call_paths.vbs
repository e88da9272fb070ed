' Statements and calls of procedure bodies: an If that ends its block, an
' assignment to a local, the operands and arguments of a call.
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

Function NameOf(t)
    NameOf = t.Name
End Function

' What an If's header releases goes after the first statement of the branch it
' takes, and by the end of the If when the branch is empty.
Sub LastIf(which)
    WScript.Echo "before"
    If NameOf(Traced("header " & which)) = "header one" Then
        WScript.Echo "  first of the branch"
        WScript.Echo "  second of the branch"
    ElseIf which = "two" Then
    Else
        WScript.Echo "  else branch"
    End If
End Sub
WScript.Echo "If at the end of a block:"
LastIf "one"
LastIf "two"
LastIf "three"
WScript.Echo "after"
Dim turn
For turn = 1 To 2
    WScript.Echo "turn", turn
    If NameOf(Traced("empty branch " & turn)) = "" Then
    End If
Next

' Leaving from inside a branch that ends its block: Exit leaves the loop or the
' procedure, not only the branch.
Function FirstOver(limit)
    Dim i
    FirstOver = -1
    For i = 1 To 10
        If i * i > limit Then
            FirstOver = i
            Exit For
        End If
    Next
    WScript.Echo "  after the loop, i =", i
End Function
WScript.Echo "exit for:", FirstOver(20), FirstOver(200)

Function FindDo(limit)
    Dim n
    n = 0
    Do
        n = n + 1
        If n >= limit Then
            If n Mod 2 = 0 Then
                FindDo = "even " & n
                Exit Function
            Else
                Exit Do
            End If
        End If
    Loop
    FindDo = "odd " & n
End Function
WScript.Echo "exit do/function:", FindDo(3), FindDo(4)

' Nested Ifs that end their blocks, each level choosing its branch.
Function Grade(n)
    If n < 0 Then
        Grade = "negative"
    ElseIf n = 0 Then
        Grade = "zero"
    Else
        If n < 10 Then
            If n Mod 2 = 0 Then Grade = "small even" Else Grade = "small odd"
        Else
            Grade = "large"
        End If
    End If
End Function
WScript.Echo "nested:", Grade(-5), Grade(0), Grade(3), Grade(4), Grade(12)

' Under On Error Resume Next a failing header goes on into its first branch; an
' error inside the branch goes on with the branch's next statement.
Function Guarded(v)
    On Error Resume Next
    Guarded = "none"
    If 1 / v > 0 Then
        Guarded = "first"
        Guarded = Guarded & " " & CStr(1 / v)
        Guarded = Guarded & " " & Err.Number
    Else
        Guarded = "else"
    End If
End Function
WScript.Echo "resume next:", Guarded(2), "|", Guarded(0), "|", Guarded(-1)

' An assignment to a local: an object's default value, operators on two calls
' (left first, widening as for any operands), an error on the left.
Class Holder
    Public Default Property Get Value()
        Value = "default value"
    End Property
End Class

Function Noted(v)
    WScript.Echo "  called with", v
    Noted = v
End Function

Function Failing()
    Err.Raise 5
End Function

Sub Locals()
    Dim a, h, s, t
    Set h = New Holder
    a = h
    WScript.Echo "default value:", a, TypeName(a)
    a = Noted(32767) + Noted(1)
    WScript.Echo "sum:", a, TypeName(a)
    a = Noted(CInt(200)) * Noted(CInt(200))
    WScript.Echo "product:", a, TypeName(a)
    a = Noted(2147483647) + Noted(1)
    WScript.Echo "past Long:", a, TypeName(a)
    s = Noted("ab") & Noted(12)
    WScript.Echo "joined:", s, TypeName(s)
    t = Noted(3) < Noted(4)
    WScript.Echo "compared:", t, TypeName(t)
    On Error Resume Next
    a = "kept"
    a = Failing() + Noted(1)
    WScript.Echo "after an error on the left:", a, Err.Number
End Sub
Locals

' Locals passed on: by reference they are the caller's, by value copies.
Sub Twice(ByRef r, ByVal v)
    r = r * 2
    v = v * 2
End Sub
Sub Passes()
    Dim x, y
    x = 5: y = 7
    Twice x, y
    WScript.Echo "locals passed:", x, y
    Twice (x), y
    WScript.Echo "parenthesised:", x, y
End Sub
Passes

' Recursion through these paths still ends in a trappable "Out of stack space".
Function Down(n)
    If n > 0 Then
        Down = Down(n - 1) + 1
    Else
        Down = Down(n + 1) + Down(n + 2)
    End If
End Function
On Error Resume Next
Dim deep
deep = Down(0)
WScript.Echo "endless recursion:", Err.Number, Err.Description, IsEmpty(deep)
Err.Clear
deep = Down(5)
WScript.Echo "again:", Err.Number
On Error GoTo 0
WScript.Echo "done"
