' For with Step, For Each, every Do form, While/Wend, Exit.
Dim i, j, s, total
s = ""
For i = 10 To 1 Step -3: s = s & i & " ": Next
WScript.Echo s, "after:", i
s = ""
For i = 0 To 1 Step 0.25: s = s & i & " ": Next
WScript.Echo s
For i = 5 To 1
  WScript.Echo "never"
Next
WScript.Echo "empty range leaves", i
s = ""
For i = 1 To 3
  For j = 1 To 3
    If j = 2 Then Exit For
    s = s & i & j & " "
  Next
Next
WScript.Echo s
s = ""
For i = 1 To 10
  i = i + 1
  s = s & i & " "
Next
WScript.Echo "changed counter:", s
i = 0: Do While i < 3: i = i + 1: Loop: WScript.Echo "do while", i
i = 0: Do Until i >= 3: i = i + 1: Loop: WScript.Echo "do until", i
i = 10: Do: i = i + 1: Loop While i < 3: WScript.Echo "loop while runs once", i
i = 0: Do: i = i + 1: Loop Until i = 4: WScript.Echo "loop until", i
i = 0
Do
  i = i + 1
  If i = 7 Then Exit Do
Loop
WScript.Echo "exit do", i
i = 0
While i < 5
  i = i + 2
Wend
WScript.Echo "wend", i
total = 0
For Each j In Array(1, 2, 3, 4)
  total = total + j
Next
WScript.Echo "for each", total, j
Dim d: Set d = CreateObject("Scripting.Dictionary")
d.Add "k1", "v1": d.Add "k2", "v2"
For Each j In d
  WScript.Echo "key", j, d(j)
Next
For Each j In d.Items
  WScript.Echo "item", j
Next
i = 0
Do
  i = i + 1
  While True
    Exit Do
  Wend
Loop
WScript.Echo "exit do from inside while", i
