' An error after a call returns is reported at the calling statement.
Function F()
  F = 1
End Function
Dim a(1)
a(F() + 5) = 1
