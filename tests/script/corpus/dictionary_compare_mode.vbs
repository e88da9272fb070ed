' Dictionary.CompareMode reads back the mode it was given; every mode but
' binary compares keys without regard to case.
Dim d, m
For Each m In Array(vbBinaryCompare, vbTextCompare, vbDatabaseCompare)
  Set d = CreateObject("Scripting.Dictionary")
  d.CompareMode = m
  d.Add "Key", 1
  WScript.Echo "mode", m, "reads", d.CompareMode, TypeName(d.CompareMode), "finds key:", d.Exists("KEY")
Next
On Error Resume Next
Set d = CreateObject("Scripting.Dictionary")
d.CompareMode = -1
WScript.Echo "negative:", Err.Number, d.CompareMode
Err.Clear
d.Add "a", 1
d.CompareMode = vbDatabaseCompare
WScript.Echo "not empty:", Err.Number, d.CompareMode
