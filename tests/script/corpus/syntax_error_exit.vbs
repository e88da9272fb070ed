' A compile error stops the script before anything runs.
WScript.Echo "never printed"
If x Then
  x = 1
Next
