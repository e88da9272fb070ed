#include "web/chrome/Headers.h"

#include "web/HtmlText.h"
#include "web/Request.h"
#include "core/RefusalLog.h"
#include "web/Response.h"
#include "web/WebClock.h"
#include "web/chrome/ChromeDatabase.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"
#include "automation/VbError.h"
#include "automation/VbString.h"

#include <QHostAddress>

namespace Headers {

namespace {
Request *sRequest = nullptr;
Response *sResponse = nullptr;
bool sRefused = false;
bool sGateRun = false;

const QString kSettingsFile = QStringLiteral("tvkXapKorvane.ini");

QString remoteAddress()
{
    return sRequest ? sRequest->ServerVariables(QStringLiteral("REMOTE_ADDR")) : QString();
}
} // namespace

qint16 gSecureLevel = 0;
QString gUserName;
bool gTouchScreen = false;

WebSettings &Settings()
{
    static WebSettings settings;
    return settings;
}

Request *PageRequest()
{
    return sRequest;
}

Response *PageResponse()
{
    return sResponse;
}

QString Setting(const QString &file, const QString &section, const QString &key)
{
    if (!hs)
        throw VbError(91, QStringLiteral("Object variable or With block variable not set"));
    return hs->getIniSetting(section, key, QString(), file);
}

void SaveSetting(const QString &file, const QString &section, const QString &key, const QString &value)
{
    if (!hs)
        throw VbError(91, QStringLiteral("Object variable or With block variable not set"));
    hs->saveIniSetting(section, key, value, file);
}

QString AppFile(const QString &relative)
{
    return ResolvePathNoCase(gAppPath, relative);
}

QStringList ClientAddressForms(const QString &address)
{
    QStringList forms{address};
    QHostAddress parsed;
    if (!parsed.setAddress(address) || parsed.protocol() != QAbstractSocket::IPv6Protocol)
        return forms;
    bool mapped = false;
    const quint32 v4 = parsed.toIPv4Address(&mapped);
    if (mapped)
        forms.append(QHostAddress(v4).toString());
    else if (parsed.isEqual(QHostAddress(QHostAddress::LocalHostIPv6)))
        forms.append(QStringLiteral("127.0.0.1"));
    return forms;
}

void Reset()
{
    Settings() = WebSettings();
    gSecureLevel = 0;
    gUserName.clear();
    gTouchScreen = false;
    sRequest = nullptr;
    sResponse = nullptr;
    sRefused = false;
    sGateRun = false;
}

void RunPageSetup(Request &request, Response &response)
{
    sRequest = &request;
    sResponse = &response;
    sRefused = false;
    sGateRun = false;
    XStartMiscFunctionsASP();
    XSecurityCheck();
    gTouchScreen = xStartHeaderASP();
}

void XStartMiscFunctionsASP()
{
    try {
        WebSettings &s = Settings();
        const QString section = QStringLiteral("Settings");
        s.dbpath = Setting(kSettingsFile, section, QStringLiteral("dbpath"));
        s.rowstyle = Setting(kSettingsFile, section, QStringLiteral("rowstyle"));
        s.usesecurity = Setting(kSettingsFile, section, QStringLiteral("usesecurity"));
        s.dbtype = Setting(kSettingsFile, section, QStringLiteral("dbtype"));
        s.useslideinmenu = Setting(kSettingsFile, section, QStringLiteral("useslideinmenu"));
        s.audreyrowstyle = Setting(kSettingsFile, section, QStringLiteral("audreyrowstyle"));
        s.touchscreenips = Setting(kSettingsFile, section, QStringLiteral("touchscreenips"));
        s.touchScreenAddresses = VbString::Split(s.touchscreenips, QStringLiteral(","));
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral(" XStartMiscFunctionsASP: "));
    }
}

void XSecurityCheck()
{
    // A client's level never carries over from the previous request.
    gSecureLevel = 0;
    gUserName.clear();
    try {
        const WebSettings &s = Settings();
        const QString mode = HtmlText::ucase(s.usesecurity);
        if (mode == QLatin1String("ENHANCED")) {
            if (s.dbpath == QLatin1String("NA") || s.dbpath.isEmpty())
                return;
            QString address;
            std::vector<ChromeDatabase::Row> rows;
            for (const QString &form : ClientAddressForms(remoteAddress())) {
                address = form;
                rows = ChromeDatabase::select(
                    s.dbpath, QStringLiteral("SELECT UserID, SecureLevel, SecID FROM MenuUsers WHERE SecID = ?"), {address});
                if (!rows.empty())
                    break;
            }
            if (rows.empty()) {
                gSecureLevel = 0;
                gUserName = QStringLiteral("None");
                return;
            }
            gSecureLevel = qint16(qBound(-32768.0, VbString::roundHalfEven(rows[0][1].toDouble()), 32767.0));
            gUserName = rows[0][0].toString();
            // Access's Now() and SQL Server's GetDate(): the local time of the database.
            ChromeDatabase::execute(
                s.dbpath,
                QStringLiteral("UPDATE MenuUsers SET LastSessTime = datetime('now','localtime') WHERE SecID = ?"),
                {address});
        } else if (mode == QLatin1String("BASIC")) {
            const QString user = HtmlText::ucase(sRequest ? sRequest->ServerVariables(QStringLiteral("AUTH_USER")) : QString());
            if (user != QLatin1String("GUEST") && !user.endsWith(QLatin1String("SET"))) {
                gSecureLevel = 10;
                gUserName = user;
            } else if (user.endsWith(QLatin1String("SET"))) {
                gSecureLevel = 10;
                gUserName = QStringLiteral("LOCAL");
            } else {
                gSecureLevel = 0;
                gUserName = QStringLiteral("GUEST");
            }
        } else if (mode == QLatin1String("NONE")) {
            gSecureLevel = 10;
            gUserName = QStringLiteral("NO SECURITY");
        }
    } catch (...) {
        gSecureLevel = 0;
        gUserName.clear();
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("XSecurityCheck: "));
    }
}

