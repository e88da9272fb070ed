// A careless user script in the whole program: a huge longitude, a string doubled without
// end, lists of a record set to Nothing, a long WaitSecs and an include fan-out. Each ends
// with a run error or at once; the program answers afterwards, serves its status page and
// stops on SIGTERM with its records saved.
#include "BridgeRig.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace {

const char kStore[] =
    "[PluginDevices]\r\n"
    "Q5=Hall;Temp;Veltro Quillon;3;;0;Variable;3;21;;;hall;False\r\n"
    "R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;cellar;False\r\n"
    "[Received]\r\n"
    "acme.wx.pc:roof~Weather.Report=roof;1\r\n"
    "acme.wx.pc~Probe.Request=probe;1\r\n";

const char kScript[] =
    "#include \"g1.txt\"\r\n"
    "Sub Main(tag)\r\n"
    "  Select Case tag\r\n"
    "    Case \"roof\"\r\n"
    "      Set r = xap.Request(\"LastEvent\")\r\n"
    "      Set r.MessageList = Nothing\r\n"
    "      Set r.MessageKeyList = Nothing\r\n"
    "      xap.ComputeSunriseAndSunset 51.5, 1E+15, 0, False\r\n"
    "      Response \"cellar\", G9(0) - 2\r\n"
    "      m = \"x\"\r\n"
    "      Do\r\n"
    "        m = m & m\r\n"
    "      Loop\r\n"
    "    Case \"probe\"\r\n"
    "      xap.WaitSecs 1000\r\n"
    "  End Select\r\n"
    "End Sub\r\n";

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

QByteArray httpGet(quint16 port, const QByteArray &target)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return QByteArray();
    socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray reply;
    waitUntil([&] {
        reply += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }, 20000);
    return reply + socket.readAll();
}

}  // namespace

TEST(HostileScripts, EachEndsAndTheProgramAnswersServesAndStops)
{
    BridgeRig rig;
    const quint16 httpPort = freePort();
    rig.store = kStore;
    rig.bridgeSettings = "HTTPPort=" + QByteArray::number(httpPort) + "\r\n";
    rig.pluginSettings += "PeriodicScriptInterval=off\r\n";
    rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"), kScript);
    for (int n = 1; n <= 9; ++n) {
        QByteArray text;
        for (int k = 0; n < 9 && k < 4; ++k)
            text += "#include \"g" + QByteArray::number(n + 1) + ".txt\"\r\n";
        text += "Function G" + QByteArray::number(n) + "(p)\r\n  G" + QByteArray::number(n) + " = " + QByteArray::number(n)
            + "\r\nEnd Function\r\n";
        rig.folder.writeFile(QStringLiteral("Scripts/g%1.txt").arg(n), text);
    }
    ASSERT_TRUE(rig.start()) << "the program did not come up";

    // The sun call returns at once (the cellar gets 9 - 2), then the doubling string ends
    // in "Out of string space".
    const QByteArray report = rig.message(QStringLiteral("Weather.Report"), QString(),
                                          {{"weather.report", {"TempC=21.5"}}}, QStringLiteral("acme.wx.pc:roof"));
    qint64 last = -10000;
    ASSERT_TRUE(waitUntil([&] {
        if (rig.sim.vars[64] == 7)
            return true;
        if (rig.elapsedMs() - last > 5000) {
            last = rig.elapsedMs();
            rig.send(report);
        }
        return false;
    }, 60000)) << "cellar is " << rig.sim.vars[64];
    const auto logged = [&](const QByteArray &text) {
        for (const QByteArray &d : rig.of(QStringLiteral("Tessera.Event")))
            if (d.contains(text))
                return true;
        return false;
    };
    EXPECT_TRUE(waitUntil([&] { return logged("Script Run Error 14 - Out of string space"); }, 30000));
    EXPECT_TRUE(logged("ComputeSunriseAndSunset"));

    // The program answers, and its status page shows the record whose lists are Nothing.
    const qsizetype echoes = rig.of(QStringLiteral("WDT.Echo")).size();
    rig.send(rig.message(QStringLiteral("WDT.Echo"), rig.source, {{"Echo.Query", {"Query=after"}}}, QStringLiteral("acme.pinger.pc")));
    EXPECT_TRUE(waitUntil([&] { return rig.of(QStringLiteral("WDT.Echo")).size() > echoes; }, 5000));
    EXPECT_TRUE(httpGet(httpPort, "/status").startsWith("HTTP/1.1 200")) << "no status page";

    // A script waiting 1000 s does not hold SIGTERM back.
    rig.send(rig.message(QStringLiteral("Probe.Request"), QString(), {{"probe", {"x=1"}}}, QStringLiteral("acme.wx.pc")));
    waitUntil([] { return false; }, 1500);
    QElapsedTimer stopping;
    stopping.start();
    EXPECT_EQ(rig.program->terminate(), 0);
    EXPECT_LT(stopping.elapsed(), 5000);
    QFile store(rig.folder.path() + QStringLiteral("/Config/tvkXapKorvane.ini"));
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    EXPECT_TRUE(store.readAll().contains("\r\nroof=")) << "the records were not saved";
    rig.program.reset();
}
