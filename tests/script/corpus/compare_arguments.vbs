' The compare argument of the text functions is 0 or 1; any other value is
' an invalid argument.
Dim mode, r
On Error Resume Next
For Each mode In Array(0, 1, 2, -1, 3)
  r = ""
  Err.Clear
  r = InStr(1, "aBc", "b", mode)
  r = r & "/" & Err.Number : Err.Clear
  r = r & " " & InStrRev("aBc", "b", -1, mode)
  r = r & "/" & Err.Number : Err.Clear
  r = r & " " & UBound(Split("aBc", "b", -1, mode))
  r = r & "/" & Err.Number : Err.Clear
  r = r & " " & Replace("aBc", "b", "x", 1, -1, mode)
  r = r & "/" & Err.Number : Err.Clear
  r = r & " " & StrComp("a", "A", mode)
  r = r & "/" & Err.Number : Err.Clear
  r = r & " " & UBound(Filter(Array("aBc", "d"), "b", True, mode))
  r = r & "/" & Err.Number : Err.Clear
  WScript.Echo "mode " & mode & ":", r
Next
r = InStr(1, "abc", "b", "1")
WScript.Echo "text one:", r, Err.Number
