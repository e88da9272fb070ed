#include "web/chrome/PageHead.h"

#include "web/HtmlText.h"
#include "web/Request.h"
#include "web/WebClock.h"
#include "web/chrome/Cells.h"
#include "web/chrome/Headers.h"
#include "web/chrome/Menus.h"

#include "bridge/ReceiveDispatcher.h"

#include "host/HostGlobals.h"

#include "core/FastString.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/AnsiCodePage.h"
#include "automation/PendingError.h"
#include "automation/VbString.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace Headers {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kNoFile = QStringLiteral("No File");

const QString kIncludes = QStringLiteral("includes.ini");
const QString kHeaderSection = QStringLiteral("header.asp");

QString include(const QString &key)
{
    return Setting(kIncludes, kHeaderSection, key);
}

// The include key's value; when it is "", `writeBack` is stored for the next page.
QString includeOr(const QString &key, const QString &writeBack)
{
    const QString value = include(key);
    if (value.isEmpty())
        SaveSetting(kIncludes, kHeaderSection, key, writeBack);
    return value;
}

bool isHostName(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("\\A[A-Za-z0-9.-]+(:[0-9]{1,5})?\\z"));
    return pattern.match(text).hasMatch();
}

struct Resolved
{
    QString title, bodyAttributes, bodyOverride, colour, image, styleSheet, showLinks, refresh, header, logo, hideTitle,
        scroller;
};

Resolved resolve(const HeaderParameters &p)
{
    Resolved r;
    WebSettings &s = Settings();
    if (p.isText()) {
        const QStringList parts = p.single().split(QStringLiteral(",,"));
        r.title = parts.value(0);
        if (parts.size() > 1)
            r.bodyAttributes = r.bodyOverride = parts.at(1);
    } else {
        r.title = p.at(HeaderParameters::Title);
        if (r.title.isEmpty())
            r.title = includeOr(QStringLiteral("strPageTitle"), QStringLiteral("n/a"));
        r.bodyAttributes = p.at(HeaderParameters::BodyAttributes);
        r.colour = p.at(HeaderParameters::BackgroundColour);
        r.image = p.at(HeaderParameters::BackgroundImage);
        r.styleSheet = p.at(HeaderParameters::StyleSheet);
        r.showLinks = p.at(HeaderParameters::ShowLinks);
        if (r.showLinks.isEmpty())
            r.showLinks = includeOr(QStringLiteral("strShowLinks"), QStringLiteral("OldStyle"));
        r.refresh = p.at(HeaderParameters::Refresh);
        if (r.refresh.isEmpty())
            r.refresh = includeOr(QStringLiteral("strRefresh"), QStringLiteral("0"));
        r.header = p.at(HeaderParameters::Header);
        if (r.header.isEmpty())
            r.header = include(QStringLiteral("strHeader"));
        r.logo = p.at(HeaderParameters::Logo);
        if (r.logo.isEmpty())
            r.logo = includeOr(QStringLiteral("strLogoYN"), QStringLiteral("Yes"));
        QString security = p.at(HeaderParameters::SecurityMode);
        if (security.isEmpty())
            security = s.usesecurity;
        if (security.isEmpty())
            security = includeOr(QStringLiteral("UseSecurity"), QStringLiteral("None"));
        s.usesecurity = security;
        r.hideTitle = p.at(HeaderParameters::HideTitle);
        if (r.hideTitle.isEmpty())
            r.hideTitle = includeOr(QStringLiteral("HideTitle"), QStringLiteral("0"));
        r.scroller = p.at(HeaderParameters::ScrollerSection);
    }
    if (r.title.isEmpty())
        r.title = QStringLiteral(" ");
    if (r.styleSheet.isEmpty())
        r.styleSheet = QStringLiteral("xaptvkKorvane/styleNoBody.css");
    if (r.showLinks.isEmpty())
        r.showLinks = QStringLiteral("OLDSTYLE");
    if (r.refresh.isEmpty())
        r.refresh = QStringLiteral("0");
    if (r.logo.isEmpty())
        r.logo = QStringLiteral("Yes");
    if (r.hideTitle.isEmpty())
        r.hideTitle = QStringLiteral("0");
    if (s.useslideinmenu.isEmpty())
        s.useslideinmenu = QStringLiteral("No");
    if (s.usesecurity.isEmpty())
        s.usesecurity = QStringLiteral("None");
    return r;
}

