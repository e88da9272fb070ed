' Hex and Oct: Integer values print 16 bits, Long values 32.
WScript.Echo Hex(255), Hex(-1), Hex(-32768), Hex(-32769), Hex(65535), Hex(CLng(-1)), Hex(0), Hex(Empty)
WScript.Echo Hex(2.5), Hex(3.5), Hex(CByte(200)), IsNull(Hex(Null)), Hex("255")
WScript.Echo Oct(8), Oct(-1), Oct(CLng(-1)), Oct(64), Oct(0)
WScript.Echo &H7FFF, &H8000, &HFFFF, &H7FFFFFFF, &H80000000, &HFFFFFFFF, &H1F&
