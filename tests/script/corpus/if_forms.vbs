' Block and single-line If, ElseIf chains, nesting, colons.
Dim i
For i = 1 To 4
  If i = 1 Then
    WScript.Echo "one"
  ElseIf i = 2 Then
    WScript.Echo "two"
  ElseIf i = 3 Then
    WScript.Echo "three"
  Else
    WScript.Echo "other"
  End If
Next
If i = 5 Then WScript.Echo "single": WScript.Echo "line" Else WScript.Echo "no"
If i <> 5 Then WScript.Echo "no" Else WScript.Echo "else": WScript.Echo "part"
If True Then If False Then WScript.Echo "inner" Else WScript.Echo "nested else"
If "1" Then WScript.Echo "text 1 is true"
If 0 Then
Else
  WScript.Echo "empty then"
End If
If i = 5 Then
  If i > 1 Then
    WScript.Echo "nested block"
  End If
End If