// The links of the row above or below the logo bar, by the show-links parameter.
QString linkRow(const QString &showLinks, bool upper)
{
    const QString mode = HtmlText::ucase(showLinks);
    QString text;
    bool plain = true;
    if (mode == QLatin1String("YES") || (!upper && mode == QLatin1String("OLDSTYLE"))) {
        text = LinkFile();
        if (text == kNoFile)
            text = TSLinks();
    } else if (mode == QLatin1String("NO")) {
        if (!upper)
            return QString();
    } else if (mode == QLatin1String("OLDSTYLE")) {
        text = FileContents(AppFile(gTouchScreen ? QStringLiteral("html/xaptvkKorvane/links_touchscreen.htm")
                                                 : QStringLiteral("html/xaptvkKorvane/links.htm")));
        if (text == kNoFile)
            text.clear();
    } else {
        text = MenuRow(showLinks);
        plain = false;
    }
    if (plain)
        text += QLatin1Char(' ');
    if (gTouchScreen)
        text = QStringLiteral("<div align=\"center\">") + text + QStringLiteral("</div>");
    return text;
}

QString logoBar(const Resolved &r)
{
    const QString barTitle = r.hideTitle == QLatin1String("0") && r.title != QLatin1String("n/a") ? r.title : QString();
    const QString logoMode = HtmlText::ucase(r.logo);
    if (logoMode == QLatin1String("NO_LOGO") || logoMode == QLatin1String("NO_LOGO_SLIDE"))
        return QString();
    const QDateTime now = WebClock::now();
    int cells = 0;
    FastString row;
    row.Add(QStringLiteral("<tr class=\"logobar\">"));
    auto cell = [&](const QString &text) {
        row.Add(text);
        ++cells;
    };
    auto shown = [](const char *key) { return include(QString::fromLatin1(key)).isEmpty(); };
    if (shown("logoShowClock"))
        cell(QStringLiteral("<td><img height=\"25\" src=\"/") + kProgramName + QStringLiteral("/clock.gif\" alt=\"The time is ")
             + WebClock::generalDate(now) + QStringLiteral("\" align=\"absmiddle\" border=\"0\"></td>"));
    if (shown("logoShowDate"))
        cell(QStringLiteral("<td>") + WebClock::shortDate(now) + QStringLiteral("</td>"));
    if (shown("logoShowTime")) {
        const QString clock = FileContents(AppFile(QStringLiteral("html/javascript/clock.js")));
        if (clock != kNoFile)
            cell(QStringLiteral("<td nowrap>") + clock + QStringLiteral("</td>"));
    }
    const QString sunrise = HtmlText::escape(SunriseText());
    const QString sunset = HtmlText::escape(SunsetText());
    if (shown("logoShowSunrise"))
        cell(QStringLiteral("<td nowrap><img src=\"/") + kProgramName + QStringLiteral("/sunrise.gif\" height=\"25\" alt=\"Sunrise is at ")
             + sunrise + QStringLiteral(".\" align=\"absmiddle\" border=\"0\"> <b>Sunrise:</b> ") + sunrise + QStringLiteral("</td>"));
    if (shown("logoShowSunset"))
        cell(QStringLiteral("<td nowrap><img src=\"/") + kProgramName + QStringLiteral("/sunset.gif\" height=\"25\" alt=\"Sunset is at ")
             + sunset + QStringLiteral(".\" align=\"absmiddle\" border=\"0\"> <b>Sunset:</b> ") + sunset + QStringLiteral("</td>"));
    if (shown("logoShowWeatherManTemp")) {
        const QString temp = HtmlText::escape(
            Setting(QStringLiteral("WeatherData.ini"), QStringLiteral("WeatherCom_CurrentData"), QStringLiteral("Temp")));
        if (!temp.isEmpty())
            cell(QStringLiteral("<td nowrap><b>Temp:</b> <img border=\"0\" align=\"absmiddle\" alt=\"Temperature is ") + temp
                 + QStringLiteral(" degrees \" src=\"/") + kProgramName + QStringLiteral("/images/Temperatures/") + temp
                 + QStringLiteral(".gif\" ></td>"));
    }
    if (shown("logoShowUsername")) {
        const QString mode = HtmlText::ucase(Settings().usesecurity);
        if (mode == QLatin1String("ENHANCED"))
            cell(QStringLiteral("<td nowrap><b>User:</b> ") + HtmlText::escape(gUserName) + QStringLiteral("</td>"));
        else if (mode == QLatin1String("BASIC"))
            cell(QStringLiteral("<td nowrap><b>User:</b> ") + HtmlText::escape(HtmlText::ucase(gUserName)) + QStringLiteral("</td>"));
    }
    const QString link = include(QStringLiteral("logoImageLink"));
    QString logo;
    if (link.isEmpty())
        logo = QStringLiteral("<a href=\"/status\" target=\"_top\"><img alt=\"Link to Status\"  width=\"133\" height=\"25\" src=\"/")
            + kLogoImage + QStringLiteral(".jpg\" border=\"0\"></a>");
    else if (HtmlText::ucase(link) == QLatin1String("NONE"))
        logo = QStringLiteral("<img alt=\"Logo\" width=\"133\" height=\"25\" src=\"/") + kLogoImage + QStringLiteral(".jpg\" border=\"0\">");
    else
        logo = QStringLiteral("<a href=\"") + HtmlText::escape(HtmlText::safeUrl(link))
            + QStringLiteral("\" target=\"_top\"><img alt=\"Link to ") + HtmlText::escape(link)
            + QStringLiteral(".\"  width=\"133\" height=\"25\" src=\"/") + kLogoImage + QStringLiteral(".jpg\" border=\"0\"></a>");
    cell(QStringLiteral("<td align=\"right\" colspan=\"1\">") + logo + QStringLiteral("</td></tr>"));
    if (barTitle.isEmpty())
        return QString();
    return QStringLiteral("<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" width=\"100%\" summary=\"Logo Bar\">")
        + QStringLiteral("<tr><td colspan=\"") + QString::number(cells) + QStringLiteral("\" class=\"pagetitle\">") + barTitle
        + QStringLiteral("</td></tr>") + row.Value() + QStringLiteral("</table>");
}

} // namespace

