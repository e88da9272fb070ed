#pragma once

#include "web/chrome/HeaderParameters.h"

#include <QString>

// The two entries through which page builders (the status page and the
// bridge's fragments of it) reach the page chrome.

// One table cell: Headers::FormatCell with the same arguments. `text` is
// HTML and goes in as it stands: escape data values (HtmlText::escape) before
// passing them. class: "TABLEROWODD", "TABLEROWEVEN", "TABLEHEADER",
// "TABLECOLUMN", "TABLECELLCUSTOM" (or any style class); colspan and align
// are left out when "".
QString HTMLFormatCell(const QString &text, const QString &cls, const QString &colspan, const QString &align);

// The top of a page: Headers::XCustomHeader; "" (and a log entry " CustomHeader: ") on a fault.
QString CustomHeader(const HeaderParameters &parameters);
