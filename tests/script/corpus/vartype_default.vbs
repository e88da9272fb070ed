' VarType reports an object by the type of its default property; TypeName by its class.
Class C
  Public Default Property Get V
    V = "s"
  End Property
End Class
Class N
  Public Default Property Get V
    V = 3.5
  End Property
End Class
Class WithArg
  Public Default Property Get Item(i)
    Item = i
  End Property
End Class
Class Fails
  Public Default Property Get V
    V = 1 / 0
  End Property
End Class
Class D
  Public x
End Class
Function F : F = 1 : End Function
Dim o : Set o = New C
WScript.Echo VarType(o), TypeName(o), VarType(New N), VarType(New WithArg), VarType(New Fails), VarType(New D), TypeName(New D)
WScript.Echo VarType(Nothing), TypeName(Nothing), VarType(GetRef("F"))
Dim e : Set e = CreateObject("Scripting.Dictionary")
WScript.Echo VarType(e), TypeName(e), VarType(Err), Err.Number

