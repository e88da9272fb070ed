' Endless recursion is error 28, not a crash.
Function Down(n)
  Down = Down(n + 1)
End Function
WScript.Echo "start"
Down 1
