#pragma once

#include "web/chrome/HeaderParameters.h"

#include <QString>
#include <QStringList>

class Request;
class Response;

// The page chrome's per-request state and its settings and security steps.
// A page builder runs RunPageSetup first, then CheckAccess before it changes
// anything, then builds its page with CustomHeader and HTMLFormatCell.
namespace Headers {

// Keys of [Settings] in tvkXapKorvane.ini, re-read for every page.
struct WebSettings
{
    QString dbpath;         // the chrome's SQLite file; "NA" or "" for none
    QString rowstyle;       // "Link", "Image" or buttons
    QString usesecurity;    // "ENHANCED", "BASIC", "NONE" (the page head may replace it for one page)
    QString dbtype;
    QString useslideinmenu;
    QString audreyrowstyle;
    QString touchscreenips; // comma-separated client addresses
    QStringList touchScreenAddresses;
};

WebSettings &Settings();
extern qint16 gSecureLevel; // 0 guest, 10 full, or the MenuUsers level (ENHANCED)
extern QString gUserName;
extern bool gTouchScreen;   // the page is built for a touch-screen client

// The request and reply of the page being built (null between pages).
Request *PageRequest();
Response *PageResponse();

// What a page builder runs first for each request: sets the page request and
// reply, reads the settings, sets the client's level and user, detects a
// touch-screen client (into gTouchScreen).
void RunPageSetup(Request &request, Response &response);

// The security gate for a page with these head parameters, as the page head
// would apply it: when the page's menu entry needs a level above the
// client's (ENHANCED or BASIC mode), the refusal (403) is sent and logged,
// and false is returned; the page must then change nothing. Runs the gate
// at most once per page.
bool CheckAccess(const HeaderParameters &parameters);
// True once the current page has been refused.
bool PageRefused();

void XStartMiscFunctionsASP();
// Resets the client to guest (level 0, user "") and sets it by the mode.
void XSecurityCheck();
bool xStartHeaderASP();
QString fnPageName();
// Refuses the current page: log entry and the 403 reply.
void LogAuthorized();

// The level a page's menu entry needs: 0 for "TOPLEVEL", the entry's level
// for a menu name, 10 for a page with no menu entry, no database, or
// show-links "YES", "NO", "OLDSTYLE". Database faults propagate.
int RequiredLevel(const QString &menu);
// Runs the gate for a required level (the mode as the page head left it).
void Gate(int requiredLevel);

// Text of a setting file of the Config folder through the host's INI cache.
QString Setting(const QString &file, const QString &section, const QString &key);
void SaveSetting(const QString &file, const QString &section, const QString &key, const QString &value);
// A file under the program folder, found without regard to case.
QString AppFile(const QString &relative);

// The addresses a client's row (MenuUsers SecID, a touch-screen entry) may be
// written as, the client's own first: an IPv4-mapped IPv6 address also as
// its IPv4 address, and the machine's own ::1 also as 127.0.0.1, so a row
// for the machine admits its browser whichever way "localhost" resolves.
QStringList ClientAddressForms(const QString &address);

// Back to the state of a fresh start (tests).
void Reset();

} // namespace Headers
