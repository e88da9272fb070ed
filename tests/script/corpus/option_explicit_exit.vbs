Option Explicit
' An undeclared name is error 500 under Option Explicit, when it is used.
Dim known
known = 1
WScript.Echo "declared works", known
Sub UsesUndeclared()
  unknownName = 2
End Sub
UsesUndeclared
