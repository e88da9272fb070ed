' Classes: fields, properties Get/Let/Set, default member, Me, Initialize
' and Terminate, private members unreachable from outside.
Class Counter
  Private m_count
  Public Label
  Private Sub Class_Initialize()
    m_count = 0
    Label = "counter"
    WScript.Echo "init"
  End Sub
  Private Sub Class_Terminate()
    WScript.Echo "terminate", Label
  End Sub
  Public Default Property Get Count()
    Count = m_count
  End Property
  Public Property Let Count(v)
    If v < 0 Then Err.Raise 5
    m_count = v
  End Property
  Public Sub Increment(by)
    m_count = m_count + by
  End Sub
  Public Function Twice()
    Twice = Me.Count * 2
  End Function
  Private Function Secret()
    Secret = "hidden"
  End Function
  Public Function CallsSecret()
    CallsSecret = Secret() & "!"
  End Function
End Class

Class Holder
  Private m_item
  Public Property Set Item(o)
    Set m_item = o
  End Property
  Public Property Get Item()
    Set Item = m_item
  End Property
End Class

Dim c
Set c = New Counter
c.Increment 5
c.Count = c.Count + 1
WScript.Echo c.Count, c, c.Twice(), c.CallsSecret, TypeName(c), VarType(c)
Dim h: Set h = New Holder
Set h.Item = c
WScript.Echo "held:", h.Item.Label, h.Item Is c
On Error Resume Next
WScript.Echo c.Secret()
WScript.Echo "private:", Err.Number, Err.Description
Err.Clear
c.Count = -1
WScript.Echo "raise in property:", Err.Number
On Error GoTo 0
c.Label = "first"
Set h = Nothing
Set c = Nothing
WScript.Echo "after release"
Dim c2: Set c2 = New Counter
c2.Label = "second"
c2.Increment 1
Set c2 = New Counter
WScript.Echo "end"
