' SubMatches: the captured groups of a match.
Dim re, ms, m, sm, s, v
Set re = New RegExp
re.Pattern = "(\w+)=((\d+)|(\w+))"
re.Global = True
Set ms = re.Execute("temp=21 mode=auto")
WScript.Echo ms.Count
For Each m In ms
    Set sm = m.SubMatches
    WScript.Echo TypeName(sm), sm.Count, sm(0), sm.Item(1), "[" & sm(2) & "]", "[" & sm(3) & "]", IsEmpty(sm(2)), IsEmpty(sm(3))
Next
' For Each over the groups, in order; a group that took no part is Empty.
s = ""
For Each v In ms(1).SubMatches
    s = s & TypeName(v) & ":" & v & " "
Next
WScript.Echo s
' Indexing straight through the property.
WScript.Echo ms(0).SubMatches(2) + 1, ms(1).SubMatches.Count

' Non-capturing groups and look-aheads add no group.
re.Pattern = "(?:ab)+(c)(?=d)"
Set ms = re.Execute("ababcd")
WScript.Echo ms(0), ms(0).SubMatches.Count, ms(0).SubMatches(0)

' Nested groups are numbered by their opening parenthesis.
re.Pattern = "((\d+)\.(\d+))\.(\d+)"
Set m = re.Execute("version 10.4.2 ok")(0)
WScript.Echo m.SubMatches(0), m.SubMatches(1), m.SubMatches(2), m.SubMatches(3), m.FirstIndex

' A pattern without groups has an empty SubMatches.
re.Pattern = "\d"
Set m = re.Execute("a1")(0)
WScript.Echo m.SubMatches.Count
s = 0
For Each v In m.SubMatches
    s = s + 1
Next
WScript.Echo s

' A group that matched the empty text is an empty String, not Empty.
re.Pattern = "a(x*)b"
Set m = re.Execute("ab")(0)
WScript.Echo TypeName(m.SubMatches(0)), Len(m.SubMatches(0))
