' DateAdd of a Null date is Null, like the other date functions of Null.
Dim r
r = DateAdd("d", 1, Null)
WScript.Echo "null date:", IsNull(r), VarType(r)
WScript.Echo "every interval:", IsNull(DateAdd("yyyy", 1, Null)), IsNull(DateAdd("h", -5, Null)), IsNull(DateAdd("s", 0, Null))
WScript.Echo "a date still works:", DateAdd("d", 1, #2024-02-28#)
On Error Resume Next
r = DateAdd("d", Null, #2024-02-28#)
WScript.Echo "null count:", Err.Number
Err.Clear
r = DateAdd("zz", 1, Null)
WScript.Echo "bad interval:", Err.Number
