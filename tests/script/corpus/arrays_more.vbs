' Arrays: ReDim Preserve of several dimensions, Erase of fixed and dynamic
' arrays, UBound of each dimension, assignment copies, arrays in procedures.
Dim m()
ReDim m(1, 2)
Dim i, j
For i = 0 To 1
  For j = 0 To 2
    m(i, j) = i & j
  Next
Next
ReDim Preserve m(1, 4)
WScript.Echo "preserve last dim:", UBound(m, 1), UBound(m, 2), m(0, 0), m(1, 2), IsEmpty(m(1, 4))
ReDim Preserve m(1, 1)
WScript.Echo "preserve shrink:", UBound(m, 2), m(1, 1)
On Error Resume Next
ReDim Preserve m(2, 1)
WScript.Echo "preserve first dim:", Err.Number, UBound(m, 1)
Err.Clear
ReDim Preserve m(1)
WScript.Echo "preserve rank change:", Err.Number
Err.Clear
WScript.Echo UBound(m, 3)
WScript.Echo "ubound of missing dim:", Err.Number
Err.Clear
WScript.Echo UBound(m, 0)
WScript.Echo "ubound dim 0:", Err.Number
Err.Clear
On Error GoTo 0
Dim cube(1, 2, 3)
WScript.Echo "three dims:", UBound(cube), UBound(cube, 2), UBound(cube, 3), LBound(cube, 3)
cube(1, 2, 3) = "corner"
Dim copy : copy = cube
copy(1, 2, 3) = "changed"
WScript.Echo "copy of fixed:", cube(1, 2, 3), copy(1, 2, 3)
Erase cube
WScript.Echo "erased fixed:", UBound(cube, 3), IsEmpty(cube(1, 2, 3)), copy(1, 2, 3)
Dim dyn() : ReDim dyn(2) : dyn(2) = 1
Erase dyn
On Error Resume Next
WScript.Echo UBound(dyn)
WScript.Echo "erased dynamic:", Err.Number
Err.Clear
On Error GoTo 0
ReDim dyn(0)
dyn(0) = "again"
WScript.Echo "redim after erase:", UBound(dyn), dyn(0)
Dim v : v = Array(1, Array(2, 3), "x")
Dim w : w = v
Dim inner : inner = w(1)
inner(0) = 99
WScript.Echo "nested copy:", v(1)(0), w(1)(0), inner(0)
Sub Fill(ByRef arr, n)
  ReDim arr(n)
  For i = 0 To n : arr(i) = i * i : Next
End Sub
Sub TryChange(ByVal arr)
  arr(0) = "changed"
End Sub
Dim filled
Fill filled, 3
WScript.Echo "byref redim:", UBound(filled), filled(3)
TryChange filled
WScript.Echo "byval copy:", filled(0)
Function Squares(n)
  Dim r() : ReDim r(n - 1)
  For i = 1 To n : r(i - 1) = i * i : Next
  Squares = r
End Function
WScript.Echo "returned array:", Join(Squares(4), ","), UBound(Squares(1))
Dim s : s = Squares(3)
s(0) = -1
WScript.Echo "returned is a copy:", Squares(3)(0), s(0)
Dim e()
WScript.Echo "dim () is an array:", IsArray(e), TypeName(e)
On Error Resume Next
WScript.Echo UBound(e)
WScript.Echo "ubound of dim ():", Err.Number
Err.Clear
On Error GoTo 0
Dim neg : ReDim neg(-1)
WScript.Echo "redim -1:", UBound(neg), LBound(neg)
Dim big : ReDim big(2, 1)
big(2, 1) = "z"
Dim el
Dim order : order = ""
For Each el In big
  order = order & "[" & el & "]"
Next
WScript.Echo "for each order:", order
WScript.Echo "vartype:", VarType(Array()), VarType(cube), TypeName(Array(1))
Dim fixedB(1)
On Error Resume Next
ReDim fixedB(3)
WScript.Echo "redim fixed:", Err.Number, Err.Description
Err.Clear
On Error GoTo 0
Dim idx : idx = Array(10, 20, 30)
WScript.Echo "fractional index:", idx(1.5), idx(0.5), idx("2")
