' An object stays alive for the whole of a call made on it, even when the
' call (or one of its arguments) drops the last variable that held it.
Class Keeper
    Public Name
    Public Sub Drop()
        Set holder = Nothing
        WScript.Echo "dropped inside", Name, TypeName(holder)
    End Sub
    Public Property Let Value(v)
        Set holder = Nothing
        Name = v
        WScript.Echo "let", Name
    End Property
    Public Sub Take(x)
        WScript.Echo "took", x, Name
    End Sub
    Private Sub Class_Terminate()
        WScript.Echo "terminate", Name
    End Sub
End Class

Dim holder, d
Set holder = New Keeper
holder.Name = "first"
holder.Drop
WScript.Echo "after drop"

Set holder = New Keeper
holder.Name = "second"
holder.Value = "second, renamed"
WScript.Echo "after let"

Function Forget()
    Set holder = Nothing
    Forget = "argument"
End Function
Set holder = New Keeper
holder.Name = "third"
holder.Take Forget()
WScript.Echo "after take"

' The same for an object of the runtime.
Function ForgetDictionary()
    Set d = Nothing
    ForgetDictionary = "k"
End Function
Set d = CreateObject("Scripting.Dictionary")
d.Add ForgetDictionary(), 1
WScript.Echo TypeName(d)
