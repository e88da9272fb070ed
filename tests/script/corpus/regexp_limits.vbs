' Searches the regular-expression library gives up on (nested repetition over a long near
' miss): Test, Replace and Execute raise an error naming the pattern; none answers "no match".
Dim re, rows, row, r, got, bad
bad = String(40, "a") & "!x"
' pattern, text, global, ignore case, multiline
rows = Array( _
    Array("(a+)+c|x", bad, False, False, False), _
    Array("(a+)+c|x", bad, True, False, False), _
    Array("(A+)+C|X", bad, False, True, False), _
    Array("^(a|aa)+$|x", bad, False, False, True), _
    Array("(a*)*c|x", bad, True, False, False), _
    Array("x|(a+)+c", "x" & bad, True, False, False))
Set re = New RegExp
For Each row In rows
    re.Pattern = row(0): re.Global = row(2): re.IgnoreCase = row(3): re.Multiline = row(4)
    On Error Resume Next
    got = ""
    Err.Clear: r = re.Test(row(1)): got = got & " Test " & Err.Number
    Err.Clear: r = re.Replace(row(1), "y"): got = got & " Replace " & Err.Number
    Err.Clear: Set r = re.Execute(row(1)): got = got & " Execute " & Err.Number
    If Err.Number <> 0 Then got = got & " " & Err.Description
    On Error GoTo 0
    WScript.Echo row(0) & ":" & got
Next

' Near misses the library finishes, and text with a broken surrogate pair: answers as before.
re.Global = True: re.IgnoreCase = False: re.Multiline = False
re.Pattern = "(a+)+c|x"
WScript.Echo re.Test(String(12, "a") & "!x"), re.Replace(String(12, "a") & "!x", "y")
re.Pattern = "x"
WScript.Echo re.Test(ChrW(&HD800) & "x"), re.Execute(ChrW(&HD800) & "x").Count

' A repeated group without nested repetition is linear: it answers over long texts, however
' deep the repetition runs, and a text with no match answers False, not an error.
Dim n, s, m
rows = Array( _
    Array("(a|b)*c", "", "c"), _
    Array("(?:ab|cd)*e", "", "e"), _
    Array("<b>(.|\n)*</b>", "<b>", vbLf & "</b>"), _
    Array("^(\w|\s)*$", "", ""))
re.Global = True: re.IgnoreCase = False: re.Multiline = False
For Each n In Array(50000, 200000)
    For Each row In rows
        re.Pattern = row(0)
        If row(0) = "(?:ab|cd)*e" Then s = Replace(String(n \ 2, "."), ".", "ab") Else s = String(n, "a")
        s = row(1) & s & row(2)
        On Error Resume Next
        got = ""
        Err.Clear: r = re.Test(s): got = got & " Test " & r & " " & Err.Number
        Err.Clear: Set m = re.Execute(s): got = got & " Execute " & Err.Number
        If Err.Number = 0 Then got = got & " " & m.Count & " " & (m(0).Length = Len(s))
        Err.Clear: r = re.Replace(s, "y"): got = got & " Replace " & r & " " & Err.Number
        Err.Clear: r = re.Test(row(1) & String(n, "a")): got = got & " near miss " & r & " " & Err.Number
        On Error GoTo 0
        WScript.Echo row(0) & " over " & n & ":" & got
    Next
Next
