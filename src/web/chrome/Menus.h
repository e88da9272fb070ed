#pragma once

#include <QString>

// Menus of the page chrome, from the chrome's database (Menus, MenuUsers,
// MenuPOP, MenuPOPPref). Labels, URLs and preferences from the database are
// escaped; a URL other than http, https or relative is written as "#".
namespace Headers {

// The menu row for a page: menu is "TOPLEVEL" or the page's address (or its
// tail). Runs the security gate once the page's level is known; logs page
// hits; adds weather alert links. "" and a log entry on a database fault.
QString MenuRow(const QString &menu);

// The slide-in menu script (html/includes/ssmitems.txt with the items and
// preferences of the client's user), or " " when the user has no active entries.
QString ssmItems();

// The site's links file (links.htm above the program folder, else
// html/links.htm; "_touchscreen" versions on touch-screen pages), or "No File".
QString LinkFile();

} // namespace Headers
