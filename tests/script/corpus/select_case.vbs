' Select Case: comma lists, Case Else, strings, no match, Null.
Function Kind(v)
  Select Case v
    Case 1, 2, 3
      Kind = "small"
    Case 4: Kind = "four"
    Case "a", "b"
      Kind = "letter"
    Case 10 / 2
      Kind = "computed"
    Case Else
      Kind = "other"
  End Select
End Function
WScript.Echo Kind(2), Kind(4), Kind("b"), Kind(5), Kind(99), Kind("2"), Kind(Null)
Select Case 7
  Case 1
    WScript.Echo "not this"
End Select
Dim x: x = 3
Select Case True
  Case x < 2: WScript.Echo "lt2"
  Case x < 5: WScript.Echo "lt5"
  Case Else: WScript.Echo "big"
End Select
