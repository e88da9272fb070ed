' Integer and Long operands of + - * Mod and the comparisons, from variables,
' at the edges where the result widens.
Sub Show(label, v)
    WScript.Echo label, TypeName(v), v
End Sub
Dim i16, i32, big, neg, zero
i16 = 32767: i32 = CLng(2147483647): neg = -32768: zero = 0
Show "int+int", i16 + 0
Show "int+int widens", i16 + 1
Show "int-int widens", neg - 1
Show "int*int widens", i16 * 2
Show "int+long", i16 + CLng(1)
Show "long+long widens", i32 + CLng(1)
Show "long-long widens", -i32 - CLng(2)
Show "long*long widens", i32 * i32
Show "int mod", 7 Mod 3
Show "neg mod", -7 Mod 3
Show "long mod", i32 Mod 10
Show "int mod long", i16 Mod CLng(10)
Show "min mod -1", neg Mod -1
Show "int<long", i16 < i32
Show "long=int", CLng(5) = 5
Show "int<>int", zero <> 0
Show "int>=int", neg >= neg
Show "int>int", neg > i16
Show "int<=long", i32 <= i16
On Error Resume Next
big = i16 Mod zero
WScript.Echo "mod by zero:", Err.Number
Err.Clear
On Error GoTo 0

Dim k, last
For k = 32765 To 32769
    last = TypeName(k)
Next
WScript.Echo "counter past Integer:", last, k
For k = CLng(2147483646) To 2147483648#
Next
WScript.Echo "counter past Long:", TypeName(k), k
For k = 5 To 1 Step -2
Next
WScript.Echo "counter down:", TypeName(k), k
