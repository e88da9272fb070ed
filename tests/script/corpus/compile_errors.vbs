' Compile errors of text compiled while the script runs, by number.
Sub Try(label, code)
  On Error Resume Next
  ExecuteGlobal code
  WScript.Echo label, Err.Number, Err.Description
End Sub
Try "next in if:", "If True Then" & vbLf & "Next" & vbLf & "End If"
Try "next in if in for:", "For i = 1 To 2" & vbLf & "If i Then" & vbLf & "Next"
Try "next in do:", "Do" & vbLf & "Next"
Try "next in while:", "While False" & vbLf & "Next"
Try "loop in while:", "While False" & vbLf & "Loop"
Try "loop in select:", "Select Case 1" & vbLf & "Case 1" & vbLf & "Loop"
Try "next at top:", "Next"
Try "if never ended:", "If True Then" & vbLf & "x = 1"
Try "sub never ended:", "Sub NoEnd()" & vbLf & "x = 1"
Try "end sub in if:", "If True Then" & vbLf & "End Sub"
Try "for never ended:", "For i = 1 To 2" & vbLf & "x = 1"
Try "class after dim:", "Dim Widget" & vbLf & "Class Widget" & vbLf & "End Class"
Try "dim after class:", "Class Gadget" & vbLf & "End Class" & vbLf & "Const Gadget = 1"
Try "class after sub:", "Sub Part : End Sub" & vbLf & "Class Part" & vbLf & "End Class"
Try "function after class:", "Class Tool" & vbLf & "End Class" & vbLf & "Function tool() : End Function"
Try "class twice:", "Class Twin" & vbLf & "End Class" & vbLf & "Class Twin" & vbLf & "End Class"
' Across separately compiled texts of one module.
Try "declares Thing:", "Dim Thing"
Try "class named like it:", "Class Thing" & vbLf & "End Class"
Try "declares class Box:", "Class Box" & vbLf & "End Class"
Try "sub named like it:", "Sub Box : End Sub"
Try "variable named like it:", "Dim box"
' A failed text leaves nothing behind.
Try "plain class still fine:", "Class Fine" & vbLf & "End Class"
Dim made : Set made = New Fine
WScript.Echo TypeName(made)
