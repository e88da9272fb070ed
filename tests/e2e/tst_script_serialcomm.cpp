// A user script in the whole program creates the serial-server link class by
// name and talks to a second controller through it.
#include "KorvaneProcess.h"
#include "WaitUntil.h"
#include "XapListener.h"

#include "QuillonSim.h"
#include "SimTcpTransport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Location;name;interface;iotype;iomisc;misc;type;status;value;last change;string;tag;trigger
const char kStore[] =
    "[Received]\r\n"
    "acme.wx.pc~Probe.Request=probe;1\r\n";

// Sets variable 5 of the second controller to 1000, reads the first byte of
// its answer and sets variable 6 to that byte plus 100.
QByteArray script(quint16 port)
{
    return "Sub Main(tag)\r\n"
           "  Dim c, b, v\r\n"
           "  Set c = CreateObject(\"xaptvkKorvane.SerialComm\")\r\n"
           "  c.IP = \"127.0.0.1\"\r\n"
           "  c.CommPort = " + QByteArray::number(port) + "\r\n"
           "  c.InputMode = 1\r\n"
           "  c.InputLen = 1\r\n"
           "  c.RThreshold = 1\r\n"
           "  c.Timeout = 2000\r\n"
           "  c.PortOpen = True\r\n"
           "  If c.PortOpen And c.ComEvent = 7 Then\r\n"
           "    c.Output = Array(&HC8, &H29, 5, &HE8, 3, 0, 0, &HE1)\r\n"
           "    b = c.InputData\r\n"
           "    v = b(0) + 100\r\n"
           "    c.Output = Array(&HC8, &H29, 6, v, 0, 0, 0, (&HC8 + &H29 + 6 + v) Mod 256)\r\n"
           "    b = c.InputData\r\n"
           "  End If\r\n"
           "  c.PortOpen = False\r\n"
           "End Sub\r\n";
}

TEST(ScriptSerialComm, ScriptCreatesTheLinkClassByNameAndTalksToAController)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    SimTcpTransport main, second;
    QuillonSim mainSim, secondSim;
    ASSERT_TRUE(main.listen());
    ASSERT_TRUE(second.listen());
    mainSim.attach(&main);
    secondSim.attach(&second);
    ProgramFolder folder;
    folder.writeFile("Config/tvkXapKorvane.ini",
                     QByteArray(kStore) + "[tspi_quillon]\r\nSerialIP=127.0.0.1\r\nCommPort=" + QByteArray::number(main.port())
                         + "\r\n");
    folder.writeFile("Config/xaptvkKorvane.ini", "[tspi_quillon]\r\npoll_interval=200\r\nPeriodicScriptInterval=off\r\n");
    folder.writeFile("Scripts/xaptvkKorvane.txt", script(second.port()));
    KorvaneProcess program(folder);
    quint16 port = 0;
    ASSERT_TRUE(waitUntil([&] { return (port = boundXapPort(program.pid())) != 0; }, 60000));

    // A probe runs Main("probe"); sent again until the program is ready for it.
    QUdpSocket sender;
    QElapsedTimer since;
    since.start();
    qint64 last = -2000;
    const bool done = waitUntil(
        [&] {
            if (secondSim.vars[6] != 0)
                return true;
            if (since.elapsed() - last >= 3000) {
                last = since.elapsed();
                sender.writeDatagram("xap-header\n{\nv=13\nhop=1\nuid=FF.1234:00\nclass=Probe.Request\nsource=acme.wx.pc\n}\n"
                                     "probe\n{\nx=1\n}\n",
                                     QHostAddress(QHostAddress::LocalHost), port);
            }
            return false;
        },
        60000);
    QByteArray logs;
    for (const QByteArray &d : listener.received)
        if (d.contains("Event.Log"))
            logs += d.mid(d.indexOf("Data=")).split('\n').value(0) + "\n";
    QFile file(folder.logFile());
    if (file.open(QIODevice::ReadOnly))
        logs += file.readAll();
    ASSERT_TRUE(done) << "the script never answered; " << second.accepted() << " connections, "
                      << secondSim.received.size() << " frames; log:\n" << logs.toStdString();
    EXPECT_EQ(secondSim.vars[5], 1000) << "the frame did not reach the second controller";
    EXPECT_EQ(secondSim.vars[6], 0x06 + 100) << "the script did not read the second controller's answer";
    EXPECT_EQ(program.terminate(), 0);
}

} // namespace
