' Literals and conversions where VBScript has its own rules.
Dim hi, hello, r, x
hi = "there"
hello = "world"
WScript.Echo "unary minus before a power:", -3 ^ 2, -2 ^ 3, 2 ^ -2, 10 - 3 ^ 2, -3 ^ 2 * 2
WScript.Echo "hex with a suffix:", TypeName(&h10&), &h10&, TypeName(&hFFFF&), &hFFFF&, TypeName(&h7FFF&), TypeName(&h8000&), &h8000&
WScript.Echo "hex without:", TypeName(&hFFFF), &hFFFF, TypeName(&h10000), &h10000, &o17&, TypeName(&o17&)
WScript.Echo "joins a variable:", "x" &hi, "y" &hello
WScript.Echo "cbyte of booleans:", CByte(True), CByte(False), TypeName(CByte(True))
r = RGB(1, 2, 3)
WScript.Echo "rgb:", r, TypeName(r), RGB(255, 255, 255), RGB(300, 0, 1000)
WScript.Echo "text hex:", CLng("&HFFFF"), CDbl("&HFFFF"), CLng("&H8000"), CLng("&HFFFFFFFF"), CInt("&HFFFF"), CInt("&H8000"), CInt("&H7FFF")
WScript.Echo "text hex in arithmetic:", "&HFFFF" + 0, "&H8000" * 1
WScript.Echo "round keeps a boolean:", TypeName(Round(True)), TypeName(Round(False, 2)), CStr(Round(True))
On Error Resume Next
x = CDbl("1E309")
WScript.Echo "cdbl overflow:", Err.Number, Err.Description
Err.Clear
x = "1e400" * 1
WScript.Echo "text too large in arithmetic:", Err.Number
Err.Clear
WScript.Echo "isnumeric of it:", IsNumeric("1E309"), IsNumeric("1E308")
x = CInt("&H10000")
WScript.Echo "cint of more than 16 bits:", Err.Number
Err.Clear
x = RGB(Null, 0, 0)
WScript.Echo "rgb of Null:", Err.Number
Err.Clear
