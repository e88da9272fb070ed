' Date functions on fixed dates.
Dim d: d = #3/15/2004 1:02:03 PM#
WScript.Echo d, Year(d), Month(d), Day(d), Hour(d), Minute(d), Second(d), Weekday(d), Weekday(d, vbMonday)
WScript.Echo DateSerial(2004, 2, 29), DateSerial(2004, 13, 1), DateSerial(2004, 1, 0), DateSerial(99, 1, 1), DateSerial(2004, 3, -1)
WScript.Echo TimeSerial(13, 2, 3), TimeSerial(25, 0, 0), TimeSerial(0, 90, 0), TimeSerial(12, 0, 0)
WScript.Echo DateAdd("d", 1, d), DateAdd("m", 1, #1/31/2004#), DateAdd("m", 1, #1/31/2005#), DateAdd("yyyy", 1, #2/29/2004#)
WScript.Echo DateAdd("h", 12, d), DateAdd("n", -3, d), DateAdd("s", 57, d), DateAdd("ww", 2, #1/1/2004#), DateAdd("q", 1, #11/30/2004#)
WScript.Echo DateDiff("d", #1/1/2004#, #3/1/2004#), DateDiff("m", #1/31/2004#, #2/1/2004#), DateDiff("yyyy", #12/31/2003#, #1/1/2004#)
WScript.Echo DateDiff("h", #1/1/2004 1:59:00 AM#, #1/1/2004 2:00:00 AM#), DateDiff("n", #1/1/2004#, #1/2/2004#), DateDiff("s", #1/1/2004#, #1/1/2004 0:01:01#)
WScript.Echo DateDiff("w", #1/1/2004#, #1/20/2004#), DateDiff("ww", #1/1/2004#, #1/20/2004#), DateDiff("d", #3/1/2004#, #1/1/2004#), DateDiff("q", #1/1/2004#, #12/31/2004#)
WScript.Echo DatePart("yyyy", d), DatePart("q", d), DatePart("m", d), DatePart("y", d), DatePart("d", d), DatePart("w", d), DatePart("ww", d), DatePart("h", d), DatePart("n", d), DatePart("s", d)
WScript.Echo DatePart("ww", #1/1/2005#), DatePart("ww", #1/1/2005#, vbMonday, vbFirstFourDays), DatePart("ww", #12/31/2004#, vbSunday, vbFirstFullWeek)
WScript.Echo DateValue("3/15/2004 1:02:03 PM"), TimeValue("3/15/2004 1:02:03 PM"), DateValue("2004-03-15"), TimeValue("13:05")
WScript.Echo MonthName(1), MonthName(12, True), WeekdayName(1), WeekdayName(2, True), WeekdayName(1, False, vbMonday)
WScript.Echo FormatDateTime(d), FormatDateTime(d, vbLongDate), FormatDateTime(d, vbShortDate), FormatDateTime(d, vbLongTime), FormatDateTime(d, vbShortTime)
WScript.Echo IsDate("3/15/2004"), IsDate("13/45/2004"), IsDate("hello"), IsDate(d), IsDate(12), CDate("2/29/2004") + 1
WScript.Echo #12/30/1899#, #1/1/2000 12:00:00 AM#, #12:30:00 PM#, CDbl(#1/1/2000#), CDate(36526.5)
WScript.Echo TypeName(Now), TypeName(Date), TypeName(Time), TypeName(Timer), Date = Int(Now), Now >= Date, Time < 1
