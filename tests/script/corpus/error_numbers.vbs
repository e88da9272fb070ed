' The run-time error numbers scripts test Err.Number against.
Dim d, arr(2), o, n
On Error Resume Next
Sub Check(label)
  WScript.Echo label, Err.Number, Err.Description
  Err.Clear
End Sub
n = Mid("abc", 0): Check "invalid call"
n = CInt(40000): Check "overflow"
n = arr(5): Check "subscript"
n = 1 \ 0: Check "division by zero"
n = 5 Mod 0: Check "mod by zero"
n = "abc" + 1: Check "type mismatch"
n = o.Name: Check "object required (Empty)"
Set o = Nothing
n = o.Name: Check "member of Nothing"
Set d = CreateObject("Scripting.Dictionary")
d.NoSuchMember: Check "no such member"
Function TwoArgs(a, b): TwoArgs = a: End Function
n = TwoArgs(1): Check "wrong argument count"
Set d = CreateObject("No.Such.Class"): Check "cannot create"
n = CLng("x"): Check "clng of text"
n = Null + 1: Check "null arithmetic is no error"
n = CStr(Null): Check "invalid use of null"
n = Asc(""): Check "asc of empty"
d = CreateObject("Scripting.Dictionary")
Check "let of an object"
Set n = 5: Check "set of a number"
n = UBound(5): Check "ubound of a number"
n = 0 / 0: Check "zero by zero"
Set n = New NoSuchClass: Check "class not defined"
