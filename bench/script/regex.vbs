' 10,000 log lines matched with a regular expression, the fields counted.
Dim re, levels, i, line, m, errors, total
Set re = New RegExp
re.Pattern = "^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d) \[(\w+)\] device (\w+) (?:set to|reports) (-?\d+)$"
levels = Array("INFO", "WARN", "ERROR", "DEBUG")
errors = 0
total = 0
For i = 1 To 10000
    line = "2021-03-" & Right("0" & (i Mod 28 + 1), 2) & " " & Right("0" & (i Mod 24), 2) & ":" & _
        Right("0" & (i Mod 60), 2) & ":" & Right("0" & ((i * 7) Mod 60), 2) & " [" & levels(i Mod 4) & _
        "] device D" & (i Mod 97) & " reports " & (i Mod 101 - 50)
    Set m = re.Execute(line)
    If m.Count = 1 Then
        If m(0).SubMatches(6) = "ERROR" Then errors = errors + 1
        total = total + CLng(m(0).SubMatches(8))
    End If
Next
WScript.Echo errors, total
