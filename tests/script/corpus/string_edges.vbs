' String functions at their boundaries: start and count arguments, compare
' modes, lengths of zero, character codes at the ends of their ranges.
Sub Show(label, v)
  WScript.Echo label & " [" & v & "]"
End Sub
Show "mid start past end", Mid("abc", 4)
Show "mid start far past end", Mid("abc", 100, 2)
Show "mid count past end", Mid("abc", 2, 100)
Show "mid count zero", Mid("abc", 2, 0)
Show "mid one char", Mid("abc", 3, 1)
Show "mid of number", Mid(12345, 2, 3)
Show "mid fractional start", Mid("abcdef", 2.5, 2)
Show "mid fractional count", Mid("abcdef", 1, 2.5)
Show "left exact", Left("abc", 3)
Show "right zero", Right("abc", 0)
Show "right exact", Right("abc", 3)
Show "left of number", Left(3.25, 3)
Show "left fractional", Left("abcdef", 1.5)
Show "right of empty", Right("", 4)
On Error Resume Next
Sub Err5(label)
  WScript.Echo label, Err.Number
  Err.Clear
End Sub
x = Mid("abc", 0): Err5 "mid start 0:"
x = Mid("abc", 1, -1): Err5 "mid count -1:"
x = Left("abc", -1): Err5 "left -1:"
x = Right("abc", -1): Err5 "right -1:"
x = InStr(0, "abc", "a"): Err5 "instr start 0:"
x = InStrRev("abc", "a", 0): Err5 "instrrev start 0:"
x = InStrRev("abc", "a", -2): Err5 "instrrev start -2:"
x = Space(-1): Err5 "space -1:"
x = String(-1, "a"): Err5 "string -1:"
x = Chr(256): Err5 "chr 256:"
x = Chr(-1): Err5 "chr -1:"
x = Asc(""): Err5 "asc empty:"
x = Replace(Null, "a", "b"): Err5 "replace of null:"
x = Mid("abc", 1, Null): Err5 "mid count null:"
x = Replace("abc", "b", "x", 0): Err5 "replace start 0:"
x = Replace("abc", "b", "x", 1, -2): Err5 "replace count -2:"
On Error GoTo 0
WScript.Echo "instr:", InStr("abcabc", "bc"), InStr(3, "abcabc", "bc"), InStr(6, "abcabc", "c"), InStr(7, "abcabc", "c"), InStr(100, "abc", "")
WScript.Echo "instr text:", InStr(1, "xAbC", "abc", vbTextCompare), InStr(1, "xAbC", "abc", vbBinaryCompare), InStr(1, ChrW(196) & ChrW(214), ChrW(246), 1)
WScript.Echo "instr empty in empty:", InStr("", ""), InStr(1, "", ""), InStr(2, "", "")
WScript.Echo "instr numbers:", InStr(12345, 34), InStr(1, 1.5, ".")
WScript.Echo "instrrev:", InStrRev("abcabc", "bc"), InStrRev("abcabc", "bc", 4), InStrRev("abcabc", "bc", 5), InStrRev("abcabc", "abc", 3), InStrRev("abcabc", "c", 2)
WScript.Echo "instrrev start past end:", InStrRev("abc", "c", 10), InStrRev("abc", "", 2), InStrRev("", "")
WScript.Echo "instrrev text:", InStrRev("aXax", "X", -1, vbTextCompare), InStrRev("aXax", "X", -1, vbBinaryCompare)
Show "replace from 3", Replace("aaaa", "a", "b", 3)
Show "replace count 2", Replace("aaaa", "a", "b", 1, 2)
Show "replace start and count", Replace("abcabcabc", "b", "X", 2, 2)
Show "replace count 0", Replace("aaaa", "a", "b", 1, 0)
Show "replace start past end", Replace("abc", "a", "x", 5)
Show "replace empty find", Replace("abc", "", "x")
Show "replace with empty", Replace("banana", "an", "")
Show "replace longer", Replace("a.b.c", ".", "---")
Show "replace text mode", Replace("ABab", "b", "_", 1, -1, vbTextCompare)
Show "replace binary mode", Replace("ABab", "b", "_", 1, -1, vbBinaryCompare)
Show "replace overlapping", Replace("aaa", "aa", "b")
Show "replace in number", Replace(1001, 0, 9)
WScript.Echo "strcomp binary:", StrComp("a", "B"), StrComp("B", "a"), StrComp("abc", "abd"), StrComp("ab", "abc"), StrComp("", ""), StrComp("", "a")
WScript.Echo "strcomp text:", StrComp("a", "B", 1), StrComp("ABC", "abc", 1), StrComp("abc", "ABD", 1), StrComp("b", "A", vbTextCompare)
WScript.Echo "strcomp numbers:", StrComp(10, 9), StrComp(10, 10), StrComp("10", 9)
Show "space 0", Space(0)
Show "space 2.5", Space(2.5)
Show "string 0", String(0, "x")
Show "string code", String(3, 97)
Show "string code wraps", String(2, 353)
Show "string of empty count", String(Empty, "z")
WScript.Echo "asc/chr:", Asc(Chr(0)), Asc(Chr(255)), Asc(Chr(233)), Chr(32) = " ", Len(Chr(0)), AscW(ChrW(8364)), AscW(ChrW(-1)), Asc(1)
WScript.Echo "chr of fraction:", Asc(Chr(65.4)), Asc(Chr(65.6)), Asc(Chr("66"))
WScript.Echo "lengths:", Len(Space(1000)), Len(String(5, ChrW(8364))), Len(Empty), IsNull(Len(Null)), Len(CStr(-0.5))
WScript.Echo "case of non-letters:", AscW(UCase(ChrW(228))), UCase("1-x"), AscW(LCase(ChrW(196) & "B")), LCase(Empty) = ""
WScript.Echo "trim keeps inner:", "[" & Trim("  a  b  ") & "]", "[" & LTrim("") & "]", "[" & RTrim(" ") & "]"
WScript.Echo "strreverse:", StrReverse("a b"), StrReverse(123)
WScript.Echo "null in, null out:", IsNull(StrComp(Null, "a")), IsNull(StrComp("a", Null)), IsNull(InStrRev(Null, "a")), IsNull(Right(Null, 1))
