#include "web/chrome/Cells.h"

#include "web/HtmlText.h"
#include "web/chrome/Headers.h"
#include "web/chrome/PageHead.h"

#include "core/FastString.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"

namespace Headers {

namespace {

struct CellLook
{
    const char *cls;
    bool bold;
    const char *font;
    const char *background;
};

constexpr CellLook kLooks[] = {
    {"TABLECOLUMN", true, "#FFFFFF", "#31639C"},  {"TABLEHEADER", true, "#FFFFFF", "#63639C"},
    {"TABLEROWODD", false, "#000000", "#C0C0C0"}, {"TABLEROWEVEN", false, "#000000", "#949494"},
    {"TABLECELLCUSTOM", false, "#FFFFFF", "#000000"},
};

// A weather value inside a script string that holds HTML.
QString weather(const QString &value)
{
    return HtmlText::jsString(HtmlText::escape(value));
}

} // namespace

QString FormatCell(const QString &textIn, const QString &cls, const QString &colspan, const QString &align)
{
    try {
        QString text = textIn;
        QString attributes;
        const QString upper = HtmlText::ucase(cls);
        if (gTouchScreen) {
            const CellLook *look = nullptr;
            for (const CellLook &l : kLooks)
                if (upper == QLatin1String(l.cls))
                    look = &l;
            if (look) {
                const QString inner = look->bold ? QStringLiteral("<b>") + text + QStringLiteral("</b>") : text;
                text = QStringLiteral("<font face=\"Verdana, Arial, sans-serif\" size=\"2\" color=\"")
                    + QLatin1String(look->font) + QStringLiteral("\">") + inner + QStringLiteral("</font>");
                attributes = QStringLiteral("bgcolor=\"") + QLatin1String(look->background) + QStringLiteral("\" ");
            }
            // A cell of any other class (the status page's text inputs) keeps
            // its content, without the fixed colours.
        } else {
            attributes = QStringLiteral("class=\"") + HtmlText::escape(cls) + QStringLiteral("\" ");
        }
        if (!colspan.isEmpty())
            attributes += QStringLiteral("colspan=\"") + HtmlText::escape(colspan) + QStringLiteral("\" ");
        if (!align.isEmpty())
            attributes += QStringLiteral("align=\"") + HtmlText::escape(align) + QStringLiteral("\" ");
        return QStringLiteral("<td ") + attributes + QStringLiteral(">") + text + QStringLiteral("</td>");
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral(" FormatCell: "));
        return QString();
    }
}

QString TSLinks()
{
    try {
        const QString file = QStringLiteral("settings.ini");
        const QString section = QStringLiteral("Settings");
        FastString out;
        out.Add(QStringLiteral("<p><a href=\"/\">Home</a> | <a href=\"/stat\">Status</a> | <a href=\"/tope\">Events</a> | "
                               "<a href=\"/elog\">Log</a> | <a href=\"/ctrl\">Control Device</a> | <a href=\"/devs\">Poll "
                               "Device</a> | <a href=\"/tvgm\">TV/Video Game</a> | <a href=\"/setp\">Setup</a> | "));
        if (Setting(file, section, QStringLiteral("gLaunchTSPhone")) == QLatin1String("1"))
            out.Add(QStringLiteral(" <a href=\"vmail0\">Messages</a> | "));
        if (Setting(file, section, QStringLiteral("webvenabled")) == QLatin1String("True"))
            out.Add(QStringLiteral("<a href = \"/voic\">Voice</a> | "));
        out.Add(QStringLiteral("<a href=\"/html_help/hlp_contents.htm\">Help</a> "));
        for (int i = 1; i <= 4; ++i) {
            const QString page = Setting(file, section, QStringLiteral("gCustomPageFile") + QString::number(i));
            if (page.isEmpty())
                continue;
            const QString description = Setting(file, section, QStringLiteral("gCustomPageDesc") + QString::number(i));
            const QString prefix = page.startsWith(QLatin1Char('/')) || page.startsWith(QLatin1String("http"))
                ? QString()
                : QStringLiteral("/");
            out.Add(QStringLiteral("| <a href=\"") + HtmlText::escape(HtmlText::safeUrl(prefix + page))
                    + QStringLiteral("\">") + HtmlText::escape(description) + QStringLiteral("</a>"));
        }
        out.Add(QStringLiteral("| <a href=\"/logo\">Log Out</a>"));
        out.Add(QStringLiteral("</p>"));
        return out.Value();
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("TSLinks: "));
        return QString();
    }
}

