' A numeric loop of 3,000,000 iterations.
Dim i, total
total = 0
For i = 1 To 3000000
    total = total + i Mod 7
Next
WScript.Echo total
