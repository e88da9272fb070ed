#pragma once

#include "web/chrome/HeaderParameters.h"

#include <QString>

// The page head of the chrome: HTML head, body tag, site head file, link or
// menu row, logo bar with the page title, scroller and the program's links.
namespace Headers {

// The top of a page for these parameters. Keys of includes.ini
// [header.asp] that are missing get their defaults written back. A fault
// gives "" and a log entry "XCustomHeader: ".
QString XCustomHeader(const HeaderParameters &parameters);

// The host name by which the client reached the server: the Host header
// (only when it is a host name or address with an optional port), else the
// Referer's host, else the last one found; "" before the first.
QString GetServerIP();

// The whole text of a file (8-bit), or "No File" when it is missing, empty
// or blanks only.
QString FileContents(const QString &path);

// The logo image, under the web root without its ".jpg".
inline const QString kLogoImage = QStringLiteral("xaptvkKorvane/logo");

// Forgets the last server address (tests).
void ResetServerAddress();

} // namespace Headers
