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

// The host name by which the client reached the server, from this request
// only: the Host header (a host name, IPv4 address or bracketed IPv6 address,
// with an optional port), else the Referer's host, else the host an "ALL_RAW"
// header names (after ",host:" or "Referer:"), else the local address of the
// client's own connection. The port is left off.
QString GetServerIP();
// The host an "ALL_RAW" header's text names: the text after ",host:" (else
// after "Referer:"), letter case ignored, without "http://", cut before the
// first ":", "/", "," or blank; "" when it names none.
QString HostFromAllRaw(const QString &raw);

// The whole text of a file (8-bit), or "No File" when it is missing, empty
// or blanks only.
QString FileContents(const QString &path);

// The logo image, under the web root without its ".jpg".
inline const QString kLogoImage = QStringLiteral("xaptvkKorvane/logo");

} // namespace Headers
