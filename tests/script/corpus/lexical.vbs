' Names without regard to case, comments, line continuations, colons,
' literals and bracketed names.
Dim MyVar: myvar = 1: MYVAR = MyVar + 1 ' a comment
Rem a Rem comment
WScript.Echo myVar   REM trailing rem
Dim total
total = 1 + _
        2 + _
        3
WScript.Echo total, "a" & _
  "b"
Dim [my odd name]: [my odd name] = "bracketed"
WScript.Echo [my odd name]
WScript.Echo &HA, &h10, &O10, &12, 1.5E2, .5, 1e-2, #1/2/2003#, #2003-01-02#
WScript.Echo "it""s", """", "", "'not a comment'"
wscript.echo "lower-case call", TRUE, false
Dim o: Set o = CreateObject("Scripting.Dictionary"): o.Add "end", 1: WScript.Echo o.Item("end"), o.Count
