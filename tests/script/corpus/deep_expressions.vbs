' Expressions and blocks of any length or depth end in a value or in a
' trappable error, whether they come in Eval, Execute or ExecuteGlobal.
ReDim parts(20000)
For i = 0 To 20000: parts(i) = "1": Next

Function Nested(opener, inner, closer, depth)
    Nested = String(depth, "*")
    Nested = Replace(Nested, "*", opener) & inner & Replace(String(depth, "*"), "*", closer)
End Function

' Long chains of every binary operator; a few of them in each way of running text.
On Error Resume Next
For Each op In Array("+", "-", "*", "/", "\", "Mod", "^", "&", "And", "Or", "Xor", "Eqv", "Imp", "=", "<>", "<", ">", "<=", ">=")
    text = Join(parts, " " & op & " ")
    Err.Clear
    a = Eval(text)
    If op = "&" Then a = Len(a)
    WScript.Echo op, Err.Number, a
Next
For Each op In Array("+", "&", "Or")
    text = Join(parts, " " & op & " ")
    Err.Clear
    Execute "b = " & text
    eb = Err.Number
    Err.Clear
    ExecuteGlobal "c = " & text
    ec = Err.Number
    If op = "&" Then b = Len(b): c = Len(c)
    WScript.Echo "run", op, eb, ec, b, c
Next

' Nesting past what the parser allows: error 28, trapped like any other.
Dim arr(1)
arr(0) = 0
For Each shape In Array("parens", "calls", "indexes", "if", "select", "with", "for", "do")
    Select Case shape
        Case "parens": text = "x = " & Nested("(", "1", ")", 5000)
        Case "calls": text = "x = " & Nested("Abs(", "1", ")", 5000)
        Case "indexes": text = "x = " & Nested("arr(", "0", ")", 5000)
        Case "if": text = Nested("If True Then" & vbCrLf, "x = 1" & vbCrLf, "End If" & vbCrLf, 5000)
        Case "select": text = Nested("Select Case 1" & vbCrLf & "Case 1" & vbCrLf, "x = 1" & vbCrLf, "End Select" & vbCrLf, 5000)
        Case "with": text = Nested("With arr" & vbCrLf, "x = 1" & vbCrLf, "End With" & vbCrLf, 5000)
        Case "for": text = Nested("For Each v In arr" & vbCrLf, "x = 1" & vbCrLf, "Next" & vbCrLf, 5000)
        Case "do": text = Nested("Do" & vbCrLf, "Exit Do" & vbCrLf, "Loop" & vbCrLf, 5000)
    End Select
    Err.Clear
    Execute text
    e1 = Err.Number
    Err.Clear
    ExecuteGlobal text
    e2 = Err.Number
    WScript.Echo shape, e1, e2
Next
Err.Clear
x = Eval(Nested("(", "1", ")", 5000))
WScript.Echo "eval parens", Err.Number

' Within what the parser allows, each shape runs.
Err.Clear
Execute "x = " & Nested("(", "1", ")", 40) & ": y = " & Nested("Abs(", "-2", ")", 40) & ": z = " & Nested("arr(", "0", ")", 40)
WScript.Echo "nested 40", Err.Number, x, y, z

' Arrays nested deeply: the conversions refuse them at once.
deep = Array()
For i = 1 To 20000: deep = Array(deep): Next
For Each how In Array("join", "cstr", "compare", "concat")
    Err.Clear
    Select Case how
        Case "join": r = Join(deep, ",")
        Case "cstr": r = CStr(deep)
        Case "compare": r = (deep = deep)
        Case "concat": r = deep & "x"
    End Select
    WScript.Echo how, Err.Number
Next
deep = Empty
WScript.Echo "done"