bool xStartHeaderASP()
{
    try {
        gTouchScreen = false;
        WebSettings &s = Settings();
        const QStringList addresses = ClientAddressForms(remoteAddress());
        for (const QString &entry : s.touchScreenAddresses) {
            if (addresses.contains(entry)) {
                gTouchScreen = true;
                s.rowstyle = s.audreyrowstyle;
                break;
            }
        }
        const QString agent = sRequest ? sRequest->ServerVariables(QStringLiteral("HTTP_USER_AGENT")) : QString();
        if (agent.contains(QLatin1String("Audrey")) || agent.contains(QLatin1String("QNX"))) {
            gTouchScreen = true;
            s.rowstyle = s.audreyrowstyle;
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("xStartHeaderASP "));
    }
    return gTouchScreen;
}

QString fnPageName()
{
    try {
        if (!sRequest)
            throw VbError(91, QStringLiteral("Object variable or With block variable not set"));
        // The request's own path: a header the client sends names no page.
        QString path = sRequest->page();
        path.replace(QLatin1Char('/'), QLatin1Char('\\'));
        const qsizetype slash = path.lastIndexOf(QLatin1Char('\\'));
        return slash < 0 ? path : path.mid(slash + 1);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("fnPageName: "));
        return QString();
    }
}

void LogAuthorized()
{
    try {
        const QString page = fnPageName();
        const QString mode = HtmlText::ucase(Settings().usesecurity);
        const QString address = remoteAddress();
        const QString when = WebClock::generalDate(WebClock::now());
        const QString shownPage = HtmlText::forLog(page);
        // Repeats collapse into one entry a minute; the page name and the
        // user a BASIC client names are its own choice, so they are no part of the kind.
        const QString kind = RefusalLog::Kind(QStringLiteral("Unauthorized ") + mode,
                                              mode == QLatin1String("ENHANCED") ? gUserName : QString());
        if (mode == QLatin1String("ENHANCED"))
            RefusalLog::Log(QStringLiteral("Unauthorized"), HtmlText::forLog(gUserName) + QStringLiteral(" at ") + address
                                                                 + QStringLiteral(" attempted to access ") + shownPage
                                                                 + QStringLiteral(" at ") + when + QStringLiteral(". "),
                            kind);
        else if (mode == QLatin1String("BASIC"))
            RefusalLog::Log(QStringLiteral("Unauthorized"), QStringLiteral("Anonymous Guest at ") + address
                                                                 + QStringLiteral(" attempted to access ") + shownPage
                                                                 + QStringLiteral(" at ") + when + QStringLiteral(". "),
                            kind);
        sRefused = true;
        if (sResponse)
            sResponse->Redirect(QStringLiteral("/unauthorized.asp"));
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("LogAuthorized: "));
    }
}

bool PageRefused()
{
    return sRefused;
}

int RequiredLevel(const QString &menu)
{
    const QString upper = HtmlText::ucase(menu);
    // A page whose links name no menu row has no entry to take its level
    // from: it needs the full level, like a page missing from the menus.
    if (upper == QLatin1String("YES") || upper == QLatin1String("NO") || upper == QLatin1String("OLDSTYLE"))
        return 10;
    const WebSettings &s = Settings();
    if (s.dbpath == QLatin1String("NA") || s.dbpath.isEmpty())
        return 10;
    if (upper == QLatin1String("TOPLEVEL"))
        return 0;
    const auto rows = ChromeDatabase::select(
        s.dbpath, QStringLiteral("SELECT LevelID, ParentID, MenuID, SecureLevel FROM Menus WHERE MenuURL LIKE ?"),
        {QStringLiteral("%") + menu});
    if (rows.empty())
        return 10;
    return int(VbString::roundHalfEven(rows[0][3].toDouble()));
}

void Gate(int requiredLevel)
{
    if (sGateRun || requiredLevel < 0)
        return;
    sGateRun = true;
    const QString mode = HtmlText::ucase(Settings().usesecurity);
    if ((mode == QLatin1String("ENHANCED") || mode == QLatin1String("BASIC")) && requiredLevel > gSecureLevel)
        LogAuthorized();
}

bool CheckAccess(const HeaderParameters &parameters)
{
    try {
        QString showLinks;
        QString security;
        if (parameters.isText()) {
            security = Settings().usesecurity;
        } else {
            showLinks = parameters.at(HeaderParameters::ShowLinks);
            if (showLinks.isEmpty())
                showLinks = Setting(QStringLiteral("includes.ini"), QStringLiteral("header.asp"),
                                    QStringLiteral("strShowLinks"));
            security = parameters.at(HeaderParameters::SecurityMode);
            if (security.isEmpty())
                security = Settings().usesecurity;
            if (security.isEmpty())
                security = Setting(QStringLiteral("includes.ini"), QStringLiteral("header.asp"),
                                   QStringLiteral("UseSecurity"));
        }
        if (showLinks.isEmpty())
            showLinks = QStringLiteral("OLDSTYLE");
        // The page head applies the same mode to the rest of the page.
        Settings().usesecurity = security;
        Gate(RequiredLevel(showLinks));
    } catch (...) {
        // A database fault: the page's level is unknown, so the gate holds it
        // to the level of a page without a menu entry.
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("MenuRow: "));
        Gate(10);
    }
    return !sRefused;
}

} // namespace Headers
