// The setup block on fixed data, byte for byte.
#include "FormFixture.h"

#include "web/status/SetupBlock.h"

#include "core/FastString.h"
#include "host/HostGlobals.h"
#include "host/IniCache.h"
#include "web/chrome/Headers.h"

namespace {

// One ordinary (not touch-screen) cell as the chrome writes it.
QString cell(const QString &text, const QString &cls, const QString &span, const QString &align)
{
    QString attrs = QStringLiteral("class=\"") + cls + QStringLiteral("\" ");
    if (!span.isEmpty())
        attrs += QStringLiteral("colspan=\"") + span + QStringLiteral("\" ");
    if (!align.isEmpty())
        attrs += QStringLiteral("align=\"") + align + QStringLiteral("\" ");
    return QStringLiteral("<td ") + attrs + QStringLiteral(">") + text + QStringLiteral("</td>");
}

QString odd(const QString &text, const char *span = "1", const char *align = "Center")
{
    return cell(text, QStringLiteral("TABLEROWODD"), QString::fromLatin1(span), QString::fromLatin1(align));
}

QString head(const QString &text, const char *span = "3")
{
    return cell(text, QStringLiteral("TABLEHEADER"), QString::fromLatin1(span), QStringLiteral("Center"))
        + (QString::fromLatin1(span) == QLatin1String("3") ? QStringLiteral("</tr><tr>") : QString());
}

struct Values
{
    QString serialIP, commPort = QStringLiteral("1"), poll = QStringLiteral("2000"), period = QStringLiteral("0"), port = QStringLiteral("8010"),
                      background = QStringLiteral("#000000"), style = QStringLiteral("StyleNoBody.css");
    bool debug = false;
    QString errors, comms, recognition, project, qpro, irpro;
};

// The hidden field beside a setting with the value it shows.
QString shown(const char *name, const QString &value)
{
    return QStringLiteral("<input type='hidden' name='") + QLatin1String(name) + QStringLiteral("Shown' value='") + value
        + QStringLiteral("'>");
}

QString box(const QString &checked)
{
    return checked.contains(QLatin1String("checked")) ? QStringLiteral("1") : QStringLiteral("0");
}

// The block as the page carries it, with the unit rows given.
QString expected(const QString &unitRows, const Values &v)
{
    QString s = QStringLiteral("<Table width='600' border='5' frame='box'><tr>");
    s += head(QStringLiteral("Setup Options")) + head(QStringLiteral("Actions"));
    s += odd(QStringLiteral("<input type='submit'  value='Sync to System Map' name='Sync'>"));
    s += odd(QStringLiteral("<input type='submit'  value='Create Kestrel' name='Kestrel'>"));
    s += odd(QStringLiteral("<input type='submit'  value='Set Clock' name='Clock'>"));
    s += QStringLiteral("</tr><tr>&nbsp;</tr><tr>&nbsp;</tr><tr>");
    s += head(QStringLiteral("Unit"), "2") + head(QStringLiteral("Invert Inputs"), "1") + QStringLiteral("</tr><tr>");
    s += odd(QStringLiteral("0&nbsp;Quillon/CPU-QX/Kestrel"), "2", "Left") + odd(QStringLiteral("&nbsp;"))
        + QStringLiteral("</tr><tr>");
    s += unitRows;
    s += head(QStringLiteral("Connectivity"));
    s += odd(QStringLiteral("Serial Comm IP Address<br><input type='text' size='16' value='") + v.serialIP
             + QStringLiteral("' name='SerialIP'>") + shown("SerialIP", v.serialIP));
    s += odd(QStringLiteral("Serial Comm Port<br><input type='text' size='3' value='") + v.commPort
             + QStringLiteral("' name='CommPort'>") + shown("CommPort", v.commPort));
    s += odd(QStringLiteral("Variables Poll Interval<br><input type='text' size='4' value='") + v.poll
             + QStringLiteral("' name='poll_interval'>") + shown("poll_interval", v.poll));
    s += QStringLiteral("</tr><tr>") + head(QStringLiteral("Script Control / Debug"));
    s += odd(QStringLiteral("Periodic Script Interval&nbsp;<input type='text' name='periodicscriptinterval' value='")
             + v.period + QStringLiteral("' size='6'>&nbsp;seconds") + shown("periodicscriptinterval", v.period));
    s += odd(QStringLiteral("<input type='checkbox' name ='DebugLog' value='1'")
                 + (v.debug ? QStringLiteral(" checked ") : QStringLiteral(" ")) + QStringLiteral(">&nbsp;Debug")
                 + shown("DebugLog", v.debug ? "1" : "0"),
             "1", "Left");
    s += odd(QStringLiteral("&nbsp;"), "1", "Left");
    s += QStringLiteral("</tr><tr>") + head(QStringLiteral("HTTP / Browser"));
    s += odd(QStringLiteral("HTTP Server Port<br><input type='text' size='4' value='") + v.port
             + QStringLiteral("' name='ServerPort'>") + shown("ServerPort", v.port));
    s += odd(QStringLiteral("Browser Background<br><input type='text' size='8' value='") + v.background
             + QStringLiteral("' name='Background'>") + shown("Background", v.background));
    s += odd(QStringLiteral("Style Sheet<br><input type='text' size='18' value='") + v.style
             + QStringLiteral("' name='StyleSheet'>") + shown("StyleSheet", v.style));
    s += QStringLiteral("</tr><tr>") + head(QStringLiteral("Logging / IR Recognition"));
    s += odd(QStringLiteral("Log Checksum and Timeout Errors<br><input type='checkbox' name ='log_errors'") + v.errors
             + QStringLiteral(">") + shown("log_errors", box(v.errors)));
    s += odd(QStringLiteral("Log Comm Errors<br><input type='checkbox' name ='log_comms'") + v.comms + QStringLiteral(">")
             + shown("log_comms", box(v.comms)));
    s += odd(QStringLiteral("Do Not Forward IR Recognition<br><input type='checkbox' name ='Recognition'") + v.recognition
             + QStringLiteral(">") + shown("Recognition", box(v.recognition)));
    s += QStringLiteral("</tr><tr>") + head(QStringLiteral("QPRO-Related Files"));
    s += odd(QStringLiteral("Project File&nbsp;<input type='text' size='70' value='") + v.project
                 + QStringLiteral("' name='ProjectFile'>") + shown("ProjectFile", v.project),
             "3", "Right");
    s += QStringLiteral("</tr><tr>");
    s += odd(QStringLiteral("QPRO Executable&nbsp;<input type='text' size='70' value='") + v.qpro
                 + QStringLiteral("' name='QPROFile'>") + shown("QPROFile", v.qpro),
             "3", "Right");
    s += QStringLiteral("</tr><tr>");
    s += odd(QStringLiteral("IRPro Executable&nbsp;<input type='text' size='70' value='") + v.irpro
                 + QStringLiteral("' name='IRPROFile'>") + shown("IRPROFile", v.irpro),
             "3", "Right");
    s += QStringLiteral("</tr></table>");
    return s;
}

QString unitRow(int n, const char *type, const QString &invertCell)
{
    return odd(QString::number(n) + QStringLiteral("&nbsp;") + QString::fromLatin1(type), "2", "Left") + odd(invertCell)
        + QStringLiteral("</tr><tr>");
}

QString invertBox(const char *checked, int pos)
{
    return QStringLiteral("<input type='checkbox' ") + QString::fromLatin1(checked) + QStringLiteral(" name='Y")
        + QString::number(pos) + QStringLiteral("'><input type='hidden' name='Y") + QString::number(pos)
        + QStringLiteral("Shown' value='") + (*checked ? QLatin1Char('1') : QLatin1Char('0')) + QStringLiteral("'>");
}

class SetupBlock : public FormFixture
{
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        startPlugin(); // the plug-in's own settings are read through the host it registered with
    }
    QString block()
    {
        Headers::gTouchScreen = false;
        FastString page;
        page.Add("before|");
        AddSetup(page);
        const QString text = page.Value();
        EXPECT_TRUE(text.startsWith(QLatin1String("before|")));
        return text.mid(7);
    }
};

} // namespace

