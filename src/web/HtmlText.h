#pragma once

#include <QString>

// Text helpers of the pages: escaping data for HTML and script strings, the
// URL rule for links taken from data, VB's 8-bit UCase, and the tag stripper.
namespace HtmlText {

// & < > " ' as character references: for element text and attribute values.
QString escape(const QString &text);

// For a value placed inside a quoted script string (either quote): backslash,
// both quotes, line ends and "</" are escaped.
QString jsString(const QString &text);

// A URL from data, or "#" when its scheme is neither http nor https (a URL
// without a scheme, such as "/stat" or "page.htm", is relative and kept).
// The result still needs escape() before it goes into an attribute.
QString safeUrl(const QString &url);

// UCase/LCase on the 8-bit code page: only characters below 256 change, and
// each maps to one character ("ß" and "ÿ" stay as they are).
QString ucase(const QString &text);
QString lcase(const QString &text);

// The text without tags and without "&nbsp;" entities; a "<" with no ">"
// after it ends the work and stays, with everything after it.
QString StripHTML(const QString &text);

// A text from outside made fit for a log entry: control characters become
// "?", and it is cut to `limit` characters with "..." after it.
QString forLog(const QString &text, int limit = 200);
// A posted text quoted back in a note of the page: as typed, but cut to its
// first 80 characters with "..." after them when longer.
QString shortQuote(const QString &text);

} // namespace HtmlText
