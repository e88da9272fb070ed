' With: members through the object, nested With, With on a function result.
Class Point
  Public X
  Public Y
  Public Function Text()
    Text = "(" & X & "," & Y & ")"
  End Function
End Class
Dim p: Set p = New Point
With p
  .X = 3
  .Y = .X * 2
  WScript.Echo .Text(), .Text
End With
Function MakePoint()
  Set MakePoint = New Point
  MakePoint.X = 7
End Function
With MakePoint()
  WScript.Echo "result", .X
End With
Dim d: Set d = CreateObject("Scripting.Dictionary")
With d
  .Add "a", p
  With .Item("a")
    .X = 99
  End With
  WScript.Echo .Count, p.X
End With
