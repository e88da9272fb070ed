' A run-time error ends the script with its number and place.
WScript.Echo "before"
Dim x
x = 1
x = x / 0
WScript.Echo "not reached"
