#include "web/chrome/Menus.h"

#include "web/HtmlText.h"
#include "web/Request.h"
#include "web/chrome/ChromeDatabase.h"
#include "web/chrome/Headers.h"
#include "web/chrome/PageHead.h"

#include "core/FastString.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"
#include "automation/VbString.h"

#include <QFileInfo>
#include <QUrl>

namespace Headers {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kAlertAddress = QStringLiteral("https://weather.com/weather/alerts/?alertId=");
const QString kForumAddress = QStringLiteral("https://forum.example.org/");

enum class RowKind { Top, Walk };

QString text(const QVariant &v)
{
    return v.isNull() ? QString() : v.toString();
}

QString href(const QVariant &url)
{
    return HtmlText::escape(HtmlText::safeUrl(text(url)));
}

// One row of items: fields label, address, parent, level, image.
QString formatRow(const std::vector<ChromeDatabase::Row> &rows, const QString &menu, RowKind kind)
{
    const QString style = HtmlText::ucase(Settings().rowstyle.isEmpty() ? QStringLiteral("Link") : Settings().rowstyle);
    FastString out;
    auto linkItem = [&](const ChromeDatabase::Row &r) {
        QString item;
        if (kind == RowKind::Walk && text(r[1]) == menu)
            item += QLatin1Char('*');
        item += QStringLiteral(" <a href=\"") + href(r[1]) + QStringLiteral("\">") + HtmlText::escape(text(r[0]))
            + QStringLiteral("</a>");
        return item;
    };
    if (style == QLatin1String("LINK") || style == QLatin1String("IMAGE")) {
        for (size_t i = 0; i < rows.size(); ++i) {
            const ChromeDatabase::Row &r = rows[i];
            if (style == QLatin1String("LINK")) {
                if (i > 0)
                    out.Add(QStringLiteral(" | "));
                out.Add(linkItem(r));
            } else {
                if (i > 0)
                    out.Add(QStringLiteral(" "));
                const QString image = VbString::Trim(text(r[4]));
                if (image.isEmpty()) {
                    out.Add(linkItem(r));
                } else {
                    out.Add(QString(kind == RowKind::Walk ? QStringLiteral(" ") : QString()) + QStringLiteral("<a href=\"")
                            + href(r[1]) + QStringLiteral("\"><img alt=\"") + HtmlText::escape(text(r[0]))
                            + QStringLiteral("\" height=\"30\" src=\"") + href(r[4])
                            + QStringLiteral("\" border=\"0\"></a>"));
                }
            }
        }
        out.Add(QStringLiteral("<br>") + kCrLf);
        return out.Value();
    }
    out.Add(QStringLiteral("<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\"><tr>"));
    for (const ChromeDatabase::Row &r : rows) {
        out.Add(QStringLiteral("<td><input type=\"button\" class=\"linkrowbutton\" value=\"")
                + HtmlText::escape(text(r[0])) + QStringLiteral("\"onClick=\"window.parent.location.href='")
                + HtmlText::escape(HtmlText::jsString(HtmlText::safeUrl(text(r[1])))) + QStringLiteral("'\"></td>")
                + kCrLf);
    }
    out.Add(QStringLiteral("</tr></table>"));
    return out.Value();
}

bool buttons()
{
    const QString style = HtmlText::ucase(Settings().rowstyle.isEmpty() ? QStringLiteral("Link") : Settings().rowstyle);
    return style != QLatin1String("LINK") && style != QLatin1String("IMAGE");
}

QString menuRows(const QString &menu, int *requiredLevel)
{
    const WebSettings &s = Settings();
    const int level = gSecureLevel;
    if (HtmlText::ucase(menu) == QLatin1String("TOPLEVEL")) {
        *requiredLevel = 0;
        const auto rows = ChromeDatabase::select(
            s.dbpath,
            QStringLiteral("SELECT MenuItem, MenuURL, ParentID, SecureLevel, MenuImage FROM Menus WHERE LevelID = 1 "
                           "AND SecureLevel <= ? ORDER BY SortOrder"),
            {level});
        if (rows.empty())
            return QString();
        return formatRow(rows, menu, RowKind::Top) + (buttons() ? kCrLf : QString());
    }
    const auto found = ChromeDatabase::select(
        s.dbpath, QStringLiteral("SELECT LevelID, ParentID, MenuID, SecureLevel FROM Menus WHERE MenuURL LIKE ?"),
        {QStringLiteral("%") + menu});
    if (found.empty()) {
        *requiredLevel = 10;
        return QString();
    }
    const int levelId = int(VbString::roundHalfEven(found[0][0].toDouble()));
    qint64 parentId = found[0][1].toLongLong();
    const qint64 menuId = found[0][2].toLongLong();
    *requiredLevel = int(VbString::roundHalfEven(found[0][3].toDouble()));
    const QString trailer = buttons() ? kCrLf : QString();
    QString result;
    const QString levelOne = QStringLiteral(
        "SELECT M.MenuItem, M.MenuURL, M.ParentID, M.SecureLevel, M.MenuImage FROM Menus M WHERE M.ParentID = ? AND "
        "M.LevelID = ? AND M.SecureLevel <= ? ORDER BY M.SortOrder");
    const QString upper = QStringLiteral(
        "SELECT M.MenuItem, M.MenuURL, M1.ParentID, M.SecureLevel, M.MenuImage FROM Menus M, Menus M1 WHERE "
        "M.ParentID = M1.MenuID AND M.ParentID = ? AND M.LevelID = ? AND M.SecureLevel <= ? ORDER BY M.SortOrder");
    // A damaged table could make the walk long: levels below 1 end it, and
    // no menu is deeper than a few dozen levels.
    for (int lvl = qMin(levelId, 64); lvl >= 1; --lvl) {
        const auto rows = ChromeDatabase::select(s.dbpath, lvl == 1 ? levelOne : upper, {parentId, lvl, level});
        if (rows.empty())
            continue;
        parentId = rows[0][2].toLongLong();
        result = formatRow(rows, menu, RowKind::Walk) + result + trailer;
    }
    const auto children = ChromeDatabase::select(s.dbpath, levelOne, {menuId, levelId + 1, level});
    if (!children.empty())
        result += formatRow(children, menu, RowKind::Walk) + trailer;
    return result;
}

} // namespace

