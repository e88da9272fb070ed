' Inside a function, its own name with arguments calls it again, also in a text it evaluates
' or executes; the bare name is still its result.
Function E(n)
  If n <= 0 Then
    E = 0
  Else
    E = n + Eval("E(" & (n - 1) & ")")
  End If
End Function
Function X(n)
  Dim r
  If n <= 0 Then
    X = 0
  Else
    Execute "r = X(" & (n - 1) & ")"
    X = n * 10 + r
  End If
End Function
Function R()
  R = 41
  R = Eval("R + 1")
End Function
Class C
  Public Function M(n)
    If n <= 0 Then
      M = "end"
    Else
      M = n & "," & Eval("M(" & (n - 1) & ")")
    End If
  End Function
End Class
WScript.Echo E(4)
WScript.Echo X(3)
WScript.Echo R()
Dim o: Set o = New C
WScript.Echo o.M(2)
