' Text functions with their edge cases.
WScript.Echo "[" & Mid("hello", 2) & "]", "[" & Mid("hello", 5, 10) & "]", "[" & Mid("hello", 6) & "]", "[" & Mid("hello", 1, 0) & "]"
WScript.Echo Left("hello", 0) & "|" & Left("hello", 10) & "|" & Right("hello", 3) & "|" & Right("hi", 5)
WScript.Echo Len("abc"), Len(""), Len(12345), Len(1.5), IsNull(Len(Null)), IsNull(Left(Null, 1)), IsNull(Mid(Null, 1))
WScript.Echo InStr("abcabc", "c"), InStr(4, "abcabc", "c"), InStr("abc", ""), InStr(2, "abc", ""), InStr("", "a"), InStr("abc", "d")
WScript.Echo InStr(1, "ABC", "b", 1), InStr(1, "ABC", "b", 0), IsNull(InStr(Null, "a")), InStr(5, "abc", "a")
WScript.Echo InStrRev("abcabc", "b"), InStrRev("abcabc", "b", 4), InStrRev("abc", "x"), InStrRev("abc", "")
WScript.Echo Replace("a-b-c", "-", "+"), Replace("a-b-c", "-", "+", 1, 1), Replace("a-b-c", "-", "", 3), Replace("AbA", "a", "x", 1, -1, 1)
WScript.Echo Join(Split("a,b,,c", ","), "|"), UBound(Split("a,b,,c", ",")), Join(Split("a b c", " ", 2), "|"), UBound(Split("abc", ""))
WScript.Echo Join(Split("aXbxc", "x", -1, 1), "|"), Join(Array(1, 2, 3)), Join(Array("a", "b"), "")
WScript.Echo LCase("MiXeD"), UCase("MiXeD"), "[" & Trim("  a b  ") & "]", "[" & LTrim("  a ") & "]", "[" & RTrim("  a  ") & "]"
WScript.Echo "[" & Trim(vbTab & " x " & vbTab) & "]" = "[" & vbTab & " x " & vbTab & "]"
WScript.Echo "[" & Space(3) & "]", String(3, "xy"), String(2, 65), StrReverse("abc"), "[" & StrReverse("") & "]"
WScript.Echo Asc("A"), Asc("abc"), AscW("A"), Chr(65), ChrW(97), Chr(0) = vbNullChar, Len(vbCrLf)
WScript.Echo Join(Filter(Array("apple", "banana", "cherry"), "an"), ","), Join(Filter(Array("apple", "banana"), "an", False), ","), Join(Filter(Array("ABC", "x"), "b", True, 1), ",")
WScript.Echo "a" & vbTab & "b", Len(vbNewLine), """quoted"""
WScript.Echo StrComp("a", "a"), StrComp("b", "a"), StrComp("A", "a", vbTextCompare), StrComp("A", "a", vbBinaryCompare)
WScript.Echo LCase(123), UCase(True), Len(True)