QString MenuRow(const QString &menu)
{
    try {
        const QString settingsFile = QStringLiteral("tvkXapKorvane.ini");
        const QString hits = Setting(settingsFile, QStringLiteral("Settings"), QStringLiteral("logpagehits"));
        if (hits == QLatin1String("1")) {
            const QString address = PageRequest() ? PageRequest()->ServerVariables(QStringLiteral("REMOTE_ADDR")) : QString();
            LogError(QStringLiteral("Web Log"),
                     HtmlText::forLog(menu) + QStringLiteral(" was accessed by ")
                         + (gUserName.isEmpty() ? address : QStringLiteral(" the user: ") + HtmlText::forLog(gUserName)));
        } else if (hits.isEmpty()) {
            SaveSetting(settingsFile, QStringLiteral("Settings"), QStringLiteral("logpagehits"), QStringLiteral("0"));
        }

        bool build = true;
        const QString storedMode = Setting(settingsFile, QStringLiteral("Settings"), QStringLiteral("usesecurity"));
        if (storedMode.isEmpty()) {
            const QString useMenuRow = Setting(QStringLiteral("includes.ini"), QStringLiteral("header.asp"),
                                               QStringLiteral("useMenuRow"));
            if (useMenuRow.isEmpty())
                SaveSetting(QStringLiteral("includes.ini"), QStringLiteral("header.asp"), QStringLiteral("useMenuRow"),
                            QStringLiteral("0"));
            build = IsTrue(useMenuRow) || HtmlText::ucase(useMenuRow) == QLatin1String("YES");
        }

        // A row that is off is no row at all: no gate, no alert links.
        if (!build)
            return QString();
        QString result;
        {
            const QString dbpath = Settings().dbpath;
            int required = 10;
            if (dbpath != QLatin1String("NA") && !dbpath.isEmpty())
                result = menuRows(menu, &required);
            Gate(required);
        }

        const QString useAlerts = Setting(QStringLiteral("includes.ini"), QStringLiteral("header.asp"), QStringLiteral("useAlerts"));
        if (useAlerts.isEmpty())
            SaveSetting(QStringLiteral("includes.ini"), QStringLiteral("header.asp"), QStringLiteral("useAlerts"),
                        QStringLiteral("0"));
        const QString alertIds = Setting(QStringLiteral("WeatherData.ini"), QStringLiteral("WeatherCom_CurrentData"),
                                         QStringLiteral("AlertIDs"));
        if (useAlerts == QLatin1String("1") && !alertIds.isEmpty()) {
            QStringList ids;
            for (const QString &id : alertIds.split(QLatin1Char(',')))
                if (!id.isEmpty())
                    ids.append(id);
            for (qsizetype n = 0; n < ids.size(); ++n) {
                result += QStringLiteral("<a href=\"") + kAlertAddress
                    + HtmlText::escape(QString::fromLatin1(QUrl::toPercentEncoding(ids.at(n))))
                    + QStringLiteral("\" target=\"_blank\">Weather Alert ") + QString::number(n + 1)
                    + QStringLiteral("</a>") + (n + 1 < ids.size() ? QStringLiteral(" | ") : QStringLiteral("<br>") + kCrLf);
            }
        }
        return result;
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("MenuRow: "));
        return QString();
    }
}

