' The type of an arithmetic result: a Single meeting a Long widens to Double,
' sums with Currency stay Currency, a Single divided by a short whole number
' stays Single; conversions to Currency round the product as VB does.
WScript.Echo "single and long:", TypeName(CSng(1) + CLng(1)), TypeName(CSng(1) * CLng(2)), TypeName(CSng(1) - CLng(2)), CSng(1.1) * CLng(3), CSng(1.1) + CLng(1)
WScript.Echo "single and short:", TypeName(CSng(1) + CInt(1)), TypeName(CSng(1) - CByte(1)), TypeName(CSng(1) + True), TypeName(CSng(1) * Empty), CSng(1.1) * 3
WScript.Echo "single and double or text:", TypeName(CSng(1) + 1.5), TypeName(CSng(1) + "1")
WScript.Echo "currency sums:", TypeName(CCur(1) + 1.5), TypeName(CCur(1) - CSng(1)), TypeName(CCur(1) + "2"), CCur(2) - 0.123456, CCur(1) + 0.00025
WScript.Echo "currency products:", TypeName(CCur(1) * 1.5), TypeName(CCur(1) * CSng(1.5)), TypeName(CCur(1) * 2), TypeName(CCur(1) / 2), TypeName(CCur(1) \ 2)
WScript.Echo "division:", TypeName(1 / 3), TypeName(CSng(1) / CSng(3)), TypeName(CSng(1) / 3), TypeName(CSng(1) / CByte(2)), TypeName(Empty / CSng(2)), CSng(1) / 3
WScript.Echo "division to double:", TypeName(CSng(1) / CLng(3)), TypeName(CSng(1) / CCur(2)), TypeName(CSng(1) / 2.5), TypeName(CSng(1) / "2")
WScript.Echo "ccur rounding:", CCur(0.00005), CCur(0.00015), CCur(0.00025), CCur(-0.00005), CCur(1.00005), CCur(2.5)
On Error Resume Next
x = CCur(1) + 1E+300
WScript.Echo "currency overflow:", Err.Number
