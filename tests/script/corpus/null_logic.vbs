' Null in the logical operators: the result is known where the other operand
' decides it, and is then that operand in its own type; otherwise Null.
Function Show(v)
    If IsNull(v) Then
        Show = "Null"
    Else
        Show = TypeName(v) & ":" & CStr(v)
    End If
End Function

' And: a zero (or False) decides.
WScript.Echo Show(Null And False), Show(False And Null), Show(Null And 0), Show(CLng(0) And Null), Show(Null And CByte(0)), Show(Null And Empty), Show(Null And 0.4)
WScript.Echo Show(Null And True), Show(Null And -1), Show(Null And 5), Show(Null And Null), Show(Null And "False"), Show(Null And "0")
' Or: all bits set (True, -1, a Byte of 255) decides.
WScript.Echo Show(Null Or True), Show(True Or Null), Show(Null Or -1), Show(CLng(-1) Or Null), Show(Null Or CByte(255)), Show(Null Or -1.2), Show(Null Or "True")
WScript.Echo Show(Null Or False), Show(Null Or 0), Show(Null Or 5), Show(Null Or Empty), Show(Null Or Null), Show(Null Or CByte(254))
' Xor and Eqv need both operands.
WScript.Echo Show(Null Xor True), Show(False Xor Null), Show(Null Xor 0), Show(Null Eqv True), Show(-1 Eqv Null), Show(Null Eqv Null)
' Imp: a false left side, or a true right side, decides.
WScript.Echo Show(False Imp Null), Show(0 Imp Null), Show(Empty Imp Null), Show(CByte(0) Imp Null), Show(Null Imp True), Show(Null Imp -1), Show(Null Imp CLng(-1))
WScript.Echo Show(True Imp Null), Show(5 Imp Null), Show(Null Imp False), Show(Null Imp 0), Show(Null Imp Null)
' Not Null is Null; a Null condition is not true.
WScript.Echo Show(Not Null), Show(Not (Null And False))
If Null Or False Then WScript.Echo "taken" Else WScript.Echo "not taken"
If Null Or True Then WScript.Echo "taken" Else WScript.Echo "not taken"
' A text that is no number is still a type mismatch.
On Error Resume Next
Dim r
r = Null And "abc"
WScript.Echo Err.Number
