' With blocks nested and re-entered, Select Case over strings and mixed
' types, For loops with negative and fractional steps.
Class Box
  Public Name
  Public Inner
  Public Count
End Class
Dim outer : Set outer = New Box
outer.Name = "outer"
Set outer.Inner = New Box
outer.Inner.Name = "inner"
With outer
  .Count = 1
  With .Inner
    .Name = .Name & "!"
    .Count = 2
    WScript.Echo "nested with:", .Name, .Count
  End With
  WScript.Echo "back in outer:", .Name, .Count, .Inner.Name
End With
Function Describe(b)
  With b
    Describe = .Name & "/" & .Count
  End With
End Function
With outer
  WScript.Echo "call from inside with:", Describe(.Inner), .Name
End With
Dim i
For i = 1 To 2
  With outer.Inner
    .Count = .Count + i
  End With
Next
WScript.Echo "with in a loop:", outer.Inner.Count
Dim saved : Set saved = outer
With saved
  Set saved = Nothing
  WScript.Echo "with keeps its object:", .Name
End With
On Error Resume Next
With Nothing
  WScript.Echo "inside with Nothing"
  x = .Name
  WScript.Echo "member of Nothing:", Err.Number
End With
Err.Clear
On Error GoTo 0

Function Kind(v)
  Select Case v
    Case "a", "b"
      Kind = "letter a or b"
    Case "A"
      Kind = "capital A"
    Case 1, 2
      Kind = "one or two"
    Case "3"
      Kind = "three as text"
    Case True
      Kind = "true"
    Case Empty
      Kind = "empty"
    Case Else
      Kind = "other"
  End Select
End Function
WScript.Echo "select:", Kind("a"), "|", Kind("A"), "|", Kind(2), "|", Kind("2"), "|", Kind(3), "|", Kind(-1), "|", Kind(""), "|", Kind(0), "|", Kind(Null)
Dim pick : pick = 5
Select Case True
  Case pick < 3 : WScript.Echo "small"
  Case pick < 10 : WScript.Echo "select true picks the first true case: medium"
  Case pick < 100 : WScript.Echo "large"
End Select
Function Counted(n)
  WScript.Echo "evaluated", n
  Counted = n
End Function
Select Case 2
  Case Counted(1), Counted(2), Counted(3)
    WScript.Echo "stops at the first match"
End Select
Select Case "x"
  Case "y"
    WScript.Echo "never"
End Select
WScript.Echo "no case matched and no else"

Dim s
s = ""
For i = 3 To 1 Step -1 : s = s & i & " " : Next
WScript.Echo "step -1:", s, "after:", i
s = ""
For i = 1 To 0 Step -0.25 : s = s & i & " " : Next
WScript.Echo "step -0.25:", s, "after:", i
s = ""
For i = 0.5 To 2 : s = s & i & " " : Next
WScript.Echo "fractional start:", s
s = ""
For i = 1 To 2.5 Step 0.5 : s = s & i & " " : Next
WScript.Echo "fractional end:", s
s = ""
For i = 1 To 10 Step 3
  s = s & i & " "
  i = i + 1
Next
WScript.Echo "changed inside:", s, "after:", i
s = ""
For i = 10 To 1 Step -2
  If i = 6 Then i = 2
  s = s & i & " "
Next
WScript.Echo "jumped down:", s, "after:", i
Dim last : last = 3
s = ""
For i = 1 To last
  last = 10
  s = s & i & " "
Next
WScript.Echo "end read once:", s
Dim stp : stp = 1
s = ""
For i = 1 To 4 Step stp
  stp = 2
  s = s & i & " "
Next
WScript.Echo "step read once:", s
s = ""
For i = "1" To "3" : s = s & i & " " : Next
WScript.Echo "text bounds:", s
s = ""
For i = 1 To 3 Step 1.5 : s = s & TypeName(i) & " " : Next
WScript.Echo "types with a double step:", s
s = ""
For i = CByte(1) To 2 : s = s & TypeName(i) & " " : Next
WScript.Echo "byte start:", s
s = 0
For i = 1 To 3 Step 0
  s = s + 1
  If s = 5 Then Exit For
Next
WScript.Echo "step 0 loops until exit:", s, i
