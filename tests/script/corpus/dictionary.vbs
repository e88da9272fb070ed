' Scripting.Dictionary as scripts use it.
Dim d, k, i
Set d = CreateObject("Scripting.Dictionary")
d.Add "one", 1
d.Add "two", 2
d("three") = 3
d.Item("one") = "uno"
WScript.Echo d.Count, d("one"), d.Item("two"), d.Exists("three"), d.Exists("THREE"), TypeName(d)
WScript.Echo Join(d.Keys, ","), Join(d.Items, ",")
d.Remove "two"
WScript.Echo d.Count, Join(d.Keys, ",")
k = d.Keys
WScript.Echo "keys array:", UBound(k), k(0)
d.Key("three") = "drei"
WScript.Echo Join(d.Keys, ",")
WScript.Echo "missing read adds:", IsEmpty(d("nope")), d.Count
d.RemoveAll
d.CompareMode = vbBinaryCompare
d.CompareMode = vbTextCompare
d.Add "Key", "v"
WScript.Echo "text compare:", d.Exists("KEY")
On Error Resume Next
d.Add "KEY", 2
WScript.Echo "duplicate:", Err.Number
Err.Clear
d.Remove "absent"
WScript.Echo "remove missing:", Err.Number
Err.Clear
On Error GoTo 0
Dim n: Set n = CreateObject("Scripting.Dictionary")
For i = 1 To 5
  n.Add i, i * i
Next
WScript.Echo n(3), n.Exists(3), n.Exists("3"), n.Count
Set n("obj") = d
WScript.Echo n("obj")("key")
