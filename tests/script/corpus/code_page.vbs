' Characters 128-159 through the Windows-1252 code page: Chr and Asc, String
' with a character number, and the case of the letters among them.
Dim n, s, back, d
s = ""
For Each n In Array(128, 130, 138, 140, 142, 146, 150, 153, 154, 156, 158, 159)
  s = s & n & "=" & Hex(AscW(Chr(n))) & " "
Next
WScript.Echo "chr:", s
' Every byte comes back from its character, the undefined ones too.
back = 0
For n = 0 To 255
  If Asc(Chr(n)) = n Then back = back + 1
Next
WScript.Echo "round trips:", back
WScript.Echo "undefined bytes:", Hex(AscW(Chr(129))), Hex(AscW(Chr(141))), Hex(AscW(Chr(157)))
WScript.Echo "asc of unicode:", Asc(ChrW(&H20AC)), Asc(ChrW(&H2014)), Asc(ChrW(&H178)), Asc(ChrW(&HE9))
WScript.Echo "not in the code page:", Asc(ChrW(&H4E00)), Asc(ChrW(&H263A) & "x")
WScript.Echo "ascw keeps unicode:", AscW(ChrW(&H20AC)), Hex(AscW(ChrW(&H3A9)))
WScript.Echo "string of a number:", Hex(AscW(String(2, 128))), Len(String(3, 150)), String(2, 65)
' Case pairs of the code page's letters.
WScript.Echo "ucase:", Hex(AscW(UCase(Chr(154)))), Hex(AscW(UCase(Chr(156)))), Hex(AscW(UCase(Chr(158)))), Hex(AscW(UCase(ChrW(255))))
WScript.Echo "lcase:", Hex(AscW(LCase(Chr(138)))), Hex(AscW(LCase(Chr(140)))), Hex(AscW(LCase(Chr(142)))), Hex(AscW(LCase(Chr(159))))
WScript.Echo "ucase y diaeresis is byte", Asc(UCase(Chr(255))), "lcase back", Asc(LCase(Chr(159)))
WScript.Echo "no capital:", Hex(AscW(UCase(Chr(223)))), Hex(AscW(LCase(Chr(128)))), Hex(AscW(UCase(Chr(153))))
' Text comparison sees the pairs as one letter.
WScript.Echo "instr:", InStr(1, "ab" & Chr(138), Chr(154), vbTextCompare), InStr(1, "ab" & Chr(138), Chr(154), vbBinaryCompare)
WScript.Echo "instrrev:", InStrRev(Chr(159) & "x" & ChrW(255), Chr(159), -1, vbTextCompare)
WScript.Echo "strcomp:", StrComp(Chr(140) & "uvre", Chr(156) & "UVRE", vbTextCompare), StrComp(Chr(140), Chr(156), vbBinaryCompare)
WScript.Echo "replace:", Replace("a" & Chr(158) & "b" & Chr(142), Chr(142), "z", 1, -1, vbTextCompare)
WScript.Echo "split:", UBound(Split("1" & Chr(159) & "2" & ChrW(255) & "3", ChrW(255), -1, vbTextCompare))
WScript.Echo "filter:", UBound(Filter(Array(Chr(138) & "a", "b", Chr(154)), Chr(154), True, vbTextCompare))
Set d = CreateObject("Scripting.Dictionary")
d.CompareMode = vbTextCompare
d.Add Chr(159) & "es", 1
WScript.Echo "dictionary:", d.Exists(ChrW(255) & "ES"), d.Exists("yes")
d.Add Chr(140), 2
On Error Resume Next
d.Add Chr(156), 3
WScript.Echo "duplicate:", Err.Number