// "[v6]" or "[v6]:port": the bracketed address.
static QString bracketedHost(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("\\A\\[[0-9A-Fa-f:.]+\\](:[0-9]{1,5})?\\z"));
    if (!pattern.match(text).hasMatch())
        return QString();
    return text.left(text.indexOf(QLatin1Char(']')) + 1);
}

// A host name or address with an optional port, as a link can carry it: the host alone.
static QString hostOnly(const QString &text)
{
    if (const QString v6 = bracketedHost(text); !v6.isEmpty())
        return v6;
    if (!isHostName(text))
        return QString();
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    return (colon < 0 ? text : text.left(colon)).trimmed();
}

QString HostFromAllRaw(const QString &raw)
{
    QString text;
    qsizetype at = raw.indexOf(QLatin1String(",host:"), 0, Qt::CaseInsensitive);
    if (at >= 0) {
        text = raw.mid(at + 6);
    } else {
        at = raw.indexOf(QLatin1String("referer:"), 0, Qt::CaseInsensitive);
        if (at < 0)
            return QString();
        text = raw.mid(at + 8);
    }
    text.remove(QLatin1String("http://"), Qt::CaseInsensitive);
    text = text.trimmed();
    qsizetype end = text.size();
    for (const QChar stop : {QLatin1Char(':'), QLatin1Char('/'), QLatin1Char(','), QLatin1Char(' '), QLatin1Char('\t')}) {
        const qsizetype i = text.indexOf(stop);
        if (i >= 0 && i < end)
            end = i;
    }
    return hostOnly(text.left(end));
}

