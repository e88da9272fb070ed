' & converts both sides to text; Null only when both are Null.
WScript.Echo "a" & 1 & True & 2.5
WScript.Echo "x" & Null & "y", IsNull(Null & Null), TypeName(1 & 2)
WScript.Echo "[" & Empty & "]", 1 + 2 & 3, 1 & 2 + 3
WScript.Echo "date: " & #2/3/2004 4:05:06 PM#
WScript.Echo "single: " & CSng(1.1) & " double: " & 1.1 & " big: " & 1E+20 & " small: " & 0.00001
WScript.Echo "currency: " & CCur(12.5) & " " & CCur(-0.25)
WScript.Echo 1 / 3, 2 / 3, 1E15, 123456789012345678, -1.5E-7
