' Comparisons: numbers against numbers, texts against texts, a number is
' always below a text, Empty takes the other side's type, Null gives Null.
Dim s: s = "10"
WScript.Echo "1:", 10 = 10, 10 < 9.5, "abc" < "abd", "B" < "a", "a" < "B"
WScript.Echo "2:", s = 10, s > 9, 1 < "2", 100 < "2"
WScript.Echo "3:", Empty = 0, Empty = "", Empty < 1, Empty > -1, Empty = Empty
WScript.Echo "4:", IsNull(Null = 1), IsNull(Null <> Null), IsNull(Null = Null)
WScript.Echo "5:", True = -1, False = 0, True < False
WScript.Echo "6:", #1/1/2000# < #1/2/2000#, #1/1/2000# = 36526
WScript.Echo "7:", "abc" = "ABC", StrComp("abc", "ABC"), StrComp("abc", "ABC", 1), StrComp("a", "b")
WScript.Echo "8:", 1.0 = 1, CDbl(1) = CInt(1), CCur(1.5) = 1.5
WScript.Echo "9:", "" < "a", "a" < "aa", "Z" < "a"
Dim o, p
Set o = CreateObject("Scripting.Dictionary")
Set p = o
WScript.Echo "10:", o Is p, o Is Nothing, Nothing Is Nothing
If Null Then
  WScript.Echo "null is true"
Else
  WScript.Echo "null is not true"
End If