QString GetServerIP()
{
    try {
        const Request *request = PageRequest();
        if (!request)
            return QString();
        QString host = hostOnly(request->ServerVariables(QStringLiteral("Host")).trimmed());
        if (host.isEmpty()) {
            const QUrl referer(request->ServerVariables(QStringLiteral("Referer")));
            QString refererHost = referer.host();
            if (refererHost.contains(QLatin1Char(':')))
                refererHost = QLatin1Char('[') + refererHost + QLatin1Char(']');
            host = hostOnly(refererHost);
        }
        if (host.isEmpty())
            host = HostFromAllRaw(request->ServerVariables(QStringLiteral("ALL_RAW")));
        // Never another request's host: the address this client itself connected to.
        if (host.isEmpty())
            host = request->ServerVariables(QStringLiteral("LOCAL_ADDR"));
        return host;
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("GetServerIP"));
        return QString();
    }
}

QString FileContents(const QString &path)
{
    try {
        const QFileInfo info(path);
        if (!info.isFile() || info.size() <= 0)
            return kNoFile;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return kNoFile;
        const QString text = AnsiCodePage::decode(file.readAll());
        if (VbString::Trim(text).isEmpty())
            return kNoFile;
        return text;
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("FileContents: "));
        return QString();
    }
}

QString XCustomHeader(const HeaderParameters &parameters)
{
    try {
        const QString serverIP = GetServerIP();
        const Resolved r = resolve(parameters);
        const WebSettings &s = Settings();
        const QString settingsIni = QStringLiteral("settings.ini");
        const QString webTitle = Setting(settingsIni, QStringLiteral("Settings"), QStringLiteral("gWebPageTitle"));
        const QString onLoad = Setting(settingsIni, QStringLiteral("Settings"), QStringLiteral("BODY_OnLoad"));
        const QString autoRefresh = Setting(settingsIni, QStringLiteral("Settings"), QStringLiteral("auto_refresh"));
        QString linksLocation = includeOr(QStringLiteral("linkslocation"), QStringLiteral("1"));
        if (linksLocation.isEmpty())
            linksLocation = QStringLiteral("0");
        QString usePageScroll = includeOr(QStringLiteral("usePageScroll"), QStringLiteral("0"));
        if (usePageScroll.isEmpty())
            usePageScroll = QStringLiteral("0");

        FastString out;
        if (r.image.isEmpty())
            out.Add(QStringLiteral("<html><head>"));
        out.Add(QStringLiteral("<title>") + HtmlText::escape(webTitle) + QStringLiteral(" - ") + HtmlText::StripHTML(r.title)
                + QStringLiteral("</title>"));
        out.Add(QStringLiteral("<link rel=\"stylesheet\" type=\"text/css\" href=\"/")
                + (gTouchScreen ? QString() : kProgramName + QLatin1Char('/')) + HtmlText::escape(r.styleSheet)
                + QStringLiteral("\">"));
        out.Add(QStringLiteral("<meta HTTP-EQUIV=\"EXPIRES\" CONTENT=\"0\">"));
        out.Add(QStringLiteral("<meta HTTP-EQUIV=\"Pragma\" CONTENT=\"no-cache\">"));
        if (r.refresh == QLatin1String("1") && autoRefresh > QLatin1String("0"))
            out.Add(QStringLiteral("<meta HTTP-EQUIV=\"refresh\" CONTENT=\"") + HtmlText::escape(autoRefresh) + QStringLiteral("\">"));
        else if (r.refresh > QLatin1String("1") && VbString::IsNumeric(r.refresh))
            out.Add(QStringLiteral("<meta HTTP-EQUIV=\"refresh\" CONTENT=\"") + HtmlText::escape(r.refresh) + QStringLiteral("\">"));
        if (r.header != QLatin1String("No_Logo") && !r.header.isEmpty() && r.header != QLatin1String("no"))
            out.Add(r.header);
        QString meta = kNoFile;
        if (gTouchScreen)
            meta = FileContents(AppFile(QStringLiteral("html/meta_touchscreen.htm")));
        if (meta == kNoFile)
            meta = FileContents(AppFile(QStringLiteral("html/meta.htm")));
        if (meta != kNoFile)
            out.Add(meta);
        const QString logoMode = HtmlText::ucase(r.logo);
        if (logoMode != QLatin1String("NO_LOGO_SLIDE") && logoMode != QLatin1String("NO_SLIDE")
            && HtmlText::ucase(s.useslideinmenu) == QLatin1String("YES") && !gTouchScreen)
            out.Add(ssmItems());
        out.Add(QStringLiteral("</head>") + kCrLf);

        QString style = r.bodyAttributes;
        const bool image = !r.image.isEmpty() && r.image != QLatin1String("x");
        const QString colour = HtmlText::escape(r.colour);
        if (!gTouchScreen) {
            if (!r.colour.isEmpty() || image)
                style += QStringLiteral(" style=\"");
            if (!r.colour.isEmpty())
                style += QStringLiteral(" background-color: ") + colour + QStringLiteral("; ");
            if (image)
                style += QStringLiteral(" background-image: url(") + HtmlText::escape(r.image) + QStringLiteral(");");
            if (!r.colour.isEmpty() || image)
                style += QLatin1Char('"');
        } else {
            if (!r.colour.isEmpty())
                style += QStringLiteral("  bgcolor=\"") + colour + QLatin1Char('"');
            if (image)
                style += QStringLiteral("  background=\"") + HtmlText::escape(r.image) + QLatin1Char('"');
        }
        if (!r.bodyOverride.isEmpty())
            out.Add(QStringLiteral("<body ") + r.bodyOverride + QStringLiteral(">"));
        else if (!style.isEmpty())
            out.Add(QStringLiteral("<body ") + style + QStringLiteral(">"));
        else if (!r.bodyAttributes.isEmpty())
            out.Add(QStringLiteral("<body ") + r.bodyAttributes + QStringLiteral(">"));
        else if (!onLoad.isEmpty())
            out.Add(meta + QStringLiteral("<body onload=\"") + HtmlText::escape(onLoad) + QStringLiteral("\" >"));
        else
            out.Add(QStringLiteral("<body>"));
        out.Add(kCrLf);

        if (QFileInfo(AppFile(QStringLiteral("html/xaptvkKorvane/images/blank.gif"))).isFile())
            out.Add(QStringLiteral("<table border=\"0\"><tr><td><a href=\"#pagecontent\"><img src=\"/") + kProgramName
                    + QStringLiteral("/images/cancel.gif\" height=1 border=0 width=1 alt=\"Jump to page content.\"></a></td></tr></table>"));

        QString head = kNoFile;
        if (gTouchScreen)
            head = FileContents(AppFile(QStringLiteral("html/head_touchscreen.htm")));
        if (head == kNoFile)
            head = FileContents(AppFile(QStringLiteral("html/head.htm")));
        if (head != kNoFile)
            out.Add(head);

        const bool upperRow = gTouchScreen && linksLocation == QLatin1String("1");
        if (upperRow)
            out.Add(linkRow(r.showLinks, true));

        if (gTouchScreen) {
            if (r.title != QLatin1String("n/a") && r.hideTitle == QLatin1String("0"))
                out.Add(QStringLiteral("<div align=\"center\"><strong>") + r.title + QStringLiteral("</strong></div>"));
        } else {
            out.Add(logoBar(r));
        }

        if ((usePageScroll == QLatin1String("1") || !r.scroller.isEmpty()) && r.scroller != QLatin1String("None"))
            out.Add(PageScroll(r.scroller.isEmpty() ? QStringLiteral("Default") : r.scroller));

        if (!upperRow)
            out.Add(linkRow(r.showLinks, false));

        QString links = FileContents(AppFile(QStringLiteral("html/xaptvkKorvane/xaptvkKorvane_links.htm")));
        if (links != kNoFile) {
            if (!serverIP.isEmpty())
                links.replace(QStringLiteral("=\"/"), QStringLiteral("=\"http://") + serverIP + QLatin1Char(':') + gHTTPPort
                                                          + QStringLiteral("/xaptvkKorvane/xaptvkKorvane.asp?Page="));
            out.Add(links);
        }
        out.Add(QStringLiteral("<a name=\"pagecontent\"></a>"));
        return out.Value();
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("XCustomHeader: "));
        return QString();
    }
}

} // namespace Headers
