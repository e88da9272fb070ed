// Time to carry out the Save of the status page for a full and a small
// controller, median of 20 posts; run from a release build (not under CTest).
#include "FormFixture.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

#include "web/Request.h"
#include "web/StatusPageHook.h"
#include "web/chrome/Headers.h"
#include "web/status/PostedForm.h"
#include "web/status/StatusPage.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>

namespace {

QString hex2(int v)
{
    return QString::number(v, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

class SaveBench : public FormFixture
{
protected:
    Fields rows;

    void addVariable(int n)
    {
        const QString disp = QStringLiteral("V") + QString::number(n) + QLatin1Char(':') + hex2(n + 1);
        rows += {{disp + "DC", variableCode(n)}, {disp + "Used", "on"}, {disp + "Tag", "v" + QString::number(n)}};
    }
    void addPoints(int k, const QString &hc)
    {
        for (int p = 0; p < 16; ++p) {
            const int n = k * 16 + p;
            const QString disp = QStringLiteral("X") + QString::number(n) + QLatin1Char(':') + hex2(n + 129);
            rows += {{disp + "DC", hc + QString::number(p + 1)}, {disp + "Used", "on"}, {disp + "Tag", "io" + QString::number(n)}};
        }
    }
    void addX10(const QString &code)
    {
        addDevice(code, 0, "");
        rows += {{code + "DC", code}, {code + "Used", "on"}, {code + "Tag", "x" + code}};
    }
    void addIR(int loc)
    {
        rows += {{"IR" + QString::number(loc) + "DC", "R" + QString::number(loc)},
                 {"IR" + QString::number(loc) + "Tag", "ir" + QString::number(loc)}};
    }

    static double median(std::vector<double> ms)
    {
        std::sort(ms.begin(), ms.end());
        return ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
    }

    // What a browser posts for the page with no button pressed: text and
    // hidden fields and the ticked boxes.
    static Fields collect(const QString &page)
    {
        Fields fields;
        const QRegularExpression input(QStringLiteral("<input\\b[^>]*>"), QRegularExpression::CaseInsensitiveOption);
        auto attribute = [](const QString &tag, const char *name) {
            const QRegularExpression re(QStringLiteral("\\b") + QLatin1String(name) + QStringLiteral("\\s*=\\s*'([^']*)'"),
                                        QRegularExpression::CaseInsensitiveOption);
            const QRegularExpressionMatch m = re.match(tag);
            return m.hasMatch() ? m.captured(1) : QString();
        };
        for (auto it = input.globalMatch(page); it.hasNext();) {
            const QString tag = it.next().captured(0);
            const QString type = attribute(tag, "type").toLower();
            const QString name = attribute(tag, "name");
            if (name.isEmpty() || type == QLatin1String("submit") || type == QLatin1String("button"))
                continue;
            if (type == QLatin1String("checkbox")) {
                if (tag.contains(QLatin1String(" checked")))
                    fields.append({name, attribute(tag, "value").isEmpty() ? QStringLiteral("on") : attribute(tag, "value")});
                continue;
            }
            fields.append({name, attribute(tag, "value")});
        }
        return fields;
    }

    // The whole page for every point (nothing hidden by Show Only Used), then
    // the Save of that page as a browser posts it.
    void measurePage(const char *what)
    {
        gPlugin.IncludeVariables = gPlugin.IncludeIO = gPlugin.IncludeIR = gPlugin.IncludeX10 = true;
        gPlugin.IncludeSetup = true;
        gPlugin.ShowOnlyUsed = false;
        for (const char *key : {"IncludeVariables", "IncludeIO", "IncludeIR", "IncludeX10", "IncludeSetup"})
            hs->saveIniSetting(QStringLiteral("tspi_quillon"), QString::fromLatin1(key), QStringLiteral("1"),
                               QStringLiteral("xaptvkKorvane.ini"));
        hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("ShowOnlyUsed"), QStringLiteral("0"),
                           QStringLiteral("xaptvkKorvane.ini"));
        std::vector<double> build, save;
        QString page;
        SetStatusPageBuilder([&](Request &request, Response &response) {
            Headers::RunPageSetup(request, response);
            QElapsedTimer t;
            t.start();
            const bool posted = !request.Form(QStringLiteral("UpdateButton")).isEmpty();
            if (posted) {
                ClientRequest();
                save.push_back(double(t.nsecsElapsed()) / 1e6);
                return QStringLiteral("<html></html>");
            }
            page = Status_ASP();
            build.push_back(double(t.nsecsElapsed()) / 1e6);
            return page;
        });
        const QByteArray get = "GET /stat HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(webPort) + "\r\n\r\n";
        for (int run = 0; run < 20; ++run) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, webPort);
            ASSERT_TRUE(waitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 15000));
            socket.write(get);
            waitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 30000);
        }
        ASSERT_EQ(build.size(), 20u);
        Fields form = collect(page);
        form += {{"UpdateButton", "Save Changes"}};
        const int rowsShown = int(page.count(QStringLiteral("DC'>")));
        for (int run = 0; run < 20; ++run)
            ASSERT_TRUE(post(form).startsWith("HTTP/1.1 200"));
        ASSERT_EQ(save.size(), 20u);
        std::printf("%s: page of %d rows, %lld bytes, built in median %.1f ms (min %.1f); its Save (%d fields, %d bytes) "
                    "median %.1f ms over 20 posts\n",
                    what, rowsShown, qint64(page.toUtf8().size()), median(build), *std::min_element(build.begin(), build.end()),
                    int(form.size()), int(encode(form).size()), median(save));
    }

    void measure(const char *what)
    {
        gPlugin.IncludeVariables = gPlugin.IncludeIO = gPlugin.IncludeIR = gPlugin.IncludeX10 = true;
        Fields form{{"clientinput", "yes"}, {"clientvalue", "yes"}, {"UpdateButton", "Save Changes"},
                    {"IncludeVariables", "1"}, {"IncludeIO", "1"}, {"IncludeIR", "1"}, {"IncludeX10", "1"}};
        form += rows;
        form += {{"MAC1DC", "1,2"}, {"MAC1", "Macro"}, {"N1", "1,2"}, {"MAC0DC", "0"}, {"MAC0", ""}, {"N0", "Undefined"}};
        // The Save alone: the page built after it is left out.
        std::vector<double> ms;
        SetStatusPageBuilder([&ms](Request &request, Response &response) {
            Headers::RunPageSetup(request, response);
            QElapsedTimer t;
            t.start();
            ClientRequest();
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
            return QStringLiteral("<html></html>");
        });
        for (int run = 0; run < 20; ++run)
            ASSERT_TRUE(post(form).startsWith("HTTP/1.1 200"));
        ASSERT_EQ(ms.size(), 20u);
        std::sort(ms.begin(), ms.end());
        std::printf("%s: %d fields, %d bytes posted, Save median %.1f ms (min %.1f, max %.1f) over 20 posts\n", what,
                    int(form.size()), int(encode(form).size()), (ms[9] + ms[10]) / 2, ms.front(), ms.back());
    }
};

} // namespace

