' Arrays: fixed and dynamic, several dimensions, ReDim Preserve, Erase,
' bounds, copies are values.
Dim a(2, 3), i, j, s
For i = 0 To 2
  For j = 0 To 3
    a(i, j) = i * 10 + j
  Next
Next
WScript.Echo UBound(a), UBound(a, 1), UBound(a, 2), LBound(a, 2), a(2, 3)
s = ""
For Each i In a
  s = s & i & " "
Next
WScript.Echo "order:", s
Dim d()
ReDim d(1)
d(0) = "x": d(1) = "y"
ReDim Preserve d(3)
WScript.Echo UBound(d), d(0), d(1), IsEmpty(d(3))
ReDim d(1)
WScript.Echo "redim clears:", IsEmpty(d(0))
Dim b: b = Array("p", "q")
Dim c: c = b
c(0) = "changed"
WScript.Echo "copy:", b(0), c(0)
Erase d
On Error Resume Next
WScript.Echo UBound(d)
WScript.Echo "erased dynamic:", Err.Number
Err.Clear
Dim f(2): f(1) = 5
Erase f
WScript.Echo "erased fixed keeps bounds:", UBound(f), IsEmpty(f(1))
ReDim f(5)
WScript.Echo "redim fixed:", Err.Number
Err.Clear
WScript.Echo a(3, 0)
WScript.Echo "out of range:", Err.Number, Err.Description
Err.Clear
On Error GoTo 0
Dim m: ReDim m(1, 1)
ReDim Preserve m(1, 4)
m(1, 4) = "last"
WScript.Echo UBound(m, 2), m(1, 4)
Dim e: e = Array()
WScript.Echo "empty array:", UBound(e), IsArray(e), IsArray("x")
WScript.Echo "split empty:", UBound(Split(""))
Dim n: n = Array(Array(1, 2), Array(3, 4))
WScript.Echo "nested:", n(1)(0)
