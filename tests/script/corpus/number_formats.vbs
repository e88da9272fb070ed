' FormatNumber, FormatCurrency and FormatPercent with their optional
' arguments; Hex and Oct of negatives and Longs; CStr of each number type.
WScript.Echo "digits:", FormatNumber(2.5, 0), FormatNumber(3.5, 0), FormatNumber(-2.5, 0), FormatNumber(1.005, 2), FormatNumber(123.456, 5), FormatNumber(0, 2)
WScript.Echo "leading digit:", FormatNumber(0.5, 2, -1), FormatNumber(0.5, 2, 0), FormatNumber(-0.5, 2, 0), FormatNumber(0.5, 2, -2)
WScript.Echo "parens:", FormatNumber(-1.5, 1, -1, -1), FormatNumber(-1.5, 1, -1, 0), FormatNumber(1.5, 1, -1, -1), FormatNumber(-0.25, 2, 0, -1)
WScript.Echo "grouping:", FormatNumber(1234567.891, 2, , , -1), FormatNumber(1234567.891, 2, , , 0), FormatNumber(999.5, 0), FormatNumber(-1000, 0)
WScript.Echo "big and small:", FormatNumber(1E+15, 0), FormatNumber(0.000001, 3)
WScript.Echo "from text and bool:", FormatNumber("1234.5", 1), FormatNumber(True, 0), FormatNumber(Empty, 1)
WScript.Echo "currency:", FormatCurrency(1234567.891), FormatCurrency(0.5, 0), FormatCurrency(-0.5, 2, 0), FormatCurrency(-1234.5, 2, -1, 0), FormatCurrency(-1234.5, 2, -1, -1)
WScript.Echo "currency grouping:", FormatCurrency(1234.5, 1, -1, 0, 0), FormatCurrency(CCur(12.3456), 3)
WScript.Echo "percent:", FormatPercent(0.12345, 2), FormatPercent(0.005, 0), FormatPercent(12.5, 0), FormatPercent(-0.001, 2, 0), FormatPercent(-0.25, 0, -1, -1), FormatPercent(123.456, 1, -1, 0, 0)
On Error Resume Next
x = FormatNumber("abc"): WScript.Echo "text:", Err.Number: Err.Clear
x = FormatNumber(Null): WScript.Echo "null:", Err.Number: Err.Clear
On Error GoTo 0
WScript.Echo "hex:", Hex(-1), Hex(-2), Hex(-32768), Hex(32767), Hex(32768), Hex(-32769), Hex(-2147483648), Hex(2147483647)
WScript.Echo "hex longs:", Hex(CLng(1)), Hex(CLng(-1)), Hex(CLng(-256)), Hex(&H10000), Hex(65536 * 16)
WScript.Echo "hex of doubles:", Hex(-1.5), Hex(254.5), Hex(255.5), Hex(-0.4), Hex(CSng(16))
WScript.Echo "hex of bytes and bools:", Hex(CByte(255)), Hex(False), Hex("-1")
WScript.Echo "oct:", Oct(-1), Oct(-8), Oct(-32768), Oct(32768), Oct(CLng(-1)), Oct(CLng(-8)), Oct(2147483647), Oct(-2147483648)
WScript.Echo "oct small:", Oct(7), Oct(8), Oct(0.5), Oct(1.5), Oct(CByte(255))
On Error Resume Next
x = Hex(2147483648): WScript.Echo "hex too big:", Err.Number: Err.Clear
x = Oct(-2147483649): WScript.Echo "oct too small:", Err.Number: Err.Clear
On Error GoTo 0
WScript.Echo "cstr single:", CStr(CSng(1.1)), CStr(CSng(1) / 3), CStr(CSng(123456789)), CStr(CSng(0.0001)), CStr(CSng(-2.5E-10)), CStr(CSng(1E+20))
WScript.Echo "cstr double:", CStr(1 / 3), CStr(0.1 + 0.2), CStr(1E+15), CStr(1E+16), CStr(123456789012345), CStr(1E-5), CStr(0.0001), CStr(-1.5E-300), CStr(2 ^ 53)
WScript.Echo "cstr currency:", CStr(CCur(1.5)), CStr(CCur(-0.0001)), CStr(CCur(922337203685477)), CStr(CCur(12.34567)), CStr(CCur(0)), CStr(CCur("1,234.5"))
WScript.Echo "cstr whole numbers:", CStr(CInt(-0)), CStr(CLng(-2147483648)), CStr(CByte(0)), CStr(100000 * 10)
WScript.Echo "types:", TypeName(CSng(1) / 3), TypeName(CCur(1) * 2), TypeName(CCur(1) / 2), TypeName(CSng(1) + 1), TypeName(CSng(1) + CLng(1)), TypeName(CCur(1) + 1.5)