QString PageScroll(const QString &section)
{
    try {
        QString lines;
        if (section != QLatin1String("Default")) {
            const QStringList parts = section.split(QLatin1Char('|'));
            for (qsizetype i = 0; i < parts.size(); ++i)
                lines += QStringLiteral("wcontent[") + QString::number(i)
                    + QStringLiteral("]=\"<font class='pagescrolltext'>") + parts.at(i) + QStringLiteral("</font>\";");
        } else {
            lines = PageScrollWeatherman();
        }
        if (lines.isEmpty())
            return QString();
        QString script = FileContents(AppFile(QStringLiteral("html/javascript/page_scroll.js")));
        script.replace(QStringLiteral("(******REPLACE_PAGESCROLL******)"), lines);
        return script;
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("PageScroll: "));
        return QString();
    }
}

QString PageScrollWeatherman()
{
    try {
        const QString file = QStringLiteral("WeatherData.ini");
        auto read = [&](const char *section, const char *key) {
            return Setting(file, QString::fromLatin1(section), QString::fromLatin1(key));
        };
        const QString temp = read("WeatherCom_CurrentData", "Temp");
        const QString city = read("WeatherCom_CurrentData", "Report_City");
        const QString condition = read("WeatherCom_CurrentData", "Condition");
        const QString alerts = read("WeatherCom_CurrentData", "AlertIDs");
        const QString high = read("AccuWeather_HighLowData", "High_Temp");
        const QString low = read("AccuWeather_HighLowData", "Low_Temp");
        auto forecast = [&](const char *key) {
            QString text = read("WeatherCom_ExtForecast", key);
            if (text.size() > 215)
                text = text.left(215) + QStringLiteral("...");
            return text;
        };
        const QString forecast0 = forecast("ExtForecast0");
        const QString forecast1 = forecast("ExtForecast1");
        QString style;
        QString alertLink;
        FastString out;
        if (!alerts.isEmpty()) {
            style = QStringLiteral(" style='color: red;' ");
            alertLink = QStringLiteral(" <a href='/weathericons/weatherstats.asp#alerts'>View Alerts</a> ");
            out.Add(QStringLiteral("wcontent[3]= \"<font class='pagescrolltext' ") + style
                    + QStringLiteral(">There are Weather Alerts for ") + weather(city) + QStringLiteral(".</font> ") + alertLink
                    + QStringLiteral(" \"; "));
        }
        out.Add(QStringLiteral("wcontent[0]= \"<font class='pagescrolltext' ") + style + QStringLiteral(">") + weather(city)
                + QStringLiteral(" Currently: ") + weather(condition) + QStringLiteral(" Temp: ") + weather(temp)
                + QStringLiteral("&deg;F  Todays High: ") + weather(high) + QStringLiteral("&deg;F   Todays Low: ")
                + weather(low) + QStringLiteral("&deg;F</font> ") + alertLink + QStringLiteral(" \"; "));
        out.Add(QStringLiteral("wcontent[1]= \"<font class='pagescrolltext' ") + style + QStringLiteral(">Forecast for ")
                + weather(forecast0) + QStringLiteral("</font> ") + alertLink + QStringLiteral(" \"; "));
        out.Add(QStringLiteral("wcontent[2]= \"<font class='pagescrolltext' ") + style + QStringLiteral(">Forecast for ")
                + weather(forecast1) + QStringLiteral("</font> ") + alertLink + QStringLiteral(" \"; "));
        return out.Value();
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("PageScrollWeatherman: "));
        return QString();
    }
}

} // namespace Headers
