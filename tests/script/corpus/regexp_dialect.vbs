' The ECMAScript dialect of VBScript's regular expressions, corner by corner.
Dim re
Set re = New RegExp

Function First(pattern, text)
    re.Pattern = pattern
    Dim ms
    Set ms = re.Execute(text)
    If ms.Count = 0 Then
        First = "(none)"
    Else
        First = ms(0).Value & "@" & ms(0).FirstIndex
    End If
End Function

' Greedy and non-greedy quantifiers.
WScript.Echo First("<.+>", "<a><b>"), First("<.+?>", "<a><b>"), First("a{2,3}", "aaaa"), First("a{2,3}?", "aaaa"), First("a??b", "ab")
WScript.Echo First("x{2}", "xxx"), First("a{x", "a{x"), First("b{,2}", "b{,2}"), First("c}", "c}")
' Look-ahead, positive and negative.
WScript.Echo First("\d+(?=px)", "10em 20px"), First("foo(?!bar)", "foobar foobaz"), First("(?=(\d))\d\d", "a12")
' Back-references; one to a group that took no part (or has not closed) matches the empty text.
WScript.Echo First("(\w)\1", "hello"), First("(a)|\1b", "b"), First("\1(a)", "xa"), First("(['""]).*?\1", "say 'hi' ""x""")
' \b and \B.
WScript.Echo First("\bcat\b", "concat cat"), First("\Bcat", "cat concat"), First("\b\w", "  ok")
' \d and \w are ASCII only, also on Latin-1 text; \s is white space of ASCII.
WScript.Echo First("\d+", Chr(189) & Chr(178) & Chr(179) & "45"), First("\w+", "caf" & Chr(233) & "s"), First("\s", "a" & Chr(160) & "b c")
WScript.Echo First("\D\W", "12" & Chr(233) & "!") = Chr(233) & "!@2", First("[\d]+", "x" & Chr(185) & "7")
' ^ and $ without Multiline: the whole text only (no place before a final newline).
re.Multiline = False
WScript.Echo First("^b", "a" & vbLf & "b"), First("a$", "a" & vbLf), First("a$", "xa"), First("^a", "ab")
' With Multiline: every line, after and before \n or \r.
re.Multiline = True
WScript.Echo First("^b", "a" & vbLf & "b"), First("a$", "a" & vbCrLf & "b"), First("^\d+$", "x" & vbCr & "42" & vbCr), First("$", "ab")
re.Multiline = False
' The dot stops at \n and \r.
WScript.Echo First("a.b", "a" & vbCr & "b a" & vbLf & "b axb"), First("a[^x]b", "a" & vbLf & "b") = "a" & vbLf & "b@0"
' Character classes: empty, everything, class escapes beside "-", a "[" inside.
WScript.Echo First("[]", "abc"), First("[^]", vbLf) = vbLf & "@0", First("[\d-]+", "a-1-2b"), First("[.]", "a.b"), First("[[:alpha:]]+", "ab:]")
WScript.Echo First("[a-c\-]+", "x-ab-"), First("[\b]", "a" & Chr(8)) = Chr(8) & "@1", First("[^a-z]", "abc1")
' Escapes: hexadecimal, Unicode, control characters, octal, and letters standing for themselves.
WScript.Echo First("\x41\u0042", "xAB"), First("\cJ", "a" & vbLf) = vbLf & "@1", First("\101", "zA"), First("\z\A", "zA"), First("\t", "a" & vbTab) = vbTab & "@1"
' IgnoreCase, also beyond ASCII.
re.IgnoreCase = True
WScript.Echo First("abc", "xABC"), First(Chr(233), Chr(201)) = Chr(201) & "@0", First("[a-c]+", "ABCD")
re.IgnoreCase = False
WScript.Echo First("abc", "xABC")
' Alternatives and grouping.
WScript.Echo First("cat|category", "category"), First("(cat|dog)s?", "dogs")

' Patterns the dialect rejects raise their error when used.
Sub Bad(pattern)
    On Error Resume Next
    re.Pattern = pattern
    re.Test "a"
    WScript.Echo "[" & pattern & "]", Err.Number, Err.Description
End Sub
Bad "(a"
Bad "a)"
Bad "[a"
Bad "*a"
Bad "a**"
Bad "a++"
Bad "^*"
Bad "[z-a]"
Bad "a{3,1}"
Bad "(?<n>a)"
Bad "(?<=a)b"
Bad "a\"
