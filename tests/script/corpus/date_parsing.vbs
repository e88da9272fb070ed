' Date texts as an English (United States) system reads them.
' Month names and abbreviations, any case, with or without a comma, in both orders.
WScript.Echo CDate("March 4, 2021"), CDate("march 4 2021"), CDate("MAR 4, 2021"), CDate("Mar 04 2021")
WScript.Echo CDate("4 March 2021"), CDate("4 mar, 2021"), CDate("04-Mar-2021"), CDate("4.Mar.2021"), CDate("Sept 9, 2021")
WScript.Echo CDate("January 15, 2020"), CDate("Feb 29, 2024"), CDate("dec 31 1999"), CDate("Thursday, March 4, 2021"), CDate("Thu, 4 Mar 2021")
' Year first with "/" or "-", and the numeric month-day-year forms.
WScript.Echo CDate("2021/03/04"), CDate("2021-3-4"), CDate("3/4/2021"), CDate("03-04-2021"), CDate("2021 Mar 4")
' Two-digit years: 00-29 are this century, 30-99 the last.
WScript.Echo CDate("3/4/00"), CDate("3/4/29"), CDate("3/4/30"), CDate("3/4/99"), CDate("Mar 4, 21"), CDate("4 Mar 45"), CDate("1/1/100")
' A missing year is this year's; a month and a year alone are that month's first day.
WScript.Echo Year(CDate("March 4")) = Year(Date), Year(CDate("4 Mar")) = Year(Date), Year(CDate("3/4")) = Year(Date), CDate("Mar 4") = DateSerial(Year(Date), 3, 4)
WScript.Echo CDate("March 2021"), CDate("3/2021")
' Times, with or without seconds and AM/PM, after any of the date forms, before them, or alone.
WScript.Echo CDate("March 4, 2021 10:30 PM"), CDate("4 Mar 2021 22:30:15"), CDate("2021-03-04 07:05"), CDate("3/4/2021 12:00 AM")
WScript.Echo CDate("10:30:00 PM March 4, 2021"), CDate("2021-03-04T10:11:12"), CDate("3 PM"), CDate("12:30 pm"), CDate("7:05a"), CDate("0:00")
WScript.Echo TypeName(CDate("March 4, 2021")), CDbl(CDate("March 4, 2021 6:00 PM")), CDbl(CDate("6:00 AM"))
' DateValue keeps the date, TimeValue the time.
WScript.Echo DateValue("March 4, 2021 5:00 PM"), TimeValue("March 4, 2021 5:00 PM"), DateValue("4 Mar 2021"), TimeValue("5 PM"), TimeValue("17:05")
' Implicit conversions of a text to a date.
WScript.Echo Month("Feb 3, 2021"), Day("Feb 3, 2021"), Year("3 Feb 2021"), Weekday("March 4, 2021"), Hour("Mar 4, 2021 3:15 PM")
WScript.Echo DateAdd("d", 1, "Feb 28, 2021"), DateDiff("d", "Jan 1, 2021", "March 4, 2021"), CDate("Feb 3, 2021") + 1, FormatDateTime("March 4, 2021 18:45", vbShortTime)
WScript.Echo CDate("March 4, 2021") = #3/4/2021#, CDate("Mar 4, 2021") < CDate("4 April 2021")
' Date literals take the same forms.
WScript.Echo #January 15, 2020#, #15 Jan 2020#, #2020-01-15#, #Jan 15, 2020 3:30 PM#, #3:30 PM#
' IsDate says what CDate takes.
WScript.Echo IsDate("March 4, 2021"), IsDate("4 mar 2021"), IsDate("2021/03/04"), IsDate("10:30 PM"), IsDate(#1/1/2000#)
WScript.Echo IsDate("Feb 30, 2021"), IsDate("13/4/2021"), IsDate("2021"), IsDate("March"), IsDate("hello"), IsDate(""), IsDate("3/4/2021 25:00"), IsDate("13:00 PM")
WScript.Echo IsDate("Marc 4, 2021"), IsDate("March 4, 2021 junk"), IsDate("March 4 April 2021"), IsDate("1:2:3:4"), IsDate("12345/1/1"), IsDate("4 2021 March"), IsDate(12)
' Anything else is a type mismatch.
Sub Try(text)
    On Error Resume Next
    Dim d
    d = CDate(text)
    WScript.Echo "[" & text & "]", Err.Number
End Sub
Try "March 32, 2021"
Try "Smarch 4, 2021"
Try "4 March 2021 later"
Try "10:75"
Try "3/4/2021/5"
Try "  "
On Error Resume Next
Dim x
x = DateValue("not a date")
WScript.Echo Err.Number
Err.Clear
x = Month("Feb 3 2021 x")
WScript.Echo Err.Number
' Int and Fix of a date are the date without its time, still a Date.
Dim evening
evening = CDate("March 4, 2021 6:30 PM")
WScript.Echo Int(evening), TypeName(Int(evening)), Fix(evening), TypeName(Fix(evening)), Int(evening) = DateValue(evening)
WScript.Echo TypeName(Int(CDbl(evening))), CDbl(Fix(#12/29/1899 6:00:00 AM#)), TypeName(Int("2.5")), Int(Null) & ""
