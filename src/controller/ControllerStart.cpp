#include "ControllerStart.h"
#include "link/CommLink.h"
#include "link/CommsLog.h"
#include "link/Frames.h"
#include "PluginState.h"
#include "Protocol.h"

#include "core/Globals.h"
#include "core/Shutdown.h"

#include <exception>

namespace {
const QString kType = "xaptvkKorvane";
const QString kTimeout = "Timeout from CPU-QX/Quillon";

} // namespace

ControllerStart::ControllerStart(CommLink& link, Protocol& protocol, QObject* parent)
    : QObject(parent), m_link(link), m_protocol(protocol)
{
    m_clockSync.setSingleShot(true);
    connect(&m_clockSync, &QTimer::timeout, this, &ControllerStart::SetClock);
    m_rediscoverRetry.setSingleShot(true);
    m_rediscoverRetry.setInterval(500);
    connect(&m_rediscoverRetry, &QTimer::timeout, this, &ControllerStart::Rediscover);
}

QString ControllerStart::InitCPUQX()
{
    if (gPlugin.CommsStarted)
        return "";
    try {
        gPlugin.ReplyTimeout = gControllerTiming.startReplyTimeout;
        gPlugin.PresetDimTable = {12, 13, 14, 15, 2, 3, 0, 1, 4, 5, 6, 7, 10, 11, 8, 9};
        if (m_openRefused)
            return kTimeout; // this start tried the link already
        m_link.OpenCommLink();
        if (!gPlugin.PortOpenFlag) {
            // Nothing can answer on a link that did not open: the wait is the
            // link's own connect time-out, not every reply time-out after it.
            // The link keeps retrying; discovery runs when it comes up.
            m_openRefused = m_oneStart;
            gPlugin.DiscoveryTried = true;
            gPlugin.DiscoveryComplete = false;
            gPlugin.InterfaceStatusWord = 1;
            // Each side opens the link on its own start: one entry per outage,
            // none when the link has already said why it is down.
            m_link.outage().report(kType, "Quillon Plug-in Error, the link to the CPU-QX/Quillon did not open");
            return kTimeout;
        }
        QString result = FindCPUQX();
        SendIOCommand(false);
        SendX10Command(false);
        SendIRCommands(false);
        SendCommand07();
        gPlugin.LinkStartPoll = true;
        return result;
    } catch (const std::exception& e) {
        gPlugin.InterfaceStatusWord = 2;
        LogControllerError(kType, "cpuqxInitCPUQX Error");
        return "Quillon init error: " + QString::fromLocal8Bit(e.what());
    }
}

