' WScript.Quit ends the script at once, through On Error Resume Next too.
On Error Resume Next
WScript.Echo "before quit"
WScript.Quit
WScript.Echo "after quit"
