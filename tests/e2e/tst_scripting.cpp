// The user script in the whole program: a filter hit and a tagged controller
// variable run Main, which reads the tagged record and drives the simulated
// controller; the records are there again after Exit and a restart.
#include "KorvaneProcess.h"
#include "XapListener.h"

#include <QElapsedTimer>

#include "QuillonSim.h"
#include "SimTcpTransport.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Location;name;interface;iotype;iomisc;misc;type;status;value;last change;string;tag;trigger
const char kStore[] =
    "[PluginDevices]\r\n"
    "Q5=Hall;Temp;Veltro Quillon;3;;0;Variable;3;21;;;hall;True\r\n"
    "R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;cellar;False\r\n"
    "[Received]\r\n"
    "acme.wx.pc:roof~Weather.Report=roof;1\r\n"
    "acme.wx.pc~Probe.Request=probe;1\r\n";

const char kScript[] =
    "' Reports reach the cellar variable through the point's tag.\r\n"
    "Sub Main(tag)\r\n"
    "  Dim items, keys, changed\r\n"
    "  Select Case tag\r\n"
    "    Case \"roof\"\r\n"
    "      Set items = xap.Request(\"roof\")\r\n"
    "      Set keys = TagList(\"roof\")\r\n"
    "      Response \"cellar\", items(keys(2))\r\n"
    "    Case \"hall\"\r\n"
    "      Set changed = xap.Request(\"LastEvent\").MessageList\r\n"
    "      Response \"cellar\", 1000 + CLng(changed(\"value\"))\r\n"
    "    Case \"probe\"\r\n"
    "      If Sequence(\"roof\") = 0 Then Response \"cellar\", 5000 + Request(\"roof\")(\"weather.report.level\")\r\n"
    "  End Select\r\n"
    "End Sub\r\n";

// The program's xAP traffic is not listened to: the test sends to the
// program's own receive port and watches the controller.
class ScriptingE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(transport.listen());
        sim.attach(&transport);
        sim.vars[4] = 21;
        folder.writeFile("Config/tvkXapKorvane.ini", QByteArray(kStore) + "[tspi_quillon]\r\nSerialIP=127.0.0.1\r\nCommPort="
                                                         + QByteArray::number(transport.port()) + "\r\n");
        folder.writeFile("Config/xaptvkKorvane.ini", "[tspi_quillon]\r\npoll_interval=200\r\nPeriodicScriptInterval=off\r\n");
        folder.writeFile("Scripts/xaptvkKorvane.txt", kScript);
    }

    bool start()
    {
        program = std::make_unique<KorvaneProcess>(folder);
        port = 0;
        return waitUntil([&] { return (port = boundXapPort(program->pid())) != 0; }, 60000);
    }
    void send(const QByteArray &cls, const QByteArray &source, const QByteArray &body)
    {
        const QByteArray text = "xap-header\n{\nv=13\nhop=1\nuid=FF.1234:00\nclass=" + cls + "\nsource=" + source + "\n}\n" + body;
        sender.writeDatagram(text, QHostAddress(QHostAddress::LocalHost), port);
    }
    // Sends until the cellar variable reads `value`: a message that comes
    // while the program is still starting finds no record to store into.
    bool sendUntilCellar(const QByteArray &cls, const QByteArray &source, const QByteArray &body, int value)
    {
        QElapsedTimer since;
        since.start();
        qint64 last = -2000;
        return waitUntil(
            [&] {
                if (sim.vars[64] == value)
                    return true;
                if (since.elapsed() - last >= 1000) {
                    last = since.elapsed();
                    send(cls, source, body);
                }
                return false;
            },
            60000);
    }
    QByteArray ini() const
    {
        QFile f(folder.path() + "/Config/tvkXapKorvane.ini");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    ProgramFolder folder;
    SimTcpTransport transport;
    QuillonSim sim;
    std::unique_ptr<KorvaneProcess> program;
    QUdpSocket sender;
    quint16 port = 0;
};