QString ControllerStart::FindCPUQX()
{
    TransferBusyScope busy;
    QString result;
    int failures = 0;
    bool parametersRead = false;
    gPlugin.DiscoveryTried = true;
    gPlugin.DiscoveryComplete = false;
    auto timedOut = [&](const QString& text) {
        gPlugin.InterfaceStatusWord = 1;
        // A wait cut short by Exit or its user is no fault of the controller.
        if (!Shutdown::waitsEnding())
            m_link.outage().report(kType, text);
        result = kTimeout;
        ++failures;
    };
    while (failures < 2) {
        m_protocol.SendFrame(Frames::BlockRequest(0x8F, 0xB7));
        if (!m_protocol.WaitReply(gControllerTiming.discoveryReplySeconds, 264, 0x2A)) {
            timedOut("Quillon Plug-in Error, Timeout looking for CPU-QX/Quillon");
            continue;
        }
        gPlugin.VarBlockHigh = gPlugin.ReplyBuffer[6 + 12];
        gPlugin.VarBlockLow = gPlugin.ReplyBuffer[6 + 13];
        gPlugin.VarBlockKnown = true;
        LogControllerError(kType, "Found CPU-QX/Quillon");
        m_protocol.SendFrame(Frames::BlockRequest(0x00, 0x7F));
        if (!m_protocol.WaitReply(gControllerTiming.discoveryReplySeconds, 264, 0x2A)) {
            timedOut("Quillon Plug-in Error, Timeout getting controller parameters");
            continue;
        }
        gPlugin.IRLocationCount = gPlugin.ReplyBuffer[6 + 245] * 256 + gPlugin.ReplyBuffer[6 + 244];
        LogControllerError(kType, "Quillon IR size: " + QString::number(gPlugin.IRLocationCount));
        gPlugin.InterfaceStatusWord = 0;
        parametersRead = true;
        break;
    }
    m_protocol.SendFrame(Frames::BlockRequest(0x01, 0xB0));
    m_protocol.Settle(gControllerTiming.unitTableDelayMs);
    if (m_protocol.WaitReply(gPlugin.ReplyTimeout, 264, 0x2A)) {
        gPlugin.DiscoveryComplete = parametersRead;
        gPlugin.IRZoneModuleCount = 0;
        gPlugin.IRZoneModules.clear();
        for (int k = 0; k < 128; ++k) {
            quint8 t = gPlugin.ReplyBuffer[size_t(6 + k)];
            gPlugin.UnitTypes[size_t(k)] = t;
            const QString addr = QString::number(k + 1);
            switch (t) {
            case 6:
                LogControllerError(kType, "Unit found: SIO16IR Addr: " + addr);
                gPlugin.HasIRZoneModules = true;
                gPlugin.IRZoneModules.append(k + 1);
                ++gPlugin.IRZoneModuleCount;
                WriteCommsLog("UNIT SIO16IR " + QString::number(gPlugin.IRZoneModuleCount));
                break;
            case 11:
                LogControllerError(kType, "Unit found: SIO16 Addr: " + addr);
                WriteCommsLog("UNIT SIO16");
                break;
            case 12:
                LogControllerError(kType, "Unit found: SIO16I Addr: " + addr);
                WriteCommsLog("UNIT SIO16I");
                break;
            case 13:
                LogControllerError(kType, "Unit found: RLY-8 Addr: " + addr);
                WriteCommsLog("UNIT RLY08");
                break;
            default:
                break;
            }
        }
    }
    return result;
}

bool ControllerStart::sideCommand(const QByteArray& frame, int timeoutSeconds, bool needsComms)
{
    TransferBusyScope busy;
    if (needsComms && !gPlugin.CommsStarted)
        return false;
    if (!gPlugin.PortOpenFlag)
        return false; // no reply can come on a closed link
    m_protocol.SendFrame(frame);
    return m_protocol.WaitReply(timeoutSeconds, 3, 0);
}

void ControllerStart::SendIOCommand(bool enable)
{
    // Sent before communications are marked started, but only on an open link.
    sideCommand(Frames::Command(0x28, 0x10, 0, enable ? 2 : 0), gPlugin.ReplyTimeout, false);
}

void ControllerStart::SendX10Command(bool enable)
{
    sideCommand(Frames::Command(0x28, 0x0F, 0, enable ? 1 : 0), gPlugin.ReplyTimeout, true);
}

void ControllerStart::SendIRCommands(bool enable)
{
    if (!gPlugin.CommsStarted)
        return;
    sideCommand(Frames::Command(0x28, 0x11, 0, enable ? 1 : 0), gPlugin.ReplyTimeout, true);
    sideCommand(Frames::Command(0x28, 0x12), gPlugin.ReplyTimeout, true);
}

void ControllerStart::SendCommand07()
{
    sideCommand(Frames::Command(0x28, 0x07), 4, true);
}

QString ControllerStart::StartX10(const QString& port)
{
    gPlugin.CommPort = port;
    QString result = InitCPUQX();
    if (InitPlugin)
        InitPlugin();
    SendX10Command(true);
    gPlugin.X10Started = true;
    return result;
}

QString ControllerStart::StartIO(const QString&)
{
    if (EnablePollTimer)
        EnablePollTimer(false);
    QString result = InitCPUQX();
    gPlugin.IOInitialised = true;
    if (InitPlugin)
        InitPlugin();
    SendIOCommand(true);
    if (EnablePollTimer)
        EnablePollTimer(true);
    return result;
}

bool ControllerStart::recognitionOn() const
{
    const QString recognition = GetPluginSetting ? GetPluginSetting("Recognition", "0") : QString("0");
    return recognition.trimmed().compare("true", Qt::CaseInsensitive) == 0 || recognition.trimmed().toInt() != 0;
}

