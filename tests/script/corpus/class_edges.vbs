' Classes: Property Get with arguments, a default property, Property Set,
' Me passed along, and the order Class_Terminate runs in.
Class Grid
  Private m_cells
  Private Sub Class_Initialize()
    ReDim m_cells(2, 2)
  End Sub
  Public Property Get Cell(r, c)
    Cell = m_cells(r, c)
  End Property
  Public Property Let Cell(r, c, v)
    m_cells(r, c) = v
  End Property
  Public Default Property Get Item(i)
    Item = "item " & i
  End Property
End Class
Dim g : Set g = New Grid
g.Cell(1, 2) = "b"
WScript.Echo "indexed property:", g.Cell(1, 2), "[" & g.Cell(0, 0) & "]"
WScript.Echo "default with argument:", g(7), g.Item(8)
On Error Resume Next
x = g.Cell(5, 5)
WScript.Echo "index error inside property:", Err.Number
Err.Clear
x = g.Cell(1)
WScript.Echo "too few arguments:", Err.Number
Err.Clear
On Error GoTo 0

Class Temperature
  Private m_c
  Public Default Property Get Celsius()
    Celsius = m_c
  End Property
  Public Property Let Celsius(v)
    m_c = v
  End Property
  Public Property Get Fahrenheit()
    Fahrenheit = m_c * 9 / 5 + 32
  End Property
End Class
Dim t : Set t = New Temperature
t.Celsius = 100
WScript.Echo "default property in expressions:", t, t + 1, "deg " & t, t.Fahrenheit, t = 100
Dim plain : plain = t
WScript.Echo "let of an object takes its default:", plain, TypeName(plain)

Class Node
  Public Name
  Private m_next
  Public Property Set NextNode(n)
    Set m_next = n
  End Property
  Public Property Get NextNode()
    Set NextNode = m_next
  End Property
  Public Function Chain()
    If IsEmpty(m_next) Then
      Chain = Name
    ElseIf m_next Is Nothing Then
      Chain = Name & "|"
    Else
      Chain = Name & ">" & m_next.Chain()
    End If
  End Function
  Public Sub AttachTo(other)
    Set other.NextNode = Me
  End Sub
  Public Function Self()
    Set Self = Me
  End Function
End Class
Dim a, b, c
Set a = New Node : a.Name = "a"
Set b = New Node : b.Name = "b"
Set c = New Node : c.Name = "c"
Set a.NextNode = b
c.AttachTo b
WScript.Echo "property set and Me passed:", a.Chain(), a.NextNode.NextNode.Name, a.Self() Is a
Set c.NextNode = Nothing
WScript.Echo "set to Nothing:", c.Chain()
On Error Resume Next
a.NextNode = b
WScript.Echo "let where only set exists:", Err.Number
Err.Clear
Set a.Name = b
WScript.Echo "set on a plain field:", Err.Number, TypeName(a.Name)
Err.Clear
On Error GoTo 0

Class Tracked
  Public Label
  Private Sub Class_Terminate()
    WScript.Echo "terminate " & Label
  End Sub
End Class
Sub Scoped()
  Dim local : Set local = New Tracked
  local.Label = "local"
  WScript.Echo "leaving scoped"
End Sub
Dim x1, x2
Set x1 = New Tracked : x1.Label = "first"
Set x2 = x1
Set x1 = Nothing
WScript.Echo "one reference left"
Set x2 = Nothing
WScript.Echo "after last reference"
Scoped
WScript.Echo "after scoped"
Set x1 = New Tracked : x1.Label = "replaced"
Set x1 = New Tracked
x1.Label = "replacement"
WScript.Echo "after replacing"
x1 = Empty
WScript.Echo "after assigning Empty"
Dim holder : Set holder = New Node
Set holder.NextNode = New Tracked
holder.NextNode.Label = "held"
Set holder = Nothing
WScript.Echo "end"
