' RegExp.Replace and every "$" form of its replacement text.
Dim re, s
Set re = New RegExp
re.Pattern = "(\d+)-(\d+)"
s = "call 555-1234 now"
WScript.Echo re.Replace(s, "$2-$1")
WScript.Echo re.Replace(s, "[$&]")
WScript.Echo re.Replace(s, "[$`]")
WScript.Echo re.Replace(s, "[$']")
WScript.Echo re.Replace(s, "$$1 and $$")
' A group the pattern lacks, $0 and a lone "$" are written as they stand;
' "$10" with two groups is group 1 and a zero.
WScript.Echo re.Replace(s, "$3|$0|$|$10|$x")
WScript.Echo re.Replace(s, "cost: $")

' Global replaces every match, otherwise the first only.
re.Pattern = "a"
WScript.Echo re.Replace("banana", "o")
re.Global = True
WScript.Echo re.Replace("banana", "o")
WScript.Echo re.Replace("xyz", "o"), Len(re.Replace("", "o"))

' A group that took no part gives the empty text.
re.Pattern = "(a)|(b)"
WScript.Echo re.Replace("abc", "[$1|$2]")

' Two-digit group numbers where the pattern has that many groups.
re.Pattern = "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)"
WScript.Echo re.Replace("abcdefghijk", "$11$10$1$9")

' Empty matches step one character on.
re.Pattern = "x*"
WScript.Echo re.Replace("abc", "-")
re.Pattern = "a*"
WScript.Echo re.Replace("baaac", "<$&>")

' IgnoreCase, and a replacement that is a number.
re.Pattern = "COLOR"
re.IgnoreCase = True
WScript.Echo re.Replace("color Colour COLOR", "colour"), re.Replace("x color", 42)

' Swapping words, as a cleanup script does.
re.Pattern = "(\w+)\s*,\s*(\w+)"
WScript.Echo re.Replace("Smith , John; Doe,Jane", "$2 $1")
