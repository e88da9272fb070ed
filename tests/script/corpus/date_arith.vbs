' Date arithmetic: DateAdd for every interval (month ends clamp), DateDiff
' across year and week boundaries, DatePart, Weekday, FormatDateTime.
Dim d : d = #1/31/2004 10:30:45 PM#
WScript.Echo "add yyyy:", DateAdd("yyyy", 1, #2/29/2004#), DateAdd("yyyy", -4, #2/29/2004#), DateAdd("yyyy", 1, d)
WScript.Echo "add q:", DateAdd("q", 1, #1/31/2004#), DateAdd("q", -1, #5/31/2004#), DateAdd("q", 4, #8/31/2003#)
WScript.Echo "add m:", DateAdd("m", 1, #1/31/2003#), DateAdd("m", 1, #1/31/2004#), DateAdd("m", 1, #3/31/2004#), DateAdd("m", -1, #3/31/2004#), DateAdd("m", 13, #1/31/2004#), DateAdd("m", 1, d)
WScript.Echo "add y d w:", DateAdd("y", 1, #12/31/2003#), DateAdd("d", -1, #3/1/2004#), DateAdd("w", 3, #1/1/2004#), DateAdd("d", 366, #1/1/2004#)
WScript.Echo "add ww:", DateAdd("ww", 1, #12/29/2003#), DateAdd("ww", -52, #12/30/2004#)
WScript.Echo "add h n s:", DateAdd("h", 2, d), DateAdd("n", 90, d), DateAdd("s", 75, d), DateAdd("s", -1, #1/1/2004#), DateAdd("h", -24, #3/1/2004#)
WScript.Echo "add rounds the count:", DateAdd("d", 1.5, #1/1/2004#), DateAdd("d", 2.5, #1/1/2004#), DateAdd("d", -0.6, #1/1/2004#), DateAdd("m", 1.5, #1/15/2004#), DateAdd("h", 0.5, #1/1/2004#), DateAdd("n", "90", #1/1/2004#)
WScript.Echo "add to text:", DateAdd("d", 1, "2/28/2004"), TypeName(DateAdd("d", 1, "2/28/2004"))
On Error Resume Next
x = DateAdd("x", 1, d): WScript.Echo "bad interval:", Err.Number: Err.Clear
x = DateAdd("yyyy", 10000, d): WScript.Echo "past year 9999:", Err.Number: Err.Clear
x = DateAdd("d", 1, "not a date"): WScript.Echo "not a date:", Err.Number: Err.Clear
x = DateAdd("d", 3000000, d): WScript.Echo "past the last day:", Err.Number: Err.Clear
x = DateAdd("d", 1E+300, d): WScript.Echo "count too big:", Err.Number: Err.Clear
On Error GoTo 0
WScript.Echo "diff yyyy:", DateDiff("yyyy", #12/31/2003 11:59:59 PM#, #1/1/2004#), DateDiff("yyyy", #1/1/2004#, #12/31/2004#), DateDiff("yyyy", #1/1/2005#, #12/31/2003#)
WScript.Echo "diff q m:", DateDiff("q", #3/31/2004#, #4/1/2004#), DateDiff("m", #12/31/2003#, #1/1/2004#), DateDiff("m", #1/1/2004#, #1/31/2004#), DateDiff("m", #3/1/2004#, #1/31/2004#)
WScript.Echo "diff d y:", DateDiff("d", #1/1/2004 11:00 PM#, #1/2/2004 1:00 AM#), DateDiff("y", #12/31/2003#, #1/1/2005#), DateDiff("d", #1/2/2004#, #1/1/2004 1:00 AM#)
WScript.Echo "diff h n s:", DateDiff("h", #1/1/2004 10:59 PM#, #1/1/2004 11:00 PM#), DateDiff("n", #1/1/2004 10:00:59 PM#, #1/1/2004 10:01:00 PM#), DateDiff("s", #12/31/2003 11:59:59 PM#, #1/1/2004#)
' 1/3/2004 is a Saturday, 1/4/2004 a Sunday, 1/5/2004 a Monday.
WScript.Echo "diff ww sunday:", DateDiff("ww", #1/3/2004#, #1/4/2004#), DateDiff("ww", #1/4/2004#, #1/10/2004#), DateDiff("ww", #1/4/2004#, #1/11/2004#), DateDiff("ww", #12/27/2003#, #1/4/2004#)
WScript.Echo "diff ww monday:", DateDiff("ww", #1/3/2004#, #1/4/2004#, vbMonday), DateDiff("ww", #1/4/2004#, #1/5/2004#, vbMonday), DateDiff("ww", #1/4/2004#, #1/5/2004#, 2)
WScript.Echo "diff ww backwards:", DateDiff("ww", #1/11/2004#, #1/4/2004#), DateDiff("ww", #1/5/2004#, #1/4/2004#, vbMonday)
WScript.Echo "diff w:", DateDiff("w", #1/1/2004#, #1/7/2004#), DateDiff("w", #1/1/2004#, #1/8/2004#), DateDiff("w", #1/8/2004#, #1/1/2004#), DateDiff("w", #1/1/2004#, #1/15/2004#, vbMonday)
WScript.Echo "diff from text:", DateDiff("d", "1/1/2004", "2/1/2004"), DateDiff("yyyy", "12/31/1999", "1/1/2000")
WScript.Echo "part:", DatePart("yyyy", d), DatePart("q", d), DatePart("m", d), DatePart("y", d), DatePart("d", d), DatePart("w", d), DatePart("h", d), DatePart("n", d), DatePart("s", d)
WScript.Echo "part y:", DatePart("y", #12/31/2004#), DatePart("y", #12/31/2003#), DatePart("y", #3/1/2004#)
WScript.Echo "part w first day:", DatePart("w", #1/4/2004#), DatePart("w", #1/4/2004#, vbMonday), DatePart("w", #1/4/2004#, vbSaturday), DatePart("w", #1/10/2004#, vbSunday)
WScript.Echo "part ww:", DatePart("ww", #1/1/2004#), DatePart("ww", #1/3/2004#), DatePart("ww", #1/4/2004#), DatePart("ww", #12/31/2004#), DatePart("ww", #1/4/2004#, vbMonday)
WScript.Echo "part ww first week:", DatePart("ww", #1/1/2004#, vbSunday, vbFirstJan1), DatePart("ww", #1/1/2004#, vbSunday, vbFirstFullWeek), DatePart("ww", #1/4/2004#, vbSunday, vbFirstFullWeek), DatePart("ww", #1/1/2004#, vbMonday, vbFirstFourDays)
WScript.Echo "weekday:", Weekday(#1/4/2004#), Weekday(#1/10/2004#), Weekday(#1/4/2004#, vbMonday), Weekday(#1/4/2004#, vbSaturday), Weekday(#1/5/2004#, vbMonday), Weekday("1/6/2004")
WScript.Echo "weekdayname:", WeekdayName(1), WeekdayName(7), WeekdayName(3, True), WeekdayName(1, False, vbMonday), WeekdayName(7, True, vbMonday), WeekdayName(Weekday(#1/5/2004#))
On Error Resume Next
x = WeekdayName(0): WScript.Echo "weekdayname 0:", Err.Number: Err.Clear
x = WeekdayName(8): WScript.Echo "weekdayname 8:", Err.Number: Err.Clear
x = Weekday(d, 8): WScript.Echo "weekday firstday 8:", Err.Number: Err.Clear
x = MonthName(13): WScript.Echo "monthname 13:", Err.Number: Err.Clear
On Error GoTo 0
Dim t : t = #7/4/2004 9:05:03 AM#
WScript.Echo "general:", FormatDateTime(t, vbGeneralDate), "|", FormatDateTime(#7/4/2004#, vbGeneralDate), "|", FormatDateTime(#9:05:03 AM#, vbGeneralDate)
WScript.Echo "long date:", FormatDateTime(t, vbLongDate), "|", FormatDateTime(#12/25/1999#, 1)
WScript.Echo "short date:", FormatDateTime(t, vbShortDate), "|", FormatDateTime(#12/25/1999#, 2)
WScript.Echo "long time:", FormatDateTime(t, vbLongTime), "|", FormatDateTime(#11:59:59 PM#, 3), "|", FormatDateTime(#7/4/2004#, vbLongTime)
WScript.Echo "short time:", FormatDateTime(t, vbShortTime), "|", FormatDateTime(#11:59:59 PM#, 4), "|", FormatDateTime(#12:00:00 AM#, vbShortTime)
WScript.Echo "from text:", FormatDateTime("7/4/2004 13:00", vbShortTime), FormatDateTime("7/4/2004", vbLongDate)
WScript.Echo "null:", IsNull(Weekday(Null))
