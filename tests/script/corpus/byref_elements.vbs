' An array element passed ByRef is that element while the call runs.
Sub AddTwice(p, q)
    p = p + 1
    q = q * 10
End Sub

Dim a(3), x
a(0) = 1
AddTwice a(0), a(0)
WScript.Echo a(0)
' As with a plain variable passed twice.
x = 1
AddTwice x, x
WScript.Echo x
' Two different elements stay apart.
a(1) = 1: a(2) = 1
AddTwice a(1), a(2)
WScript.Echo a(1), a(2)

' Elements of a multi-dimensional array.
Dim grid(2, 3)
grid(1, 2) = 5
AddTwice grid(1, 2), grid(1, 2)
WScript.Echo grid(1, 2), IsEmpty(grid(2, 1))
AddTwice grid(0, 0), grid(2, 3)
WScript.Echo grid(0, 0), grid(2, 3)

' The element passed together with its whole array: both are the same storage.
Sub Touch(arr, item)
    arr(1) = 7
    item = item + arr(1)
    arr(1) = arr(1) + 1
End Sub
Dim b: b = Array(1, 2, 3)
Touch b, b(1)
WScript.Echo b(1)
Sub TouchFirst(item, arr)
    item = 100
    WScript.Echo arr(0)
End Sub
TouchFirst b(0), b
WScript.Echo b(0)

' A ByVal copy of the array, taken before or after the element, is its own.
Sub Snapshot(ByVal copy, item)
    item = -1
    WScript.Echo copy(2), item
End Sub
b(2) = 3
Snapshot b, b(2)
WScript.Echo b(2)
Sub Snapshot2(item, ByVal copy)
    item = -2
    WScript.Echo copy(2)
End Sub
Snapshot2 b(2), b
WScript.Echo b(2)

' A copy made inside the call does not follow later writes through the element.
Sub CopyIt(item)
    Dim c
    c = b
    item = 99
    WScript.Echo c(0), b(0)
End Sub
CopyIt b(0)
WScript.Echo b(0)

' The array of an element in use cannot be resized or erased.
Dim d()
ReDim d(2)
Sub Resize(item)
    On Error Resume Next
    ReDim Preserve d(5)
    WScript.Echo "redim", Err.Number, UBound(d)
    Err.Clear
    ReDim d(1)
    WScript.Echo "redim again", Err.Number, UBound(d)
    Err.Clear
    Erase d
    WScript.Echo "erase", Err.Number, UBound(d)
    item = "kept"
End Sub
Resize d(1)
WScript.Echo d(1)
ReDim Preserve d(4)
WScript.Echo UBound(d), d(1)

' Class fields, and an element in a nested call.
Class Box
    Public Values(1)
    Public Sub Bump()
        AddTwice Values(0), Values(0)
    End Sub
End Class
Dim bx
Set bx = New Box
bx.Values(0) = 2
bx.Bump
WScript.Echo bx.Values(0)
Sub Outer(item)
    AddTwice item, item
End Sub
a(3) = 3
Outer a(3)
WScript.Echo a(3)

' ByVal parameters and parenthesised arguments still get copies.
Sub NoChange(ByVal p)
    p = 0
End Sub
NoChange a(3)
AddTwice (a(3)), x
WScript.Echo a(3)

' An index computed by a function runs once.
Dim calls: calls = 0
Function Pick()
    calls = calls + 1
    Pick = 1
End Function
a(1) = 4
AddTwice a(Pick()), a(Pick())
WScript.Echo a(1), calls