QString ssmItems()
{
    try {
        const QString dbpath = Settings().dbpath;
        FastString prefs;
        const auto pref = ChromeDatabase::select(
            dbpath,
            QStringLiteral("SELECT yoffset, xoffset, staticyoffset, slidespeed, waittime, menuIsStatic, menuwidth, "
                           "barlink, bartext, barwidth, mouseovercolor, mouseoutcolor, targetwindow FROM MenuPOPPref "
                           "WHERE UserID = ?"),
            {gUserName});
        // Numbers go into the script as numbers only; texts as quoted strings.
        auto number = [](const QVariant &v) {
            return QString::number(qint64(VbString::roundHalfEven(VbString::Val(text(v)))));
        };
        auto quoted = [](const QString &t) { return HtmlText::jsString(HtmlText::escape(t)); };
        if (!pref.empty()) {
            const ChromeDatabase::Row &r = pref[0];
            const QString over = text(r[10]).isEmpty() ? QStringLiteral("#FFFF99") : text(r[10]);
            const QString out = text(r[11]).isEmpty() ? QStringLiteral("white") : text(r[11]);
            const QString target = text(r[12]).isEmpty() ? QStringLiteral("_top") : text(r[12]);
            const QString link = r[7].isNull() ? kForumAddress : HtmlText::safeUrl(text(r[7]));
            const QString barText = r[8].isNull() ? QStringLiteral("Tessera Forums") : text(r[8]);
            prefs.Add(QStringLiteral("YOffset=") + number(r[0]) + QStringLiteral(";") + kCrLf);
            prefs.Add(QStringLiteral("XOffset=") + number(r[1]) + QStringLiteral(";") + kCrLf);
            prefs.Add(QStringLiteral("staticYOffset=") + number(r[2]) + QStringLiteral(";") + kCrLf);
            prefs.Add(QStringLiteral("slideSpeed=") + number(r[3]) + QStringLiteral(";") + kCrLf);
            prefs.Add(QStringLiteral("waitTime=") + number(r[4]) + QStringLiteral(";") + kCrLf);
            prefs.Add(QStringLiteral("menuIsStatic=\"") + (number(r[5]) == QLatin1String("1") ? QStringLiteral("yes") : QStringLiteral("no"))
                      + QStringLiteral("\";") + kCrLf);
            prefs.Add(QStringLiteral("menuWidth=") + number(r[6]) + QStringLiteral(";") + kCrLf);
            prefs.Add(QStringLiteral("menuCols=2;") + kCrLf);
            prefs.Add(QStringLiteral("barLink=\"") + quoted(link) + QStringLiteral("\";") + kCrLf);
            prefs.Add(QStringLiteral("barWidth=") + number(r[9]) + QStringLiteral(";") + kCrLf);
            prefs.Add(QStringLiteral("barText=\"") + quoted(barText) + QStringLiteral("\";") + kCrLf);
            prefs.Add(QStringLiteral("linkOverBGColor=\"") + quoted(over) + QStringLiteral("\";") + kCrLf);
            prefs.Add(QStringLiteral("linkBGColor=\"") + quoted(out) + QStringLiteral("\";") + kCrLf);
            prefs.Add(QStringLiteral("linkTarget=\"") + quoted(target) + QStringLiteral("\";"));
        } else {
            for (const QString &line :
                 {QStringLiteral("YOffset=100;"), QStringLiteral("XOffset=0;"), QStringLiteral("staticYOffset=30;"),
                  QStringLiteral("slideSpeed=0;"), QStringLiteral("waitTime=1500;"), QStringLiteral("menuIsStatic=\"yes\";"),
                  QStringLiteral("menuWidth=150;"), QStringLiteral("menuCols=2;"),
                  QStringLiteral("barLink=\"") + kForumAddress + QStringLiteral("\";"), QStringLiteral("barWidth=20;"),
                  QStringLiteral("barText=\"Tessera Forums\";"), QStringLiteral("linkTarget=\"_top\";"),
                  QStringLiteral("linkBGColor=\"white\";"), QStringLiteral("linkOverBGColor=\"#FFFF99\";")})
                prefs.Add(line + kCrLf);
        }

        const QString address = PageRequest() ? PageRequest()->ServerVariables(QStringLiteral("REMOTE_ADDR")) : QString();
        std::vector<ChromeDatabase::Row> rows;
        for (const QString &form : ClientAddressForms(address)) {
            rows = ChromeDatabase::select(
                dbpath,
                QStringLiteral("SELECT P.MenuID, P.MenuText, P.MenuURL, M.MenuItem, M.MenuURL, P.IsHeader, P.IsActive FROM "
                               "MenuPOP P LEFT JOIN Menus M ON P.MenuID = M.MenuID WHERE P.IsActive=1 AND P.UserID = "
                               "(SELECT UserID FROM MenuUsers WHERE SecID = ? LIMIT 1) ORDER BY P.SortOrder, M.MenuItem"),
                {form});
            if (!rows.empty())
                break;
        }
        if (rows.empty())
            return QStringLiteral(" ");
        FastString items;
        for (size_t i = 0; i < rows.size(); ++i) {
            const ChromeDatabase::Row &r = rows[i];
            items.Add(QStringLiteral("ssmItems[") + QString::number(i) + QStringLiteral("]=[\""));
            if (!r[5].isNull() && VbString::Val(text(r[5])) != 0)
                items.Add(quoted(text(r[1])) + QStringLiteral("\",\"\",\"\"]"));
            else
                items.Add(quoted(text(r[3])) + QStringLiteral("\",\"") + quoted(HtmlText::safeUrl(text(r[4])))
                          + QStringLiteral("\",\"\"]"));
            items.Add(kCrLf);
        }
        QString script = FileContents(AppFile(QStringLiteral("html/includes/ssmitems.txt")));
        script.replace(QStringLiteral("(******REPLACE_SSMITEMS******)"), items.Value());
        script.replace(QStringLiteral("(******REPLACE_SSMPREFS******)"), prefs.Value());
        return script;
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("ssmItems: "));
        return QString();
    }
}

QString LinkFile()
{
    try {
        const QString suffix = gTouchScreen ? QStringLiteral("_touchscreen") : QString();
        const QString name = QStringLiteral("links") + suffix + QStringLiteral(".htm");
        const QString above = QFileInfo(gAppPath).absolutePath();
        QString text = FileContents(above + QLatin1Char('/') + name);
        if (text == QLatin1String("No File"))
            text = FileContents(AppFile(QStringLiteral("html/") + name));
        return text;
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("LinkFile: "));
        return QString();
    }
}

} // namespace Headers
