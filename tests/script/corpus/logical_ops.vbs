' Logical operators are bitwise on numbers; Null follows three-valued logic.
WScript.Echo True And False, True Or False, True Xor True, True Eqv False, False Imp True
WScript.Echo 12 And 10, 12 Or 10, 12 Xor 10, TypeName(12 And 10), Not 0, Not 5, TypeName(Not 5)
WScript.Echo 100000 And 65535, TypeName(100000 And 1), 5 Eqv 3, 5 Imp 3
WScript.Echo "null and false:", Null And False
WScript.Echo "null or true:", Null Or True
WScript.Echo "isnull:", IsNull(Null And True), IsNull(Null Or False), IsNull(Not Null), IsNull(Null Xor True)
WScript.Echo "imp:", False Imp Null, Null Imp True, IsNull(True Imp Null)
WScript.Echo "not cmp:", Not 1 = 2, Not (1 = 1) Or True
WScript.Echo "prec:", 1 = 1 And 2 = 2, 1 + 1 = 2 Or False
WScript.Echo "cbool:", Not "True" = "True", True And "True"
