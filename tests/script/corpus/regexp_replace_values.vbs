' RegExp.Replace takes the replacement as a value's text: a Boolean is its
' number, other values as CStr writes them.
Dim re
Set re = New RegExp
re.Pattern = "o"
re.Global = True
WScript.Echo re.Replace("foo", True), re.Replace("foo", False)
WScript.Echo re.Replace("foo", 12), re.Replace("foo", 1.5), re.Replace("foo", Empty), re.Replace("foo", "$&$&")
