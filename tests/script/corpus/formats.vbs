' Number formats.
WScript.Echo FormatNumber(1234.5678), FormatNumber(1234.5678, 0), FormatNumber(0.5, 1), FormatNumber(-1234.5, 2)
WScript.Echo FormatNumber(0.25, 2, False), FormatNumber(-3, 1, , True), FormatNumber(1234567, 0, , , False), FormatNumber("12")
WScript.Echo FormatCurrency(1234.5), FormatCurrency(-2), FormatCurrency(0.125, 2)
WScript.Echo FormatPercent(0.1234), FormatPercent(1, 0), FormatPercent(-0.5, 1)
