' Conversions round halves to even; Int and Fix differ below zero.
WScript.Echo CInt(0.5), CInt(1.5), CInt(2.5), CInt(-0.5), CInt(-1.5), CInt(2.4999), CInt("3.5")
WScript.Echo CLng(2.5), CLng(3.5), CLng(-2.5), CByte(2.5), CByte(3.5)
WScript.Echo Round(0.5), Round(1.5), Round(2.5), Round(-2.5), Round(2.567, 2), Round(2.5, 0), Round(1.005 * 1000) / 1000
WScript.Echo Int(2.7), Int(-2.7), Fix(2.7), Fix(-2.7), Int(-0.5), TypeName(Int(2.7)), TypeName(Int(7)), TypeName(Fix(CSng(1.5)))
WScript.Echo CBool(1), CBool(0), CBool("true"), CBool("False"), CBool(-0.1), CBool("2")
WScript.Echo CDbl("1.5e3"), CDbl(" 12 "), CLng("&HFF"), CSng(1 / 3), CDbl(1 / 3), CCur(1 / 3)
WScript.Echo CStr(1E+16), CStr(123456789012345), CStr(0.1 + 0.2), CStr(-0), CStr(1.0), CStr(100 / 3)
WScript.Echo Abs(-5), Abs(-2.5), TypeName(Abs(-5)), Sgn(-3), Sgn(0), Sgn(2.5), Sqr(16), Exp(0), Log(1)
WScript.Echo Round(1234.5678, 2), Round(-0.125, 2), Round(0.125, 2), Round(0.135, 2)
WScript.Echo TypeName(CInt(1)), TypeName(CLng(1)), TypeName(CSng(1)), TypeName(CDbl(1)), TypeName(CCur(1)), TypeName(CByte(1)), TypeName(CBool(1)), TypeName(CDate(1)), TypeName(CStr(1))
WScript.Echo VarType(1), VarType(1&), VarType(1.5), VarType("a"), VarType(True), VarType(Null), VarType(Empty), VarType(Array()), VarType(CCur(1)), VarType(#1/1/2000#)
WScript.Echo IsNumeric("12"), IsNumeric("1e5"), IsNumeric("abc"), IsNumeric(""), IsNumeric(Empty), IsNumeric(Null), IsNumeric(" 3 "), IsNumeric("&H10")
WScript.Echo IsEmpty(Empty), IsEmpty(""), IsNull(Null), IsObject(Nothing), IsObject(1), IsArray(Array())