QString ControllerStart::StartIR(const QString&)
{
    QString result = InitCPUQX();
    if (InitPlugin)
        InitPlugin();
    gPlugin.IRInitialised = true;
    SendIRCommands(!recognitionOn());
    if (ReadIRFiles)
        ReadIRFiles();
    return result;
}

void ControllerStart::StartCommunications()
{
    // The sides started below share one attempt at opening the link.
    m_oneStart = true;
    m_openRefused = false;
    gPlugin.ProjectMapTried = false; // a new start reads it again, once
    struct Done
    {
        ControllerStart& s;
        ~Done() { s.m_oneStart = s.m_openRefused = false; }
    } done{*this};
    try {
        if (gPlugin.IREnabled)
            StartIR(gPlugin.CommPort);
        if (gPlugin.IOEnabled)
            StartIO(gPlugin.CommPort);
        if (gPlugin.X10Started)
            StartX10(gPlugin.CommPort);
    } catch (const std::exception& e) {
        LogControllerError(kType, "StartCommunications Error " + QString::fromLocal8Bit(e.what()));
    }
}

void ControllerStart::Rediscover()
{
    if (gPlugin.DiscoveryComplete || !gPlugin.DiscoveryTried || !gPlugin.CommsStarted || m_rediscovering)
        return;
    if (gPlugin.TransferBusy || gPlugin.X10Sending || gPlugin.TimerRunning) {
        m_rediscoverRetry.start(); // an exchange owns the link: look again shortly
        return;
    }
    gPlugin.TimerRunning = true; // the report loop and the poll stay out meanwhile
    rediscoverNow();
    gPlugin.TimerRunning = false;
}

void ControllerStart::ProbeController()
{
    if (gPlugin.DiscoveryComplete || !gPlugin.DiscoveryTried || !gPlugin.CommsStarted || m_rediscovering)
        return;
    // The period runs from the end of the last look, so a silent controller
    // leaves the link free most of the time.
    if (m_lastProbe.isValid() && m_lastProbe.elapsed() < gControllerTiming.rediscoveryProbeMs)
        return;
    bool answered = false;
    {
        TransferBusyScope busy;
        m_protocol.SendFrame(Frames::BlockRequest(0x8F, 0xB7));
        answered = m_protocol.WaitReply(gControllerTiming.discoveryReplySeconds, 264, 0x2A);
    }
    m_lastProbe.start();
    if (answered)
        rediscoverNow();
}

void ControllerStart::rediscoverNow()
{
    m_rediscovering = true;
    LogControllerError(kType, "Looking for CPU-QX/Quillon again");
    // Its time-outs are the outage's: its result, said again once the
    // controller is back, would read as another outage.
    FindCPUQX();
    SendIOCommand(false);
    SendX10Command(false);
    SendIRCommands(false);
    SendCommand07();
    // Each side that was started is switched on again, as its start did.
    if (gPlugin.IRInitialised)
        SendIRCommands(!recognitionOn());
    if (gPlugin.IOInitialised)
        SendIOCommand(true);
    if (gPlugin.X10Started)
        SendX10Command(true);
    gPlugin.LinkStartPoll = true;
    m_rediscovering = false;
}

void ControllerStart::SyncClock()
{
    if (!m_clockSync.isActive())
        m_clockSync.start(gControllerTiming.clockSyncDelayMs);
}

QByteArray ControllerStart::ClockFrame(const QDateTime& now)
{
    const QString s = now.toString("yyyyMMddHHmmss");
    QByteArray content(47, '\0');
    for (int i = 0; i < 12; ++i)
        content[i] = char(s.at(13 - i).digitValue());
    content[12] = char(now.date().dayOfWeek() % 7); // Sunday is 0
    return Frames::LongFrame(0x3D, content);
}

void ControllerStart::SetClock()
{
    // An X10 sequence in progress owns the line as much as a command does.
    if (gPlugin.TransferBusy || gPlugin.X10Sending) {
        SyncClock();
        return;
    }
    TransferBusyScope busy;
    if (!gPlugin.CommsStarted)
        return;
    m_protocol.SendFrame(ClockFrame(QDateTime::currentDateTime()));
    m_protocol.WaitReply(gPlugin.ReplyTimeout, 3, 0x06);
}
