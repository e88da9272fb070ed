' 300,000 rounds of a class's Property Get, Property Let and a method.
Class Counter
    Private m_value

    Public Property Get Value()
        Value = m_value
    End Property

    Public Property Let Value(v)
        m_value = v
    End Property

    Public Sub Add(n)
        m_value = m_value + n
    End Sub
End Class

Dim c, i
Set c = New Counter
c.Value = 0
For i = 1 To 300000
    c.Value = c.Value + 1
    c.Add 2
Next
WScript.Echo c.Value