TEST_F(ScriptingE2E, FilterHitsAndTaggedChangesRunTheScriptAndRecordsSurviveARestart)
{
    ASSERT_TRUE(start()) << "the program did not bind its xAP port";

    // A matching report: Main("roof") sends its second item to the cellar variable.
    ASSERT_TRUE(sendUntilCellar("Weather.Report", "acme.wx.pc:roof", "weather.report\n{\nTempC=21.5\nLevel=321\n}\n", 321))
        << "cellar is " << sim.vars[64];
    // Another sub-address matches no filter.
    send("Weather.Report", "acme.wx.pc:attic", "weather.report\n{\nTempC=1\nLevel=9\n}\n");

    // The hall variable changes on the controller: its poll runs Main("hall").
    sim.vars[4] = 55;
    ASSERT_TRUE(waitUntil([&] { return sim.vars[64] == 1055; }, 20000)) << "cellar is " << sim.vars[64];

    EXPECT_EQ(program->terminate(), 0);
    const QByteArray saved = ini();
    EXPECT_TRUE(saved.contains("\r\nroof.weather.report.Level=321\r\n")) << saved.constData();
    EXPECT_TRUE(QRegularExpression("\r\nroof=[^;\r]+;weather\\.report\\.TempC;weather\\.report\\.Level\r\n")
                    .match(QString::fromLatin1(saved))
                    .hasMatch())
        << saved.constData();
    EXPECT_FALSE(saved.contains("Level=9")) << "the attic's report was stored";

    // After a restart the script reads the record loaded from the file.
    ASSERT_TRUE(start());
    ASSERT_TRUE(sendUntilCellar("Probe.Request", "acme.wx.pc", "probe\n{\nx=1\n}\n", 5321)) << "cellar is " << sim.vars[64];
    EXPECT_EQ(program->terminate(), 0);
}

// Bytes 128-159 of a received value are the code page's characters in the script (Asc 128,
// equal to Chr(128)), the script's Chr(128) & Chr(150) goes out as those two bytes, and the
// record written at Exit reads back the same after a restart.
TEST_F(ScriptingE2E, CodePageBytesPassBetweenTheWireAndTheScriptUnchanged)
{
    folder.writeFile("Scripts/xaptvkKorvane.txt",
                     "Sub Main(tag)\r\n"
                     "  Dim v\r\n"
                     "  If tag = \"roof\" Or tag = \"probe\" Then\r\n"
                     "    v = Request(\"roof\")(\"weather.report.sign\")\r\n"
                     "    xap.WriteLog \"codepage \" & tag, Asc(v) & \"|\" & (Left(v, 1) = Chr(128)) & \"|\" & v & \"|\" & Chr(128) & Chr(150)\r\n"
                     "  End If\r\n"
                     "End Sub\r\n");
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    // The log entry of the script's run for `tag`, sending the message until it comes.
    auto logOf = [&](const QByteArray &tag, const QByteArray &cls, const QByteArray &source, const QByteArray &body) {
        QByteArray found;
        QElapsedTimer since;
        since.start();
        qint64 last = -2000;
        waitUntil(
            [&] {
                for (const QByteArray &d : listener.received)
                    if (d.contains("\nType=codepage " + tag + "\n"))
                        found = d;
                if (!found.isEmpty())
                    return true;
                if (since.elapsed() - last >= 1000) {
                    last = since.elapsed();
                    send(cls, source, body);
                }
                return false;
            },
            60000);
        return found;
    };
    const QByteArray expected = "\nData=128|True|\x80\x96|\x80\x96\n";

    ASSERT_TRUE(start()) << "the program did not bind its xAP port";
    const QByteArray first = logOf("roof", "Weather.Report", "acme.wx.pc:roof", "weather.report\n{\nSign=\x80\x96\n}\n");
    ASSERT_FALSE(first.isEmpty()) << "the script did not run";
    EXPECT_TRUE(first.contains(expected)) << first.toHex(' ').toStdString();
    EXPECT_EQ(program->terminate(), 0);
    const QByteArray saved = ini();
    EXPECT_TRUE(saved.contains("\r\nroof.weather.report.Sign=\x80\x96\r\n")) << saved.toHex(' ').toStdString();

    listener.received.clear();
    ASSERT_TRUE(start());
    const QByteArray second = logOf("probe", "Probe.Request", "acme.wx.pc", "probe\n{\nx=1\n}\n");
    ASSERT_FALSE(second.isEmpty()) << "the script did not run after the restart";
    EXPECT_TRUE(second.contains(expected)) << second.toHex(' ').toStdString();
    EXPECT_EQ(program->terminate(), 0);
}

} // namespace
