' Calling a name that is no procedure (one never defined, or a variable that
' holds neither an object nor an array) is a type mismatch; reading it is not.
Class Holder
    Public field
    Public Function CallField()
        CallField = field()
    End Function
End Class

Sub InAProcedure()
    Dim declared
    x = declared()
End Sub

Sub ImplicitInAProcedure()
    x = NotThereEither()
End Sub

Dim g
g = 5
On Error Resume Next
For Each how In Array("expression", "statement", "call", "bare", "variable", "local", "implicit local", "field", "execute", "eval", "execute in a procedure")
    Err.Clear
    Select Case how
        Case "expression": x = NotDefined()
        Case "statement": NotDefined()
        Case "call": Call NotDefined()
        Case "bare": NotDefined
        Case "variable": x = g()
        Case "local": InAProcedure
        Case "implicit local": ImplicitInAProcedure
        Case "field": Set h = New Holder: x = h.CallField()
        Case "execute": Execute "x = NotDefined()"
        Case "eval": x = Eval("NotDefined()")
        Case "execute in a procedure": ExecuteGlobal "Sub RunIt: Execute ""y = NotDefinedHere()"": End Sub": RunIt
    End Select
    WScript.Echo how, Err.Number
Next

' Reading such a name, or calling an array or an object, is no error.
Err.Clear
x = NotDefined
a = Array(1, 2)
b = a()
Set d = CreateObject("Scripting.Dictionary")
d.Add "k", 1
c = d("k")
WScript.Echo "reads", Err.Number, IsEmpty(x), UBound(b), c
