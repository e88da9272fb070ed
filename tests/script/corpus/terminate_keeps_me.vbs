' Class_Terminate may store Me (or what the object holds) anywhere a script can
' keep an object: the object lives on while that reference does, and its
' terminate does not run a second time.
Dim gMode, gTerms, gKept, gDict, gArr(3), gHolder, gRef, gPartOfMe
Set gDict = CreateObject("Scripting.Dictionary")

Class Holder
    Public item
End Class
Set gHolder = New Holder

Sub KeepArg(o)
    Set gRef = o
End Sub

Class Keeper
    Public tag, part, selfRef
    Private Sub Class_Initialize()
        Set part = New Holder
    End Sub
    Private Sub Class_Terminate()
        gTerms = gTerms + 1
        part.item = "part of " & tag
        Select Case gMode
            Case "global": Set gKept = Me
            Case "dictionary": gDict.Add "k", Me
            Case "array": Set gArr(1) = Me
            Case "property": Set gHolder.item = Me
            Case "getref": Set f = GetRef("KeepArg"): f Me
            Case "itself": Set selfRef = Me
            Case "owned": Set gPartOfMe = part
        End Select
    End Sub
End Class

Sub Make(mode)
    gMode = mode
    Dim k
    Set k = New Keeper
    k.tag = mode
End Sub

For Each m In Array("global", "dictionary", "array", "property", "getref", "itself", "owned")
    gTerms = 0
    Make m
    WScript.Echo m, gTerms
Next
WScript.Echo "global:", TypeName(gKept), gKept.tag, gKept.part.item
WScript.Echo "dictionary:", TypeName(gDict("k")), gDict("k").tag
WScript.Echo "array:", TypeName(gArr(1)), gArr(1).tag
WScript.Echo "property:", TypeName(gHolder.item), gHolder.item.tag
WScript.Echo "getref:", TypeName(gRef), gRef.tag
WScript.Echo "owned:", TypeName(gPartOfMe), gPartOfMe.item

' Dropping the kept references runs no terminate again.
gTerms = 0
gMode = "global"
Set gKept = Nothing
gDict.RemoveAll
gArr(1) = Empty
Set gHolder.item = Nothing
Set gRef = Nothing
Set gPartOfMe = Nothing
WScript.Echo "again:", gTerms, TypeName(gKept)
