' Escape: "%XX" below 256, "%uXXXX" above, with a small "u"; Unescape reads both.
Dim s
s = Escape(ChrW(&H20AC) & " " & ChrW(&H4E00) & ChrW(233) & "a-b")
WScript.Echo s
WScript.Echo Escape(ChrW(&H100)), Escape(ChrW(&HFF)), Escape(ChrW(&HABCD))
WScript.Echo Hex(AscW(Unescape("%u20ac"))), Unescape(s) = ChrW(&H20AC) & " " & ChrW(&H4E00) & ChrW(233) & "a-b"
