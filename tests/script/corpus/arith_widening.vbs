' Arithmetic result types: Integer widens to Long, Long to Double.
Sub Show(label, v)
  WScript.Echo label, TypeName(v), v
End Sub
Show "int+int", 1 + 2
Show "int overflow", 32767 + 1
Show "int*int overflow", 200 * 200
Show "long overflow", 2147483647 + 1
Show "neg int min", -(-32768)
Show "byte+byte", CByte(200) + CByte(100)
Show "byte+byte small", CByte(2) + CByte(3)
Show "bool+bool", True + True
Show "empty+empty", Empty + Empty
Show "empty+long", Empty + 100000
Show "string+int", "3" + 4
Show "string+string", "3" + "4"
Show "double", 1.5 + 1
Show "div ints", 6 / 3
Show "intdiv", 7 \ 2
Show "intdiv neg", -7 \ 2
Show "intdiv double", 7.6 \ 2
Show "mod", 7 Mod 3
Show "mod neg", -7 Mod 3
Show "mod double", 7.5 Mod 2
Show "pow", 2 ^ 10
Show "pow neg exponent", 2 ^ -1
Show "neg pow", -2 ^ 2
Show "precedence", 2 + 3 * 4 - 6 / 2
Show "intdiv vs mult", 10 \ 3 * 2
Show "mod vs intdiv", 10 Mod 4 \ 2
Show "currency", CCur(1.5) + 1
Show "currency*double", CCur(2) * 1.5
Show "date+int", #1/1/2000# + 1
Show "date-date", #1/3/2000# - #1/1/2000#
Show "unary minus string", -"5"
Show "sub strings", "10" - "4"
Show "long mult", 100000 * 3
Show "hex literal", &HFF
Show "hex literal neg", &HFFFF
Show "hex long", &H10000
Show "hex long suffix", &HFFFF&
Show "octal", &O17
Show "big literal", 3000000000
Show "null+1", Null + 1
