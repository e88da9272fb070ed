' The RegExp object: creation, its properties, Test, Execute and the Matches collection.
Dim re, ms, m, s, n
Set re = New RegExp
WScript.Echo TypeName(re), "[" & re.Pattern & "]", re.Global, re.IgnoreCase, re.Multiline
re.Pattern = "o\w"
WScript.Echo re.Test("hello world"), re.Test("HELLO"), re.Test("")
re.IgnoreCase = True
WScript.Echo re.Test("HELLO WORLD")

' Without Global, Execute finds the first match only.
Set ms = re.Execute("hello world, of course")
WScript.Echo TypeName(ms), ms.Count, ms(0), ms.Item(0).Value, ms(0).FirstIndex, ms(0).Length, TypeName(ms(0))
re.Global = True
Set ms = re.Execute("hello world, of course")
WScript.Echo ms.Count
s = ""
For Each m In ms
    s = s & m.Value & "@" & m.FirstIndex & " "
Next
WScript.Echo s
' A match's default member is its text.
WScript.Echo "first: " & ms(0), ms(2) = "ou"

' No match: an empty collection that For Each passes over.
Set ms = re.Execute("xyz")
n = 0
For Each m In ms
    n = n + 1
Next
WScript.Echo ms.Count, n

' CreateObject gives the same object; each has its own settings.
Dim re2
Set re2 = CreateObject("VBScript.RegExp")
WScript.Echo TypeName(re2), re2.Global, re.Global
re2.Pattern = "\d+"
re2.Global = 1
WScript.Echo re2.Global, re2.Execute("a1b22c333").Count, re2.Execute("a1b22c333")(2).FirstIndex

' The empty pattern matches the empty text at every position.
re2.Pattern = ""
WScript.Echo re2.Test("abc"), re2.Execute("ab").Count, re2.Execute("ab")(2).FirstIndex, re2.Execute("ab")(1).Length

' Changing the pattern or a flag takes effect at the next use.
re2.Pattern = "^a"
WScript.Echo re2.Test("Abc"), re2.Test("abc")
re2.IgnoreCase = True
WScript.Echo re2.Test("Abc")

' An item outside the collection is error 5; so is a bad SubMatches index.
On Error Resume Next
Set ms = re2.Execute("abc")
m = ms(1)
WScript.Echo Err.Number
Err.Clear
m = ms(0).SubMatches(0)
WScript.Echo Err.Number
Err.Clear
m = ms(-1)
WScript.Echo Err.Number
On Error GoTo 0

' A RegExp kept in a property of a script object.
Class Holder
    Public Items
End Class
Dim h
Set h = New Holder
Set h.Items = New RegExp
h.Items.Pattern = "b+"
WScript.Echo h.Items.Replace("abbbc", "-")
