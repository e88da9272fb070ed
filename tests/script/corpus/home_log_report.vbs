' A home-automation user's script: a day's device log of 10,000 lines parsed
' with a RegExp, counts kept in Dictionaries, and a report written with
' FormatDateTime and FormatNumber.
Option Explicit

Dim rooms, kinds, seed
rooms = Array("Kitchen", "Hall", "Garage", "Bedroom", "Porch")
kinds = Array("Motion", "Light", "Door", "Temp")
seed = 12345

' A repeatable pseudo-random sequence, so the report is always the same.
Function NextRandom(limit)
    seed = (seed * 1103 + 12345) Mod 65536
    NextRandom = (seed \ 256) Mod limit
End Function

Function Two(n)
    Two = Right("0" & n, 2)
End Function

' Builds the log: one line a few seconds after the last, now and then a line
' the device server garbled.
Dim logText, i, secs, room, kind, value, lineText
secs = 6 * 3600
logText = ""
For i = 1 To 10000
    secs = secs + NextRandom(7)
    room = rooms(NextRandom(5))
    kind = kinds(NextRandom(4))
    Select Case kind
        Case "Temp": value = 15 + NextRandom(100) / 10
        Case "Door": If NextRandom(2) = 0 Then value = "OPEN" Else value = "CLOSED"
        Case Else: If NextRandom(2) = 0 Then value = "ON" Else value = "OFF"
    End Select
    lineText = "2021-03-04 " & Two(secs \ 3600) & ":" & Two((secs \ 60) Mod 60) & ":" & Two(secs Mod 60) & _
        " " & room & "." & kind & " = " & value
    If i Mod 997 = 0 Then lineText = "#garbled# " & lineText
    logText = logText & lineText
    logText = logText & vbCrLf
Next

' Parses it.
Dim re, matches, m, perRoom, perKind, onCount, tempSum, tempCount, firstSeen, lastSeen, stamp, key, skipped
Set re = New RegExp
re.Pattern = "^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d) (\w+)\.(\w+) = (ON|OFF|OPEN|CLOSED|\d+(?:\.\d+)?)\r?$"
re.Multiline = True
re.Global = True
Set perRoom = CreateObject("Scripting.Dictionary")
Set perKind = CreateObject("Scripting.Dictionary")
perKind.CompareMode = vbTextCompare
Set matches = re.Execute(logText)
For Each m In matches
    stamp = DateSerial(m.SubMatches(0), m.SubMatches(1), m.SubMatches(2)) + _
        TimeSerial(m.SubMatches(3), m.SubMatches(4), m.SubMatches(5))
    If IsEmpty(firstSeen) Then firstSeen = stamp
    lastSeen = stamp
    perRoom(m.SubMatches(6)) = perRoom(m.SubMatches(6)) + 1
    key = LCase(m.SubMatches(7))
    If perKind.Exists(key) Then
        perKind(key) = perKind(key) + 1
    Else
        perKind.Add key, 1
    End If
    Select Case m.SubMatches(8)
        Case "ON", "OPEN": onCount = onCount + 1
        Case "OFF", "CLOSED":
        Case Else
            tempSum = tempSum + CDbl(m.SubMatches(8))
            tempCount = tempCount + 1
    End Select
Next
skipped = 10000 - matches.Count

' The report.
WScript.Echo "Log of " & FormatDateTime(firstSeen, vbLongDate)
WScript.Echo "From " & FormatDateTime(firstSeen, vbLongTime) & " to " & FormatDateTime(lastSeen, vbShortTime) & _
    " (" & FormatNumber(DateDiff("n", firstSeen, lastSeen) / 60, 1) & " hours)"
WScript.Echo "Lines read: " & FormatNumber(matches.Count, 0) & ", skipped: " & skipped
For Each room In perRoom.Keys
    WScript.Echo "  " & room & ": " & FormatNumber(perRoom(room), 0) & " (" & FormatNumber(perRoom(room) / matches.Count * 100, 2) & "%)"
Next
For Each key In perKind
    WScript.Echo "  " & key & ": " & perKind.Item(key)
Next
WScript.Echo "Switched on or opened: " & FormatNumber(onCount, 0, , , True)
WScript.Echo "Average temperature: " & FormatNumber(tempSum / tempCount, 2) & " over " & FormatNumber(tempCount, 0) & " readings"
WScript.Echo "Busiest room: " & Busiest(perRoom)

Function Busiest(counts)
    Dim k, best
    best = ""
    For Each k In counts.Keys
        If best = "" Then
            best = k
        ElseIf counts(k) > counts(best) Then
            best = k
        End If
    Next
    Busiest = best
End Function