TEST_F(SetupBlock, NoModulesAndDefaultSettings)
{
    gPlugin.UnitTypes = {};
    Values v;
    v.port = QString::number(webPort);
    EXPECT_EQ(block(), expected(QString(), v));
}

TEST_F(SetupBlock, UnitRowsInvertPositionsAndStoredSettings)
{
    gPlugin.UnitTypes = {};
    gPlugin.UnitTypes[2] = 6;   // unit 3 SIO16IR: no box, no position
    gPlugin.UnitTypes[4] = 11;  // unit 5 SIO16: Y0
    gPlugin.UnitTypes[8] = 13;  // unit 9 RLY-8: no box, takes position 1
    gPlugin.UnitTypes[11] = 12; // unit 12 SIO16I: Y2
    gPlugin.UnitTypes[20] = 7;  // an unknown type: no row
    gPlugin.UnitTypes[127] = 11; // unit 128: Y3
    gPlugin.UnitMaps = {umap{5, 11, QStringLiteral("Q"), 0}, umap{5, 11, QStringLiteral("Q"), 1},
                        umap{12, 12, QStringLiteral("S"), 0}, umap{128, 11, QStringLiteral("T"), 1}};
    gPlugin.DebugLogFlag = true;
    writeConfig("tvkXapKorvane.ini",
                "[tspi_quillon]\r\nSerialIP=\"10.0.0.9\"\r\nCommPort=\"4001\"\r\nHTTPPort=\"81\"\r\n"
                "Background=\"#FF0000\"\r\nStyleSheet=x.css\r\n");
    writeConfig("xaptvkKorvane.ini",
                "[tspi_quillon]\r\npoll_interval=750\r\nperiodicscriptinterval=30\r\nlog_errors=01\r\nlog_comms=1\r\n"
                "Recognition=1\r\nProjectFile=C:\\it's <here>.qpr\r\nQPROFile=\"q.exe\"\r\n");
    HostIniCache().reset();

    Values v;
    v.serialIP = QStringLiteral("10.0.0.9");
    v.commPort = QStringLiteral("4001");
    v.poll = QStringLiteral("750");
    v.period = QStringLiteral("30");
    v.port = QStringLiteral("81");
    v.background = QStringLiteral("#FF0000");
    v.style = QStringLiteral("x.css");
    v.debug = true;
    v.errors = QString(); // "01" is not "1"
    v.comms = QStringLiteral(" checked");
    v.recognition = QStringLiteral(" checked");
    v.project = QStringLiteral("C:\\it&#39;s &lt;here&gt;.qpr");
    v.qpro = QStringLiteral("&quot;q.exe&quot;"); // only the host file's fields lose their quotes
    const QString units = unitRow(3, "SIO16IR", QStringLiteral("&nbsp;")) + unitRow(5, "SIO16", invertBox("checked", 0))
        + unitRow(9, "RLY-8", QStringLiteral("&nbsp;")) + unitRow(12, "SIO16I", invertBox("", 2))
        + unitRow(128, "SIO16", invertBox("checked", 3));
    const QString text = block();
    EXPECT_EQ(text, expected(units, v));
    EXPECT_EQ(GetInvertChecked(5), QStringLiteral("checked"));
    EXPECT_EQ(GetInvertChecked(12), QString());
    EXPECT_EQ(GetInvertChecked(7), QString());
}
