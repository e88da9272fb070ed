#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>

#include "controller/link/CommsLog.h"
#include "core/Globals.h"

QStringList& loggedEntries()
{
    static QStringList entries;
    return entries;
}

void startLogCapture()
{
    loggedEntries().clear();
    ControllerLogObserver() = [](const QString& type, const QString& data) {
        loggedEntries() << type + "|" + data;
    };
}

bool logged(const QString& part)
{
    for (const QString& e : loggedEntries())
        if (e.contains(part))
            return true;
    return false;
}

void RecordingHost::SetDeviceStatus(const QString& code, int status)
{
    calls << QString("SetDeviceStatus %1 %2").arg(code).arg(status);
}
void RecordingHost::SetDeviceValue(const QString& code, long value)
{
    calls << QString("SetDeviceValue %1 %2").arg(code).arg(value);
}
void RecordingHost::X10Event(const QString& units, const QString& house, int command, const QString& level,
                             const QString& data)
{
    calls << QString("X10Event %1 %2 %3 [%4] [%5]").arg(units, house).arg(command).arg(level, data);
}
void RecordingHost::IREvent(int location) { calls << QString("IREvent %1").arg(location); }
void RecordingHost::ValueChangeEvent(const QString& code, long value)
{
    calls << QString("ValueChangeEvent %1 %2").arg(code).arg(value);
}
void RecordingHost::xAPIR(long code, int zone, const QString& cls)
{
    calls << QString("xAPIR %1 %2 %3").arg(code).arg(zone).arg(cls);
}

bool waitFor(const std::function<bool()>& cond, int ms)
{
    QDeadlineTimer dl(ms);
    while (!cond()) {
        if (dl.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void LinkFixture::SetUp()
{
    ResetPluginState();
    startLogCapture();
    gAppPath = appDir.path();
    QDir(appDir.path()).mkpath("Data");
    gControllerTiming = ControllerTiming{};
    gControllerTiming.linkSettleMs = 50;
    gControllerTiming.unitTableDelayMs = 50;
    gControllerTiming.parameterDelayMs = 50;
    gControllerTiming.reconnectMs = 300;
    gControllerTiming.clockSyncDelayMs = 100;
    SetControllerHost(&host);
    gPlugin.ReplyTimeout = 1;
    sim = std::make_unique<QuillonSim>();
    sim->setUnit(1, 11);
    sim->setUnit(3, 6);
    sim->setUnit(5, 12);
    sim->setUnit(9, 6);
    sim->setUnit(10, 13);
    link = std::make_unique<CommLink>();
    protocol = std::make_unique<Protocol>(*link);
    start = std::make_unique<ControllerStart>(*link, *protocol);
    x10 = std::make_unique<X10Exec>(*protocol);
    cmds = std::make_unique<HostCommands>(*protocol);
    ir = std::make_unique<IrTransmit>(*protocol);
}

void LinkFixture::TearDown()
{
    ir.reset();
    cmds.reset();
    x10.reset();
    start.reset();
    protocol.reset();
    link.reset();
    sim.reset();
    tcp.reset();
    pty.reset();
    SetControllerHost(nullptr);
}

void LinkFixture::attachSim(Path path)
{
    if (path == Path::Tcp) {
        tcp = std::make_unique<SimTcpTransport>();
        ASSERT_TRUE(tcp->listen());
        sim->attach(tcp.get());
        gPlugin.UseSerialComm = true;
        gPlugin.SerialIPAddress = "127.0.0.1";
        gPlugin.CommPort = QString::number(tcp->port());
    } else {
        pty = std::make_unique<SimPtyTransport>();
        ASSERT_TRUE(pty->open());
        sim->attach(pty.get());
        gPlugin.UseSerialComm = false;
        gPlugin.CommPort = pty->slavePath();
    }
}

void LinkFixture::open(Path path)
{
    attachSim(path);
    link->OpenCommLink();
    ASSERT_TRUE(gPlugin.PortOpenFlag);
    ASSERT_TRUE(gPlugin.CommsStarted);
}