TEST_F(SaveBench, FullController)
{
    for (int unit = 11; unit <= 13; ++unit)
        sim->setUnit(unit, 11);
    sim->setUnit(14, 13);
    sim->setUnit(15, 12);
    startAll();
    QList<int> vars;
    for (int n = 0; n < 128; ++n)
        vars << n;
    QList<QPair<int, int>> points;
    for (int unit : {1, 5, 10, 11, 12, 13, 14, 15})
        for (int p = 0; p < 16; ++p)
            points.append({unit, p});
    selectAndCreate(vars, points);
    gIRMacroDictionary->add(Variant(QStringLiteral("Macro")), Variant(QStringLiteral("1,2")));
    for (int n = 0; n < 128; ++n)
        addVariable(n);
    for (int k = 0; k < gPlugin.UnitMaps.size(); ++k)
        addPoints(k, gPlugin.UnitMaps.at(k).hc);
    for (int h = 0; h < 16; ++h)
        for (int u = 1; u <= 16; ++u)
            addX10(QString(QChar('A' + h)) + QString::number(u));
    for (int loc = 0; loc < 1024; ++loc)
        addIR(loc);
    std::printf("full controller: %d unit mappings\n", int(gPlugin.UnitMaps.size()));
    measure("full controller");
    measurePage("full controller, whole page");
}

TEST_F(SaveBench, SmallController)
{
    startAll();
    selectAndCreate({0, 1}, {{1, 0}});
    gIRMacroDictionary->add(Variant(QStringLiteral("Macro")), Variant(QStringLiteral("1,2")));
    addVariable(0);
    addVariable(1);
    for (int k = 0; k < gPlugin.UnitMaps.size(); ++k)
        if (gPlugin.UnitMaps.at(k).unit == 1)
            addPoints(k, gPlugin.UnitMaps.at(k).hc);
    for (const char *code : {"A1", "A2", "B5"})
        addX10(QString::fromLatin1(code));
    addIR(0);
    addIR(1);
    measure("small controller");
}
