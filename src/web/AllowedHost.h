#pragma once

#include <QString>
#include <QStringList>

// Which names a request may give as its Host. A web page the user visits can
// make its own name point at this machine and then drive the page through the
// user's browser; such requests carry that foreign name as their Host, so only
// names that really mean this machine are served.
namespace AllowedHost {

// True when `host` (a Host header's value, with or without its port) is an IP
// address literal (IPv6 in brackets), "localhost", this machine's name with
// or without its domain, or one of `extra` (the AllowedHosts setting, split at
// commas); letter case is ignored. An empty Host (HTTP/1.0) is allowed.
bool IsAllowed(const QString &host, const QStringList &extra);
// The AllowedHosts setting of [tspi_quillon] in tvkXapKorvane.ini, split at commas.
QStringList Configured();
// This machine's own names (lower case): its name, its first label, and the
// name with the local domain when there is one.
QStringList MachineNames();

} // namespace AllowedHost
