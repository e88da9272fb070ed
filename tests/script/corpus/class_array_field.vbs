' A class variable declared with bounds is a fixed array of each instance.
Class Table
  Public Cells(2)
  Private m_rows()
  Public Sub Grow(n)
    ReDim m_rows(n)
  End Sub
  Public Property Get RowCount()
    RowCount = UBound(m_rows) + 1
  End Property
End Class
Dim t: Set t = New Table
t.Cells(1) = "one"
WScript.Echo t.Cells(1), UBound(t.Cells)
t.Grow 4
WScript.Echo t.RowCount
Dim u: Set u = New Table
WScript.Echo "own copy:", IsEmpty(u.Cells(1))
