' On Error Resume Next after a statement header fails: VBScript goes on with
' the next statement, which is the first one inside the header's block.
Dim n, i, v, o, x
On Error Resume Next
n = 0
Do While 1 / 0
  n = n + 1
  If n = 2 Then Exit Do
Loop
WScript.Echo "do while:", n, Err.Number
Err.Clear
n = 0
Do Until CLng("x")
  n = n + 1
  If n = 3 Then Exit Do
Loop
WScript.Echo "do until:", n, Err.Number
Err.Clear
n = 0
x = 0
While 10 / x > 5
  n = n + 1
  x = 5
Wend
WScript.Echo "while:", n, Err.Number
Err.Clear
n = 0
Do
  n = n + 1
Loop While 1 / 0
WScript.Echo "loop while at the bottom leaves:", n, Err.Number
Err.Clear
i = "kept"
n = 0
For i = 1 / 0 To 5
  n = n + 1
  WScript.Echo "for body:", i, Err.Number
Next
WScript.Echo "after for:", n, Err.Number, Err.Description, i
Err.Clear
For i = 1 To CLng("x") Step 2
  WScript.Echo "for with a failing end:", Err.Number
  Exit For
Next
WScript.Echo "exit for leaves quietly:", Err.Number
Err.Clear
v = "kept"
For Each v In 5
  WScript.Echo "for each body:", v, Err.Number
Next
WScript.Echo "after for each:", Err.Number, Err.Description
Err.Clear
Select Case 1 / 0
  Case 1
    WScript.Echo "select takes the first case:", Err.Number
  Case 2
    WScript.Echo "second case"
  Case Else
    WScript.Echo "else"
End Select
Err.Clear
Select Case 2
  Case 1
    WScript.Echo "first case"
  Case 1 / 0
    WScript.Echo "a failing case value takes its case:", Err.Number
  Case 2
    WScript.Echo "matching case"
End Select
Err.Clear
Select Case Null + 1 / 0
  Case Else
    WScript.Echo "only an else:", Err.Number
End Select
Err.Clear
With CreateObject("No.Such.Class")
  WScript.Echo "with body:", Err.Number
  Err.Clear
  x = .Name
  WScript.Echo "member of the failed with:", Err.Number
End With
Err.Clear
With Nothing
  .Name = 1
  WScript.Echo "member of with Nothing:", Err.Number, Err.Description
End With
Err.Clear
Set o = Nothing
o.Run
WScript.Echo "call on Nothing:", Err.Number
Err.Clear
x = o.Name(1)
WScript.Echo "read on Nothing:", Err.Number
Err.Clear
x = v.Name
WScript.Echo "member of a text:", Err.Number
Err.Clear
On Error GoTo 0
Function Inner()
  On Error Resume Next
  For i = 1 To 1 / 0
    Inner = "body ran"
  Next
  Inner = Inner & " then " & Err.Number
End Function
WScript.Echo "inside a function:", Inner()
