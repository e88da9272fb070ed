// The whole program with the controller simulator as its controller over TCP,
// observed from outside: the simulator's recorded frames, the controller
// traffic log, the xAP log messages and the device store after Exit.
#include "KorvaneProcess.h"
#include "XapListener.h"

#include "QuillonSim.h"
#include "SimTcpTransport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

// The devices the configuration dialog creates for this controller: variables
// 0, 5 and 127 on "[" and "\", two points of the SIO16 at 1 on "]", one relay
// of the RELAY08 at 10 on "^".
QByteArray seededStore()
{
    auto line = [](const char* code, const char* location, const char* name, int iotype, const char* iomisc,
                   int misc, const char* type) {
        return QByteArray(code) + "=" + location + ";" + name + ";Veltro Quillon;" + QByteArray::number(iotype) + ";"
            + iomisc + ";" + QByteArray::number(misc) + ";" + type + ";17;0;;;;False\r\n";
    };
    return "[PLUGINDEVICES]\r\n" + line("[1", "Quillon", "Variable 0", 3, "", 0, "Interface Variable")
        + line("[6", "Quillon", "Variable 5", 3, "", 0, "Interface Variable")
        + line("\\64", "Quillon", "Variable 127", 3, "", 0, "Interface Variable")
        + line("]1", "Sio16 Unit 1", "Input 1", 0, "1!11!0!0", 16, "Interface I/O")
        + line("]9", "Sio16 Unit 1", "Relay Output 1", 1, "1!11!8!0", 0, "Interface Output")
        + line("^1", "Rly08 Unit 10", "Relay Output 1", 1, "10!13!0!0", 0, "Interface Output");
}

class PluginProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim.setUnit(1, 11);
        sim.setUnit(3, 6);
        sim.setUnit(5, 12);
        sim.setUnit(10, 13);
        ASSERT_TRUE(tcp.listen());
        sim.attach(&tcp);
        const QByteArray port = QByteArray::number(tcp.port());
        folder.writeFile("Config/tvkXapKorvane.ini",
                         "[TSPI_QUILLON]\r\nCommPort=" + port + "\r\nSerialIP=127.0.0.1\r\n" + seededStore());
        folder.writeFile("Config/xaptvkKorvane.ini",
                         "[TSPI_QUILLON]\r\ncomport=" + port + "\r\nlog_comms=1\r\nlog_errors=1\r\npoll_interval=500\r\n");
    }

    QByteArray trafficLog() const
    {
        QFile f(folder.path() + "/Data/quillon.log");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QByteArray store() const
    {
        QFile f(folder.path() + "/Config/tvkXapKorvane.ini");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The stored line of a device: location;name;interface;iotype;iomisc;misc;type;status;value;...
    QStringList stored(const QByteArray& code) const
    {
        for (const QByteArray& line : store().split('\n'))
            if (line.startsWith(code + "="))
                return QString::fromLatin1(line.mid(code.size() + 1).trimmed()).split(';');
        return {};
    }
    int variablePolls() const
    {
        int n = 0;
        for (const QByteArray& f : sim.framesOf(QuillonSim::FrameKind::BlockRead))
            n += quint8(f[3]) == sim.varBlockHigh && quint8(f[4]) == sim.varBlockLow ? 1 : 0;
        return n;
    }
    bool logEntry(const QString& text) const
    {
        for (const QByteArray& d : xap.received)
            if (d.contains("Tessera.Event") && QString::fromLatin1(d).contains(text))
                return true;
        return false;
    }

    QuillonSim sim;
    SimTcpTransport tcp;
    ProgramFolder folder;
    XapListener xap;
};

TEST_F(PluginProgram, RunsAgainstTheControllerAndKeepsItsDevices)
{
    ASSERT_TRUE(xap.bound);
    auto program = std::make_unique<KorvaneProcess>(folder);
    ASSERT_TRUE(program->running());

    // Start, discovery and the first polls.
    ASSERT_TRUE(waitUntil([&] { return variablePolls() >= 3; }, 60000)) << trafficLog().toStdString();
    EXPECT_TRUE(waitUntil([&] { return logEntry("Unit found: RLY-8 Addr: 10"); }));
    EXPECT_TRUE(logEntry("Found CPU-QX/Quillon"));
    EXPECT_TRUE(logEntry("Registered with Setup"));
    EXPECT_EQ(sim.ioSide, 2); // the I/O side switched on
    EXPECT_TRUE(trafficLog().contains("Unit Mappings: 1!11!]!0,10!13!^!0,")) << trafficLog().toStdString();
    // The seeded relay is off at the controller: the first I/O poll mirrors it.
    EXPECT_TRUE(waitUntil([&] { return trafficLog().contains("SIO16 Setting device ]9 to 3"); }));

    // A variable changed in the controller reaches its device within a poll interval.
    const int pollsBefore = variablePolls();
    sim.vars[5] = 1234;
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(waitUntil([&] { return trafficLog().contains("Setting Var: [6 to 1234"); }, 20000));
    const int pollsTaken = variablePolls() - pollsBefore;
    EXPECT_LE(pollsTaken, 2) << "took " << t.elapsed() << " ms";

    // An input change report updates its device at once, without waiting for a poll.
    const int polls = variablePolls();
    sim.sendIOChange(1, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return trafficLog().contains("Set TS device: ]1 to ON"); }, 20000));
    EXPECT_LE(variablePolls() - polls, 1);

    // The controller server drops the link: the program reconnects and polls again.
    tcp.disconnectClient();
    const int pollsAtDrop = variablePolls();
    ASSERT_TRUE(waitUntil([&] { return tcp.isConnected() && variablePolls() > pollsAtDrop + 2; }, 60000));
    sim.vars[0] = 77;
    ASSERT_TRUE(waitUntil([&] { return trafficLog().contains("Setting Var: [1 to 77"); }, 20000));
    EXPECT_TRUE(program->running());

    // Exit: the link closes and the store keeps the devices with their last state.
    QElapsedTimer exitClock;
    exitClock.start();
    EXPECT_EQ(program->terminate(), 0);
    EXPECT_GE(exitClock.elapsed(), 1500); // the shutdown gives commands in flight two seconds
    ASSERT_TRUE(waitUntil([&] { return !tcp.isConnected(); }));
    const QStringList var5 = stored("[6");
    ASSERT_GE(var5.size(), 9) << store().toStdString();
    EXPECT_EQ(var5[8], "1234");
    EXPECT_EQ(var5[7], "2");
    EXPECT_EQ(stored("]1").value(7), "2");
    EXPECT_EQ(stored("]9").value(4), "1!11!8!0");
    EXPECT_EQ(stored("\\64").value(1), "Variable 127");

    // The next start adopts the same devices.
    QFile::remove(folder.path() + "/Data/quillon.log");
    sim.clearRecord();
    program = std::make_unique<KorvaneProcess>(folder);
    ASSERT_TRUE(waitUntil([&] { return variablePolls() >= 2; }, 60000));
    EXPECT_TRUE(trafficLog().contains("Unit Mappings: 1!11!]!0,10!13!^!0,"));
    sim.vars[127] = 5;
    ASSERT_TRUE(waitUntil([&] { return trafficLog().contains("Setting Var: \\64 to 5"); }, 20000));
    EXPECT_EQ(program->terminate(), 0);
    EXPECT_EQ(stored("[6").value(8), "1234");
    EXPECT_EQ(stored("\\64").value(8), "5");
}

}  // namespace
